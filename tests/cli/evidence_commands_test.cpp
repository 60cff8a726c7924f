// The commands on split and EWF images: scan, files and export give what the raw image gives,
// devices shows the evidence, verify confirms or refuses the stored hashes.
#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <sstream>

#include "cli/command_run.h"
#include "cli/commands.h"
#include "cli/devices_command.h"
#include "storage/evidence_sets.h"
#include "storage/evidence_source.h"
#include "storage/media_digest.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

using Run = test::CommandRun;
using test::run;

// Every file under a folder: relative path -> bytes.
std::map<std::string, std::vector<std::uint8_t>> tree(const std::string& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    // The export's checksum manifest and its report.dfxml (which names the source and the
    // command) are checked on their own in tests/export and tests/cli/dfxml_commands_test.cpp.
    if (e.is_regular_file() && e.path().filename() != "SHA256SUMS" && e.path().filename() != "report.dfxml")
      files[fs::relative(e.path(), folder).string()] = test::readFile(e.path().string());
  return files;
}

struct Listing {
  std::string files;  // files --json
  std::map<std::string, std::vector<std::uint8_t>> exported;
  int exportStatus = -1;
  std::string exportJson;
};

Listing scanAndExport(const TempDir& dir, const std::string& source, const std::string& name,
                      const std::string& exportFrom = "") {
  const std::string task = dir.file("task-" + name), out = dir.file("out-" + name);
  Listing l;
  const auto scan = run(cli::runScanCommand, {"scan", "--source", source, "--brand", "18", "--mode", "deep", "--task",
                                              task, "--quiet"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  l.files = run(cli::runFilesCommand, {"files", "--task", task, "--json"}).out;
  const auto exported = run(cli::runExportCommand, {"export", "--task", task, "--source",
                                                    exportFrom.empty() ? source : exportFrom, "--out", out, "--json",
                                                    "--quiet"});
  l.exportStatus = exported.status;
  l.exportJson = exported.out;
  l.exported = tree(out);
  return l;
}

struct Sample {
  TempDir dir;
  std::string raw = test::writeSample(dir);
  std::vector<std::uint8_t> image = test::readFile(raw);
  EvidenceInfo truth = [&] {
    MemorySource memory(image);
    auto d = digestMedia(memory);
    EvidenceInfo info;
    info.md5 = d->md5;
    info.sha1 = d->sha1;
    return info;
  }();
};

TEST(EvidenceCommands, ScanFilesAndExportThroughEveryKindGiveTheRawImagesResult) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  Sample s;
  const Listing raw = scanAndExport(s.dir, s.raw, "raw");
  ASSERT_EQ(std::regex_search(raw.files, std::regex("\"index\": 24,")), true) << raw.files;
  ASSERT_EQ(raw.exported.size(), 24u);
  const std::pair<std::string, std::string> sources[] = {
      {"e01", test::makeEwfSet(s.raw, s.dir.file("plain"), "none")},
      {"e01-deflate", test::makeEwfSet(s.raw, s.dir.file("packed"), "deflate:fast", false)},
      {"split", test::splitImage(s.raw, s.dir.file("split"), 1'000'000)},
      {"letters", test::splitImage(s.raw, s.dir.file("letters"), 700'000, true)}};
  for (const auto& [name, source] : sources) {
    const Listing got = scanAndExport(s.dir, source, name);
    EXPECT_EQ(got.files, raw.files) << name;
    EXPECT_EQ(got.exportStatus, 0) << name;
    EXPECT_TRUE(got.exported == raw.exported) << name;
  }
}

TEST(EvidenceCommands, ExportFromADamagedSetZeroesAndReportsOnlyTheDamagedChunk) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  Sample s;
  const Listing raw = scanAndExport(s.dir, s.raw, "raw");
  const auto set = test::makeEwfSet(s.raw, s.dir.file("damaged"), "none");
  const std::uint64_t chunk = test::damageChunk(set, s.image, 600'000);
  const Listing got = scanAndExport(s.dir, s.raw, "damaged", set);
  EXPECT_EQ(got.exportStatus, 1);
  // The chunk holds packets of several files: those are written with the chunk's bytes zeroed
  // (8 KiB at most between them, as reported), every other file is whole.
  std::uint64_t reported = 0;
  const std::regex unreadable("\"unreadable_bytes\": (\\d+)");
  for (std::sregex_iterator it(got.exportJson.begin(), got.exportJson.end(), unreadable), end; it != end; ++it)
    reported += std::stoull((*it)[1]);
  std::uint64_t zeroed = 0;
  int incomplete = 0;
  for (const auto& [path, bytes] : got.exported) {
    if (raw.exported.count(path)) {
      EXPECT_TRUE(bytes == raw.exported.at(path)) << path;
      continue;
    }
    ++incomplete;
    const auto whole = raw.exported.find(std::regex_replace(path, std::regex("\\.incomplete"), ""));
    ASSERT_NE(whole, raw.exported.end()) << path;
    ASSERT_EQ(bytes.size(), whole->second.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == whole->second[i]) continue;
      EXPECT_EQ(bytes[i], 0) << path << " byte " << i;
      ++zeroed;
    }
  }
  EXPECT_GE(incomplete, 1) << "chunk at " << chunk;
  EXPECT_EQ(got.exported.size(), raw.exported.size());
  EXPECT_GT(zeroed, 0u);
  EXPECT_LE(zeroed, reported);
  EXPECT_LE(reported, test::kEwfChunk);
}

TEST(EvidenceCommands, DevicesShowsWhatTheImageIs) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  Sample s;
  const auto set = test::makeEwfSet(s.raw, s.dir.file("plain"), "none");
  const auto split = test::splitImage(s.raw, s.dir.file("split"), 1'000'000);
  const auto date = probeEvidence(set).value_or(EvidenceInfo{}).acquisitionDate;
  ASSERT_FALSE(date.empty());
  const auto json = run(runDevicesCommand, {"devices", "--json", "--image", set, "--image", split, "--image", s.raw});
  EXPECT_EQ(json.status, 0) << json.err;
  const std::string ewf =
      "    \"size\": 2535424,\n"
      "    \"signature_brand\": 0,\n"
      "    \"partitions\": [],\n"
      "    \"evidence\": {\n"
      "      \"kind\": \"ewf\",\n"
      "      \"segments\": 3,\n"
      "      \"media_size\": 2535424,\n"
      "      \"md5\": \"" + s.truth.md5 + "\",\n"
      "      \"sha1\": \"" + s.truth.sha1 + "\",\n"
      "      \"case_number\": \"case 7\",\n"
      "      \"evidence_number\": \"ev-42\",\n"
      "      \"examiner\": \"examiner one\",\n"
      "      \"description\": \"recorder disk\",\n"
      "      \"notes\": \"seized 2016\",\n"
      "      \"acquisition_date\": \"" + date + "\",\n"
      "      \"incomplete\": false\n"
      "    }\n";
  EXPECT_NE(json.out.find(ewf), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"evidence\": {\n      \"kind\": \"split\",\n      \"segments\": 3,\n"
                          "      \"media_size\": 2535424\n    }"), std::string::npos) << json.out;
  // Three images, two evidence objects: the raw image has none.
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '{'), 5) << json.out;

  const auto text = run(runDevicesCommand, {"devices", "--image", set});
  EXPECT_NE(text.out.find("\n  evidence: ewf, 3 segments, 2535424 bytes, MD5 " + s.truth.md5 + ", SHA1 " +
                          s.truth.sha1 + "\n  case: case 7  evidence number: ev-42  examiner: examiner one  "
                          "description: recorder disk  notes: seized 2016  acquired: " + date + "\n"),
            std::string::npos) << text.out;
}

