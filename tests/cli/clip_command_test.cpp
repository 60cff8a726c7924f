// The clip command's command line: every wrong one is refused with exit code 2 and a message
// that says what is wrong; a right one reports each channel's plan.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/commands.h"
#include "command_run.h"
#include "sample/sample_image.h"
#include "support/test_support.h"

namespace norvale {
namespace {

using test::CommandRun;
using test::run;

// The sample (4 channels, recordings at 08:00 and 20:00 of three days in Shanghai) scanned once.
class ClipCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new test::TempDir;
    source = dir->file("sample.img");
    task = dir->file("task");
    ASSERT_TRUE(sample::writeSampleImage(source).has_value());
    const CommandRun scan = run(cli::runScanCommand, {"scan", "--source", source, "--brand", "18", "--mode", "deep",
                                                      "--task", task, "--quiet", "--zone", "Asia/Shanghai"});
    ASSERT_EQ(scan.status, 0) << scan.err;
  }
  static void TearDownTestSuite() { delete dir; }

  static CommandRun clip(std::vector<std::string> extra) {
    std::vector<std::string> args{"clip", "--task", task, "--source", source, "--out", dir->file("clips"), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(cli::runClipCommand, args);
  }

  static inline test::TempDir* dir = nullptr;
  static inline std::string source, task;
};

// The window's own checks are the plan's (clip_plan_test); here: that they and the command
// line's end as usage errors.
TEST_F(ClipCommand, RefusesEveryWrongCommandLineWithExitCodeTwo) {
  struct Wrong {
    std::vector<std::string> args;
    const char* says;
  };
  const std::string from = "2016-05-17 07:00:00", to = "2016-05-17 09:00:00";
  for (const Wrong& w : std::vector<Wrong>{
           {{"--to", to}, "clip needs --task DIR --source PATH --from"},
           {{"--from", to, "--to", from}, "must be later than --from"},
           {{"--from", from, "--to", to, "--channel", "9"}, "the task has no channel 9 (its channels: 1, 2, 3, 4)"},
           {{"--from", from, "--to", to, "--channel", "1,,2"}, "--channel takes channel numbers separated by commas"},
           {{"--from", from, "--to", to, "--channel", "300"}, "--channel takes channel numbers"},
           {{"--from", from, "--to", to, "--day", "2016-05-17"}, "--day"},
       }) {
    const CommandRun r = clip(w.args);
    EXPECT_EQ(r.status, 2) << w.args.back() << "\n" << r.err;
    EXPECT_NE(r.err.find(w.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir->file("clips")));  // nothing was started
}

TEST_F(ClipCommand, ReportsEachChannelsPlanAndFailsWhileClipsCannotBeWritten) {
  const CommandRun r =
      clip({"--from", "2016-05-17 07:59:58", "--to", "2016-05-17 08:00:04", "--channel", "2,1", "--json"});
  // Channels with recordings whose clips are not written make the run a failure, said per channel.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("channel 2: writing clips as MP4 is not available in this build"), std::string::npos) << r.err;
  const auto second = r.out.find("{\"channel\": 1,");
  ASSERT_NE(r.out.find("{\"channel\": 2, \"path\": null, \"from\": \"2016-05-17 07:59:58\""), std::string::npos)
      << r.out;
  ASSERT_NE(second, std::string::npos) << r.out;  // in the order asked
  EXPECT_GT(second, r.out.find("{\"channel\": 2,"));
  const std::string channel1 = r.out.substr(second);
  EXPECT_NE(channel1.find("\"covered\": [[\"2016-05-17 08:00:00\", \"2016-05-17 08:00:04\"]], "
                          "\"gaps\": [[\"2016-05-17 07:59:58\", \"2016-05-17 08:00:00\"]]"),
            std::string::npos)
      << channel1;
  EXPECT_NE(channel1.find("\"entries\": [1]"), std::string::npos) << channel1;
  EXPECT_NE(channel1.find("\"sha256\": null"), std::string::npos) << channel1;
}

TEST_F(ClipCommand, AWindowWithoutRecordingsWritesNothingAndSucceeds) {
  const CommandRun r = clip({"--from", "2016-05-17 12:00:00", "--to", "2016-05-17 13:00:00"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("CH04\tno recordings\t0 of 3600 s recorded, 1 gaps"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace norvale
