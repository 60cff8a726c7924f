#include "report/html_writer.h"

#include <cstdio>

namespace norvale {
namespace {
constexpr std::size_t kFlushBytes = 1 << 16;
constexpr char16_t kReplacement = 0xFFFD;

void put16(std::vector<std::uint8_t>& out, char16_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}
}  // namespace

void appendUtf16le(std::vector<std::uint8_t>& out, std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<std::uint8_t>(s[i]);
    if (b0 < 0x80) {
      put16(out, b0);
      ++i;
      continue;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
      length = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      length = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      length = 4, cp = b0 & 0x07, minimum = 0x10000;
    }
    bool valid = length > 0 && i + static_cast<std::size_t>(length) <= s.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto b = static_cast<std::uint8_t>(s[i + static_cast<std::size_t>(k)]);
      valid = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    valid = valid && cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!valid) {
      put16(out, kReplacement);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put16(out, static_cast<char16_t>(0xD800 + (cp >> 10)));
      put16(out, static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      put16(out, static_cast<char16_t>(cp));
    }
    i += static_cast<std::size_t>(length);
  }
}

std::string htmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

HtmlWriter::~HtmlWriter() { m_file.close(); }

Result<void> HtmlWriter::open(const std::string& path) {
  m_file.close();
  m_written = 0;
  m_pending.clear();
  m_failure.reset();
  m_columns = 0;
  m_cells.clear();
  if (auto opened = m_file.open(path, TaskFileMode::Create); !opened) return opened;
  m_pending.push_back(0xFF);
  m_pending.push_back(0xFE);
  write("<!DOCTYPE HTML PUBLIC -//W3C//DTD HTML 3.2//EN>\n<HTML>\n<HEAD>\n <TITLE>Norvale日志报告</TITLE>\n</HEAD>\n"
        "<BODY BACKCOLOR=\"#FFFFFF\" TEXT=\"#000000\">\n");
  return {};
}

void HtmlWriter::beginTable(int columns, std::string_view caption, int border, int width, std::string_view alignment) {
  if (m_columns > 0) write("</TABLE><br>\n");
  std::string head = "<TABLE WIDTH=\"" + std::to_string(width) + "%\" BORDER=" + std::to_string(border) +
                     " CELLSPACING=\"0\" ALIGN=\"" + std::string(alignment) + "\">\n<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">" +
                     std::string(caption) + "</FONT></CAPTION>\n";
  write(head);
  m_columns = columns;
  m_cells.clear();
}

void HtmlWriter::addCell(int column, std::string_view text) {
  if (column < 0 || column >= m_columns) return;
  m_cells.emplace_back(text);
}

void HtmlWriter::endRow(bool header) {
  std::string row = "<TR ALIGN=\"LEFT\">";
  for (const auto& cell : m_cells) {
    row += header ? "<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">" : "<TD BGCOLOR=\"#FFFFFF\">";
    row += htmlText(cell);
  }
  row += "\n";
  write(row);
  m_cells.clear();
}

Result<void> HtmlWriter::close() {
  if (!m_file.isOpen()) return m_failure ? Result<void>(std::unexpected(*m_failure)) : Result<void>{};
  write("</TABLE>\n</BODY>\n</HTML>");
  flush();
  m_file.close();
  m_columns = 0;
  m_cells.clear();
  if (m_failure) return std::unexpected(*m_failure);
  return {};
}

void HtmlWriter::write(std::string_view utf8) {
  appendUtf16le(m_pending, utf8);
  if (m_pending.size() >= kFlushBytes) flush();
}

void HtmlWriter::flush() {
  if (m_pending.empty() || !m_file.isOpen()) return;
  if (!m_failure) {
    if (auto put = m_file.writeAt(m_written, m_pending); !put)
      m_failure = put.error();
    else
      m_written += m_pending.size();
  }
  m_pending.clear();
}

}  // namespace norvale
