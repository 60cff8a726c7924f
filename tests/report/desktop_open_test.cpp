#include "report/desktop_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

namespace norvale {
namespace {

#ifndef _WIN32
TEST(LaunchDetached, RunsTheProgramWithItsArgumentsWithoutWaiting) {
  test::TempDir dir;
  const std::string marker = dir.file("opened"), go = dir.file("go");
  // The program writes its marker only once the test lets it (or after 10 s): a launch that
  // waited for it would return with the marker already written.
  auto launched = launchDetached(
      "sh", {"-c", "for i in $(seq 100); do [ -e \"$2\" ] && break; sleep 0.1; done; echo \"$0\" > \"$1\"",
             "report.html", marker, go});
  ASSERT_TRUE(launched.has_value()) << launched.error().message;
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the launch waited for the program";
  test::writeFile(go, {});
  for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(test::readFile(marker), (std::vector<std::uint8_t>{'r', 'e', 'p', 'o', 'r', 't', '.', 'h', 't', 'm', 'l', '\n'}));
}

TEST(LaunchDetached, MissingProgramIsAnError) {
  auto launched = launchDetached("norvale-no-such-program", {"x"});
  ASSERT_FALSE(launched.has_value());
  EXPECT_NE(launched.error().message.find("norvale-no-such-program"), std::string::npos);
  EXPECT_FALSE(launchDetached("/nonexistent/opener", {}).has_value());
}

TEST(LaunchDetached, ProgramThatCannotBeExecutedIsAnError) {
  test::TempDir dir;
  const std::string script = dir.file("opener");
  test::writeFile(script, {'#', '!', '/', 'n', 'o', 'p', 'e', '\n'});
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  EXPECT_FALSE(launchDetached(script, {}).has_value());
}
#endif

}  // namespace
}  // namespace norvale
