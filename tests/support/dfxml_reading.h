#pragma once
// Reads a report.dfxml back with libxml2, for the tests: the elements as a reader of the format
// sees them (namespace and local name), and what checking the byte runs needs.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvale::test {

struct ReadByteRun {
  std::optional<std::uint64_t> fileOffset, imageOffset, length;
  std::string fill;  // empty when absent
};

struct ReadFileObject {
  std::vector<std::string> children;  // "dfxml:name" or "norvale:name", in document order
  std::string filename, id, sha256, derivedFrom;
  std::uint64_t filesize = 0;
  bool hasByteRuns = false;
  std::vector<ReadByteRun> runs;
};

struct ReadDfxml {
  bool parsed = false;
  std::string error;
  std::string rootName, rootNamespace, version;
  std::vector<std::string> rootChildren;  // qualified as above; "dc:..." for Dublin Core
  std::vector<std::string> creatorChildren, executionChildren;
  std::string dcType, program, programVersion, commandLine, startTime;
  std::vector<std::string> imageFilenames;
  std::vector<ReadFileObject> files;
};

ReadDfxml readDfxml(const std::string& text);
ReadDfxml readDfxmlFile(const std::string& path);

// The bytes the runs name: each run with an image offset read from image, each fill run as
// zeros. Empty optional when a run is malformed or reaches past the image.
std::optional<std::vector<std::uint8_t>> bytesOfRuns(const ReadFileObject& file, const std::vector<std::uint8_t>& image);

}  // namespace norvale::test