TEST(EvidenceCommands, VerifyConfirmsOrRefusesTheStoredHashes) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  Sample s;
  const auto verify = [](const std::string& source) { return run(cli::runVerifyCommand, {"verify", "--source", source}); };
  const auto set = test::makeEwfSet(s.raw, s.dir.file("plain"), "none");
  auto ok = verify(set);
  EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
  EXPECT_NE(ok.out.find("MD5\t" + s.truth.md5 + "\tmatches the stored hash\nSHA1\t" + s.truth.sha1 +
                        "\tmatches the stored hash\nverified: every stored hash matches\n"), std::string::npos) << ok.out;
  EXPECT_NE(ok.err.find("大小: "), std::string::npos) << "progress on stderr: " << ok.err;

  auto md5Only = verify(test::makeEwfSet(s.raw, s.dir.file("packed"), "deflate:fast", false));
  EXPECT_EQ(md5Only.status, 0) << md5Only.out;
  EXPECT_NE(md5Only.out.find("SHA1\t" + s.truth.sha1 + "\nverified"), std::string::npos) << md5Only.out;

  for (const auto& plain : {s.raw, test::splitImage(s.raw, s.dir.file("split"), 1'000'000)}) {
    auto r = verify(plain);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("MD5\t" + s.truth.md5 + "\nSHA1\t" + s.truth.sha1 + "\nno stored hash to compare"),
              std::string::npos) << r.out;
  }

  // Tampered: the chunk's own checksum fits the changed data, only the stored hash tells.
  const auto tampered = test::makeEwfSet(s.raw, s.dir.file("tampered"), "none");
  test::damageChunk(tampered, s.image, 1'500'000, true);
  auto mismatch = verify(tampered);
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.out.find("DOES NOT MATCH the stored " + s.truth.md5), std::string::npos) << mismatch.out;

  const auto damaged = test::makeEwfSet(s.raw, s.dir.file("damaged"), "none");
  const std::uint64_t chunk = test::damageChunk(damaged, s.image, 1'500'000);
  auto unreadable = verify(damaged);
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_NE(unreadable.out.find("unreadable: 8192 bytes at offset " + std::to_string(chunk) + " (sector " +
                                std::to_string(chunk / 512) + ")"), std::string::npos) << unreadable.out;
  EXPECT_NE(unreadable.out.find("NOT verified\n"), std::string::npos);

  fs::remove(s.dir.file("plain.E03"));
  auto incomplete = verify(set);
  EXPECT_EQ(incomplete.status, 1) << incomplete.out;
  EXPECT_NE(incomplete.out.find("INCOMPLETE"), std::string::npos) << incomplete.out;

  EXPECT_EQ(verify(s.dir.file("missing.E01")).status, 1);
  EXPECT_EQ(run(cli::runVerifyCommand, {"verify"}).status, 2);
  EXPECT_EQ(run(cli::runVerifyCommand, {"verify", "--source", set, "--md5"}).status, 2);
}

}  // namespace
}  // namespace norvale
