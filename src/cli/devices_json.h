#pragma once
// A small JSON writer for `norvale-cli devices --json`: strings escaped, invalid UTF-8 replaced by
// U+FFFD so that the output is always valid JSON, two-space indentation.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvale::cli {

// The text as a quoted JSON string.
std::string jsonString(std::string_view text);

class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // The key of the next value inside an object.
  void key(std::string_view name);
  void value(std::string_view text);
  void value(const char* text) { value(std::string_view(text)); }
  void value(std::uint64_t number);
  void value(std::int64_t number);
  void value(int number) { value(static_cast<std::int64_t>(number)); }
  void value(std::uint32_t number) { value(static_cast<std::uint64_t>(number)); }
  void value(bool flag);
  // The document written so far, with a final newline once the outermost value is closed.
  const std::string& text() const { return m_out; }

 private:
  void beforeValue();
  void newline();
  void close(char bracket);

  struct Level {
    bool empty = true;
  };
  std::string m_out;
  std::vector<Level> m_levels;
  bool m_afterKey = false;
};

}  // namespace norvale::cli
