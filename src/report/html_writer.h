#pragma once
// The HTML writer of the log report: UTF-16LE text with a byte-order mark, tables whose rows
// are single lines of cells without end tags.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "task/task_file.h"

namespace norvale {

// Appends the UTF-16LE form of UTF-8 text; each byte that is not part of a valid sequence
// becomes U+FFFD.
void appendUtf16le(std::vector<std::uint8_t>& out, std::string_view utf8);

// Cell text as HTML text: &, <, > and " are written as entities, so names read from a source
// cannot add markup to the report.
std::string htmlText(std::string_view text);

class HtmlWriter {
 public:
  HtmlWriter() = default;
  ~HtmlWriter();
  HtmlWriter(const HtmlWriter&) = delete;
  HtmlWriter& operator=(const HtmlWriter&) = delete;

  // Creates the file anew (an existing one is emptied) and held exclusively, then writes the
  // byte-order mark and the document head.
  Result<void> open(const std::string& path);
  // Closes the open table, if any, and opens one with a caption.
  void beginTable(int columns, std::string_view caption, int border = 1, int width = 100,
                  std::string_view alignment = "LEFT");
  // Cells at or past the table's column count are dropped.
  void addCell(int column, std::string_view text);
  // Writes the row built so far as one line of header or data cells and starts a new one.
  void endRow(bool header);
  // Writes the document end and closes the file; the first write failure, if any.
  Result<void> close();
  bool isOpen() const { return m_file.isOpen(); }

 private:
  void write(std::string_view utf8);
  void flush();

  TaskFile m_file;
  std::uint64_t m_written = 0;
  std::vector<std::uint8_t> m_pending;
  std::optional<Error> m_failure;
  int m_columns = 0;
  std::vector<std::string> m_cells;
};

}  // namespace norvale
