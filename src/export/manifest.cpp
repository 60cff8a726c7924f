#include "export/manifest.h"

#include "task/partial_file.h"

#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace norvale {
namespace fs = std::filesystem;

std::string sha256OfFile(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) return {};
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    EVP_DigestUpdate(ctx, buf.data(), static_cast<std::size_t>(in.gcount()));
  }
  const bool ok = in.eof();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx, digest, &length);
  EVP_MD_CTX_free(ctx);
  if (!ok) return {};
  return hexDigits(digest, length);
}

std::string hexDigits(const unsigned char* bytes, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
  }
  return out;
}

std::string manifestPath(const std::string& folder, const std::string& file) {
  std::error_code ec;
  fs::path relative = fs::relative(fs::u8path(file), fs::u8path(folder), ec);
  if (ec || relative.empty()) relative = fs::u8path(file);
  return relative.generic_string();
}

std::vector<ManifestLine> readManifest(const std::string& folder) {
  std::vector<ManifestLine> lines;
  std::ifstream in(fs::u8path(folder) / kManifestName);
  std::string line;
  while (std::getline(in, line)) {
    // "<64 hex>  <path>" (a '*' instead of the second space marks binary mode)
    if (line.size() < 67 || (line[64] != ' ') || (line[65] != ' ' && line[65] != '*')) continue;
    if (line.find_first_not_of("0123456789abcdef") < 64) continue;
    lines.push_back({line.substr(0, 64), line.substr(66)});
  }
  return lines;
}

Result<void> updateManifest(const std::string& folder, const std::vector<ManifestLine>& thisRun, FileFaults* faults) {
  const fs::path root = fs::u8path(folder);
  std::map<std::string, std::string> lines;
  for (const auto& old : readManifest(folder)) {
    std::error_code ec;
    if (fs::is_regular_file(root / fs::u8path(old.path), ec)) lines[old.path] = old.sha256;
  }
  for (const auto& line : thisRun) {
    std::string sha = line.sha256;
    if (sha.empty()) {
      auto it = lines.find(line.path);
      sha = it != lines.end() ? it->second : sha256OfFile((root / fs::u8path(line.path)).string());
    }
    if (sha.empty()) continue;  // unreadable: no line rather than a wrong one
    lines[line.path] = sha;
  }
  const fs::path target = root / kManifestName;
  std::error_code exists;
  if (lines.empty() && !fs::exists(target, exists)) return {};  // nothing written, nothing to list
  std::string text;
  for (const auto& [path, sha] : lines) text += sha + "  " + path + "\n";
  PartialFile out(faults);
  if (auto created = out.create(target); !created) return created;
  if (auto written = out.write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())); !written)
    return written;
  return out.commit(target);
}

}  // namespace norvale
