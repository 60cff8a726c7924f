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

TEST_F(ClipCommand, WritesEachChannelsClipAndReportsItsPlan) {
  const CommandRun r =
      clip({"--from", "2016-05-17 07:59:58", "--to", "2016-05-17 08:00:04", "--channel", "2,1", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string clips = dir->file("clips");
  const std::string name = "CH02_20160517-075958_20160517-080004.mp4";
  const auto second = r.out.find("{\"channel\": 1,");
  ASSERT_NE(r.out.find("{\"channel\": 2, \"path\": \"" + clips + "/" + name + "\", \"from\": \"2016-05-17 07:59:58\""),
            std::string::npos)
      << r.out;
  ASSERT_NE(second, std::string::npos) << r.out;  // in the order asked
  EXPECT_GT(second, r.out.find("{\"channel\": 2,"));
  const std::string channel1 = r.out.substr(second);
  EXPECT_NE(channel1.find("\"first\": {\"recorded\": \"2016-05-17 08:00:00\", \"corrected\": \"2016-05-17 08:00:00\"}, "
                          "\"last\": {\"recorded\": \"2016-05-17 08:00:03\""),
            std::string::npos)
      << channel1;
  EXPECT_NE(channel1.find("\"covered\": [[\"2016-05-17 08:00:00\", \"2016-05-17 08:00:04\"]], "
                          "\"gaps\": [[\"2016-05-17 07:59:58\", \"2016-05-17 08:00:00\"]], \"frames\": 100"),
            std::string::npos)
      << channel1;
  EXPECT_NE(channel1.find("\"entries\": [1]"), std::string::npos) << channel1;
  EXPECT_NE(channel1.find("\"complete\": true"), std::string::npos) << channel1;
  // Each clip is listed with its SHA-256, as the other commands list what they write.
  const auto sums = test::readFile(clips + "/SHA256SUMS");
  EXPECT_NE(std::string(sums.begin(), sums.end()).find(name), std::string::npos);
  // Asked again, the clip is left alone unless --overwrite.
  const CommandRun again = clip({"--from", "2016-05-17 07:59:58", "--to", "2016-05-17 08:00:04", "--channel", "2"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("channel 2: the clip exists and was left alone"), std::string::npos) << again.err;
  EXPECT_EQ(clip({"--from", "2016-05-17 07:59:58", "--to", "2016-05-17 08:00:04", "--channel", "2", "--overwrite"}).status, 0);
}

TEST_F(ClipCommand, AWindowWithoutRecordingsWritesNothingAndSucceeds) {
  const CommandRun r = clip({"--from", "2016-05-17 12:00:00", "--to", "2016-05-17 13:00:00"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("CH04\tno recordings\t0 of 3600 s recorded, 1 gaps"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace norvale
