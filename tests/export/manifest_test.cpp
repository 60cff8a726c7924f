// SHA256SUMS: the lines sha256sum checks, merged over runs that skip files.
#include "export/manifest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "export/exporter.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "task/task_runner.h"

namespace norvale {
namespace {
namespace fs = std::filesystem;

bool haveSha256sum() { return std::system("command -v sha256sum >/dev/null 2>&1") == 0; }
int sha256sumCheck(const std::string& folder) {
  return std::system(("cd '" + folder + "' && sha256sum -c --strict --quiet SHA256SUMS >/dev/null 2>&1").c_str());
}
std::string text(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Manifest, LinesAreSortedRelativeAndInTheFormSha256sumReads) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "CH02");
  test::writeFile(dir.file("CH02/b.h264"), {1, 2, 3});
  test::writeFile(dir.file("a.h264"), {});
  ASSERT_TRUE(updateManifest(dir.str(), {{"", "CH02/b.h264"}, {"", "a.h264"}}));
  EXPECT_EQ(text(dir.file("SHA256SUMS")),
            "039058c6f2c0cb492c533b0a4d14ef77cc0f78abccced5287d84a1a2011cfb81  CH02/b.h264\n"
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  a.h264\n");  // byte order
  EXPECT_TRUE(test::partialFilesBelow(dir.str()).empty()) << "the manifest's partial file was renamed";
  EXPECT_EQ(manifestPath(dir.str(), dir.file("CH02/b.h264")), "CH02/b.h264");
  if (haveSha256sum()) {
    EXPECT_EQ(sha256sumCheck(dir.str()), 0);
  }
}

TEST(Manifest, ASkippedFileKeepsItsOldLineAndAVanishedFileLosesIt) {
  test::TempDir dir;
  test::writeFile(dir.file("kept"), {1});
  test::writeFile(dir.file("gone"), {2});
  ASSERT_TRUE(updateManifest(dir.str(), {{"", "kept"}, {"", "gone"}}));
  const auto first = readManifest(dir.str());
  ASSERT_EQ(first.size(), 2u);
  // The kept file changes behind the program's back; a later run skips it: its line stays the
  // old one, so the check shows the change.
  test::writeFile(dir.file("kept"), {9});
  fs::remove(dir.file("gone"));
  test::writeFile(dir.file("new"), {3});
  ASSERT_TRUE(updateManifest(dir.str(), {{"", "kept"}, {"", "new"}}));
  const auto second = readManifest(dir.str());
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].path, "kept");
  EXPECT_EQ(second[0].sha256, first[1].path == "kept" ? first[1].sha256 : first[0].sha256);
  EXPECT_EQ(second[1].path, "new");
  if (haveSha256sum()) {
    EXPECT_NE(sha256sumCheck(dir.str()), 0);
  }
}

TEST(Manifest, GarbageLinesInAnOldManifestAreDropped) {
  test::TempDir dir;
  test::writeFile(dir.file("x"), {7});
  std::ofstream(dir.file("SHA256SUMS")) << "not a line\nzz  x\n" << std::string(64, 'a') << "  missing\n";
  ASSERT_TRUE(updateManifest(dir.str(), {}));
  EXPECT_TRUE(readManifest(dir.str()).empty());
  EXPECT_EQ(sha256OfFile(dir.file("nothing here")), "");
}

class ExportManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = sample::buildSampleImage().bytes;
    ASSERT_TRUE(test::scanImage(dir, image, {}).ok);
    ASSERT_TRUE(test::openTaskFolder(task, observer, dir.file("task")));
    task.deviceHandle.open(std::make_unique<test::ScriptedSource>(image));
  }
  test::TempDir dir, out;
  std::vector<std::uint8_t> image;
  test::RecordingObserver observer;
  TaskContext task;
};

TEST_F(ExportManifestTest, EveryExportedFileIsListedAlsoAfterARunThatSkipped) {
  ASSERT_TRUE(exportFiles(task, observer, {0, 1, 2}, {out.str(), false}));
  EXPECT_EQ(readManifest(out.str()).size(), 3u);
  if (haveSha256sum()) {
    EXPECT_EQ(sha256sumCheck(out.str()), 0);
  }
  // The second run skips 0-2 and writes 3-5.
  auto again = exportFiles(task, observer, {0, 1, 2, 3, 4, 5}, {out.str(), false});
  ASSERT_TRUE(again);
  EXPECT_TRUE((*again)[0].skipped);
  const auto lines = readManifest(out.str());
  ASSERT_EQ(lines.size(), 6u);
  for (const auto& f : *again) {
    const std::string relative = manifestPath(out.str(), f.path);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const ManifestLine& l) { return l.path == relative && l.sha256 == f.sha256; }))
        << relative;
  }
  if (haveSha256sum()) {
    EXPECT_EQ(sha256sumCheck(out.str()), 0);
  }
}

}  // namespace
}  // namespace norvale
