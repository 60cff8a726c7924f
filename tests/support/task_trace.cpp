#include "support/task_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "support/test_support.h"

namespace norvale::test {
namespace {

std::uint64_t fnv1a(const void* data, std::size_t n, std::uint64_t h = 1469598103934665603ull) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

std::string fileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "absent";
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ostringstream out;
  out << bytes.size() << ':' << std::hex << fnv1a(bytes.data(), bytes.size());
  return out.str();
}

}  // namespace

void traceTask(const std::string& what, const std::string& taskFolder, const ScanOutcome& outcome) {
  const char* path = std::getenv("NORVALE_TASK_TRACE");
  if (!path || !*path) return;
  // Tests of one suite may trace several tasks; the count keeps their lines apart.
  static std::map<std::string, int> counts;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "?";
  std::ostringstream line;
  line << test << '#' << counts[test]++ << ' ' << what << " ok=" << outcome.ok << " end=" << outcome.endSector;
  for (int n = 1; n <= 4; ++n)
    line << " A" << n << '=' << fileDigest(taskFolder + "/Attr00" + std::to_string(n) + ".map");
  std::uint64_t h = 1469598103934665603ull;  // the error text names temporary folders
  for (std::size_t i = 0; i < outcome.files.size(); ++i) {
    const FileEntry& f = outcome.files[i];
    const std::uint64_t fields[] = {outcome.keys[i], f.channel, f.startTime, f.endTime, f.size, f.firstRecord,
                                    f.recordBytes};
    h = fnv1a(fields, sizeof fields, h);
    h = fnv1a(outcome.bytes[i].data(), outcome.bytes[i].size(), h);
  }
  line << " files=" << outcome.files.size() << ':' << std::hex << h << std::dec;
  std::uint64_t s = 1469598103934665603ull;
  for (const auto& st : outcome.statuses) {
    const std::int64_t fields[] = {static_cast<std::int64_t>(st.code), st.value,
                                   static_cast<std::int64_t>(st.currentSector),
                                   static_cast<std::int64_t>(st.foundBytes), static_cast<std::int64_t>(st.foundCount)};
    s = fnv1a(fields, sizeof fields, s);
    s = fnv1a(st.message.data(), st.message.size(), s);
  }
  line << " statuses=" << outcome.statuses.size() << ':' << std::hex << s << '\n';
  if (FILE* f = std::fopen(path, "a")) {
    const std::string text = line.str();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

}  // namespace norvale::test
