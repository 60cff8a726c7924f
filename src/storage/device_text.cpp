#include "storage/device_text.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/byte_reader.h"

namespace norvale {
namespace {

bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isPrintable(unsigned char c) { return c >= 0x20 && c < 0x7F; }
int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string trimText(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && isSpace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && isSpace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

std::string removeSpaces(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && out.size() < 255) out += c;
  return out;
}

std::string joinModelText(std::string_view vendor, std::string_view product, std::string_view revision) {
  return trimText(vendor) + trimText(product) + trimText(revision);
}

std::string decodeDescriptorText(std::span<const std::uint8_t> descriptor, std::uint32_t offset) {
  if (offset == 0 || offset >= descriptor.size()) return {};
  const auto rest = descriptor.subspan(offset);
  const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  const bool terminated = end != rest.end();
  const std::size_t length = static_cast<std::size_t>(end - rest.begin());

  // First as hex digit pairs.
  std::string decoded;
  bool hexOk = length % 2 == 0;
  for (std::size_t i = 0; hexOk && i + 1 < length; i += 2) {
    auto digit = [](std::uint8_t c) {
      const unsigned char l = c == ' ' ? '0' : static_cast<unsigned char>(std::tolower(c));
      return hexValue(l);
    };
    const int hi = digit(rest[i]), lo = digit(rest[i + 1]);
    if (hi < 0 || lo < 0) {
      hexOk = false;
      break;
    }
    const auto v = static_cast<unsigned char>(hi * 16 + lo);
    if (v == 0) continue;
    if (!isPrintable(v)) {
      hexOk = false;
      break;
    }
    decoded += static_cast<char>(v);
  }
  if (hexOk) return trimText(decoded);

  // Otherwise the plain printable characters up to the terminating 0.
  if (!terminated) return {};
  std::string plain;
  for (std::size_t i = 0; i < length; ++i)
    if (isPrintable(rest[i])) plain += static_cast<char>(rest[i]);
  return trimText(plain);
}

namespace {

// ATA IDENTIFY data: the serial number is words 10..19, each word's two bytes swapped.
namespace ata_identify {
constexpr std::size_t kSerialFirstWord = 10;
constexpr std::size_t kSerialEndWord = 20;
}  // namespace ata_identify

// A SCSI VPD page: its code at byte 1, the big-endian length of its data at 2, the data from 4.
namespace vpd_page {
constexpr std::size_t kCodeAt = 1;
constexpr std::size_t kLengthAt = 2;
constexpr std::size_t kDataAt = 4;
constexpr std::uint8_t kUnitSerialNumber = 0x80;
}  // namespace vpd_page

}  // namespace

std::string ataIdentifySerial(std::span<const std::uint8_t> identify) {
  using namespace ata_identify;
  if (identify.size() < 2 * kSerialEndWord) return {};
  std::string serial;
  for (std::size_t word = kSerialFirstWord; word < kSerialEndWord; ++word) {
    serial += static_cast<char>(identify[2 * word + 1]);
    serial += static_cast<char>(identify[2 * word]);
  }
  while (!serial.empty() && (serial.back() == ' ' || serial.back() == '\0')) serial.pop_back();
  serial.erase(std::remove(serial.begin(), serial.end(), '\0'), serial.end());
  return serial;
}

std::string scsiUnitSerial(std::span<const std::uint8_t> page) {
  using namespace vpd_page;
  const ByteReader r(page);
  const auto length = r.u16be(kLengthAt);
  if (!r.has(0, kDataAt) || r.u8(kCodeAt) != kUnitSerialNumber || !length) return {};
  const auto data = page.subspan(kDataAt, std::min<std::size_t>(*length, page.size() - kDataAt));
  std::string serial;
  for (const std::uint8_t c : data)
    if (isPrintable(c)) serial += static_cast<char>(c);
  return trimText(serial);
}

namespace {

std::string unescapeMountField(std::string_view field) {
  // The kernel writes space, tab, newline and backslash as \ooo (three octal digits).
  const auto octal = [&](std::size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += field[i];
  }
  return out;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    // mount-id parent-id major:minor root mount-point options ...
    std::istringstream fields(line);
    std::string id, parent, devno, root, point;
    if (!(fields >> id >> parent >> devno >> root >> point)) continue;
    const auto colon = devno.find(':');
    if (colon == std::string::npos) continue;
    MountEntry e;
    try {
      std::size_t used = 0;
      e.major = static_cast<unsigned>(std::stoul(devno.substr(0, colon), &used));
      e.minor = static_cast<unsigned>(std::stoul(devno.substr(colon + 1), &used));
    } catch (...) {
      continue;
    }
    e.root = unescapeMountField(root);
    e.mountPoint = unescapeMountField(point);
    entries.push_back(std::move(e));
  }
  return entries;
}

bool naturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])), db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string_view na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      while (na.size() > 1 && na[0] == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb[0] == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace norvale
