#include "cli/devices_json.h"

#include <cstdio>

namespace norvale::cli {
namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one.
std::size_t utf8Sequence(std::string_view text, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(i);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
  else return 0;
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
      continue;
    }
    const std::size_t n = utf8Sequence(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++i;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  out += '"';
  return out;
}

void JsonWriter::newline() {
  m_out += '\n';
  m_out.append(2 * m_levels.size(), ' ');
}

void JsonWriter::beforeValue() {
  if (m_afterKey) {
    m_afterKey = false;
    return;
  }
  if (!m_levels.empty()) {
    if (!m_levels.back().empty) m_out += ',';
    m_levels.back().empty = false;
    newline();
  }
}

void JsonWriter::beginObject() {
  beforeValue();
  m_out += '{';
  m_levels.push_back({});
}

void JsonWriter::beginArray() {
  beforeValue();
  m_out += '[';
  m_levels.push_back({});
}

void JsonWriter::close(char bracket) {
  const bool empty = m_levels.back().empty;
  m_levels.pop_back();
  if (!empty) newline();
  m_out += bracket;
  if (m_levels.empty()) m_out += '\n';
}

void JsonWriter::endObject() { close('}'); }
void JsonWriter::endArray() { close(']'); }

void JsonWriter::key(std::string_view name) {
  beforeValue();
  m_out += jsonString(name);
  m_out += ": ";
  m_afterKey = true;
}

void JsonWriter::value(std::string_view text) {
  beforeValue();
  m_out += jsonString(text);
}

void JsonWriter::value(std::uint64_t number) {
  beforeValue();
  m_out += std::to_string(number);
}

void JsonWriter::value(bool flag) {
  beforeValue();
  m_out += flag ? "true" : "false";
}

void JsonWriter::value(std::int64_t number) {
  beforeValue();
  m_out += std::to_string(number);
}

}  // namespace norvale::cli
