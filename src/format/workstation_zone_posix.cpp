#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "format/time_zone.h"

namespace norvale {
namespace {

// The part of a path after its last "zoneinfo/" folder: how the database names the zone.
std::string afterZoneinfo(const std::string& path) {
  static constexpr std::string_view kFolder = "zoneinfo/";
  const auto at = path.rfind(kFolder);
  return at == std::string::npos ? std::string() : path.substr(at + kFolder.size());
}

// The name when it is one the zone database knows, else empty.
std::string known(std::string name) {
  return isZoneName(name) && TimeZone::named(name) ? name : std::string();
}

}  // namespace

std::string workstationZoneName() {
  if (const char* tz = std::getenv("TZ")) {
    std::string value = tz;
    if (!value.empty() && value.front() == ':') value.erase(0, 1);
    // A path names its zone by its place in a zone database; anything else must be a zone name
    // itself. A POSIX rule string ("CST-8") has no name: the C library's reading stays in force.
    return known(!value.empty() && value.front() == '/' ? afterZoneinfo(value) : value);
  }
  std::error_code ec;
  const auto target = std::filesystem::read_symlink("/etc/localtime", ec);
  if (!ec)
    if (auto name = known(afterZoneinfo(target.string())); !name.empty()) return name;
  std::ifstream file("/etc/timezone");
  std::string line;
  if (file && std::getline(file, line)) return known(line);
  return {};
}

}  // namespace norvale
