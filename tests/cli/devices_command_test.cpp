// `norvale-cli devices`, called as main() will call it: the table as the device view shows it,
// the JSON keys scripts rely on, the options, and the note about disks that could not be opened.
#include "cli/devices_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/devices_json.h"
#include "cli/devices_text.h"
#include "task/status_text.h"
#include "storage/fake_sysfs.h"
#include "support/disk_tools.h"
#include "support/test_support.h"

namespace norvale {
namespace {

constexpr std::uint64_t MiB = 1 << 20;

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
};

Outcome runDevices(std::vector<std::string> args, bool listDisks = false, DiskEnumerationOptions enumeration = {}) {
  args.insert(args.begin(), "devices");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  cli::DevicesCommandEnv env;
  env.out = &out;
  env.err = &err;
  env.listDisks = listDisks;
  env.enumeration = std::move(enumeration);
  Outcome o;
  o.status = cli::runDevicesCommand(static_cast<int>(argv.size()), argv.data(), env);
  o.out = out.str();
  o.err = err.str();
  return o;
}

// a.img: an MBR disk of 32 MiB stamped "DHFS4.1" with one FAT16 partition at 1 MiB.
// b.img: a raw ext4 volume of 24 MiB.
struct Images {
  test::TempDir dir;
  std::string a = dir.file("a.img"), b = dir.file("b.img");
  Images() {
    test::makeSparseFile(a, 32 * MiB);
    EXPECT_TRUE(test::runTool({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", a},
                              "label: dos\nstart=2048, size=16MiB, type=6\n")
                    .ok());
    const std::string fat = dir.file("fat.img");
    test::makeSparseFile(fat, 16 * MiB);
    EXPECT_TRUE(test::runTool({"mkfs.vfat", "-F", "16", fat}).ok());
    test::copyInto(fat, a, MiB);
    std::fstream patch(a, std::ios::binary | std::ios::in | std::ios::out);  // the recorder's stamp
    patch.write("DHFS4.1", 8);                                                 // in the boot code area
    patch.close();
    test::makeSparseFile(b, 24 * MiB);
    EXPECT_TRUE(test::runTool({"mkfs.ext4", "-q", "-F", b}).ok());
  }
};

// Display column where `needle` starts in `line` (East Asian characters count two).
std::size_t columnOf(const std::string& line, const std::string& needle) {
  const auto at = line.find(needle);
  EXPECT_NE(at, std::string::npos) << needle << " not in " << line;
  return cli::displayWidth(line.substr(0, at));
}

TEST(DevicesCommand, TableAsTheDeviceViewShowsIt) {
  Images img;
  const auto o = runDevices({"--image", img.a, "--image", img.b});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  const auto lines = o.lines();
  ASSERT_EQ(lines.size(), 5u) << o.out;
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("Device +Label +FS +Start +Size +Type"))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex("磁盘:" + img.a + " +a +#0 +0 +32\\.0 MB +2"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("  分区:Partition0 +FAT16 +1\\.0 MB +16\\.0 MB"))) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex("磁盘:" + img.b + " +b +#10 +0 +24\\.0 MB +0"))) << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("  分区:Partition0 +EXT4 +0\\.0 Bytes +24\\.0 MB"))) << lines[4];
  // The columns line up, counting the Chinese characters as two columns.
  EXPECT_EQ(columnOf(lines[0], "FS"), columnOf(lines[1], "#0"));
  EXPECT_EQ(columnOf(lines[0], "FS"), columnOf(lines[2], "FAT16"));
  EXPECT_EQ(columnOf(lines[0], "Size"), columnOf(lines[3], "24.0 MB"));
  EXPECT_EQ(columnOf(lines[0], "Type"), columnOf(lines[1], " 2") + 1);
}

TEST(DevicesCommand, JsonWithTheKeysScriptsRelyOn) {
  Images img;
  const auto o = runDevices({"--json", "--image=" + img.a});
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string want =
      "[\n"
      "  {\n"
      "    \"name\": \"" + img.a + "\",\n"
      "    \"second_name\": \"a\",\n"
      "    \"number\": 0,\n"
      "    \"kind\": 3,\n"
      "    \"path\": \"" + img.a + "\",\n"
      "    \"size\": 33554432,\n"
      "    \"signature_brand\": 2,\n"
      "    \"partitions\": [\n"
      "      {\n"
      "        \"name\": \"Partition0\",\n"
      "        \"label\": \"\",\n"
      "        \"fs_type\": 3,\n"
      "        \"fs_name\": \"FAT16\",\n"
      "        \"start\": 1048576,\n"
      "        \"size\": 16777216\n"
      "      }\n"
      "    ]\n"
      "  }\n"
      "]\n";
  EXPECT_EQ(o.out, want);
}

TEST(DevicesCommand, EmptyListInJsonIsAnEmptyArray) {
  const auto o = runDevices({"--json"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "[]\n");
}

TEST(DevicesCommand, ImageThatCannotBeOpenedIsReportedAndTheRestListed) {
  Images img;
  const auto o = runDevices({"--json", "--image", img.dir.file("missing.img"), "--image", img.b});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cannot add image " + img.dir.file("missing.img")), std::string::npos) << o.err;
  // The image after it is numbered by the devices actually listed.
  EXPECT_NE(o.out.find("\"number\": 0"), std::string::npos);
  EXPECT_NE(o.out.find("\"fs_name\": \"EXT4\""), std::string::npos);
}

TEST(DevicesCommand, UsageErrors) {
  auto o = runDevices({"--bogus"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("unknown option '--bogus'"), std::string::npos);
  EXPECT_NE(o.err.find("usage: norvale-cli devices"), std::string::npos);
  o = runDevices({"--image"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--image needs a path"), std::string::npos);
  o = runDevices({"--help"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("usage: norvale-cli devices [--image PATH]... [--json]"), std::string::npos);
}

TEST(DevicesCommand, DisksThatCannotBeOpenedAreToldOnce) {
  test::FakeSysfs fs;
  fs.disk("sda", 2048, "8:0");
  test::makeSparseFile(fs.node("sda"), MiB);
  fs.disk("sdb", 2048, "8:16");  // no node: cannot be opened
  fs.disk("sdc", 2048, "8:32");
  const auto o = runDevices({}, true, fs.options());
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(std::regex_search(o.out, std::regex("磁盘:sda +#0 +0 +1\\.0 MB +0"))) << o.out;
  EXPECT_NE(o.err.find("2 disks could not be opened and are not listed:"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find(fs.node("sdb")), std::string::npos);
  EXPECT_NE(o.err.find(fs.node("sdc")), std::string::npos);
  EXPECT_EQ(o.err.find("could not be opened"), o.err.rfind("could not be opened"));  // once
}

TEST(DevicesCommand, PermissionNoteSaysHowToGetAccess) {
  std::vector<UnopenedDisk> unopened = {{"/dev/sda", Error{ErrorCode::AccessDenied, "/dev/sda: Permission denied", 0}}};
  const std::string note = cli::unopenedDisksNote(unopened, false);
  EXPECT_NE(note.find("1 disk could not be opened and is not listed:\n  /dev/sda: Permission denied"), std::string::npos);
  EXPECT_NE(note.find("run as root"), std::string::npos);
  EXPECT_NE(note.find("'disk'"), std::string::npos);
  // Root is told that the system refuses even root, not to become root.
  const std::string asRoot = cli::unopenedDisksNote(unopened, true);
  EXPECT_EQ(asRoot.find("run as root"), std::string::npos);
  EXPECT_NE(asRoot.find("even to root"), std::string::npos);
  // Other reasons carry no permission advice; no disks, no note.
  unopened[0].error = Error{ErrorCode::ReadFailed, "/dev/sr0: No medium found", 0};
  EXPECT_EQ(cli::unopenedDisksNote(unopened, false).find("run as root"), std::string::npos);
  EXPECT_EQ(cli::unopenedDisksNote({}, false), "");
}

TEST(DevicesCommand, MachineDisksSmoke) {
  const auto o = runDevices({"--json"}, true);
  EXPECT_EQ(o.status, 0) << o.err;
  ASSERT_FALSE(o.out.empty());
  EXPECT_EQ(o.out.front(), '[');
}

TEST(DevicesSizeText, NarrowFormatterOfPart53) {
  EXPECT_EQ(sizeTextNarrow(0), "0.0 Bytes");
  EXPECT_EQ(sizeTextNarrow(1), "1.0 Bytes");
  EXPECT_EQ(sizeTextNarrow(1023), "1023.0 Bytes");
  EXPECT_EQ(sizeTextNarrow(1024), "1.0 KB");
  EXPECT_EQ(sizeTextNarrow(1536), "1.5 KB");
  EXPECT_EQ(sizeTextNarrow(MiB), "1.0 MB");
  EXPECT_EQ(sizeTextNarrow(500107862016ull), "465.8 GB");
  EXPECT_EQ(sizeTextNarrow(1ull << 40), "1.0 TB");
  EXPECT_EQ(sizeTextNarrow(1ull << 50), "1.0 PB");
  EXPECT_EQ(sizeTextNarrow(1ull << 60), "1.0 EB");
  EXPECT_EQ(sizeTextNarrow(UINT64_MAX), "16.0 EB");
}

TEST(DevicesJson, StringsAreEscapedAndAlwaysValidUtf8) {
  EXPECT_EQ(cli::jsonString("plain"), "\"plain\"");
  EXPECT_EQ(cli::jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(cli::jsonString("\n\t\r\b\f"), "\"\\n\\t\\r\\b\\f\"");
  EXPECT_EQ(cli::jsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(cli::jsonString("磁盘"), "\"磁盘\"");
  EXPECT_EQ(cli::jsonString("bad\xff\xc3"), "\"bad\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(cli::jsonString("\xed\xa0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // a surrogate
  EXPECT_EQ(cli::jsonString(std::string("nul\0x", 5)), "\"nul\\u0000x\"");
}

TEST(DevicesJson, WriterNestsAndSeparates) {
  cli::JsonWriter w;
  w.beginObject();
  w.key("a");
  w.value(1);
  w.key("list");
  w.beginArray();
  w.value("x");
  w.value(std::uint64_t{18446744073709551615ull});
  w.endArray();
  w.key("empty");
  w.beginArray();
  w.endArray();
  w.endObject();
  EXPECT_EQ(w.text(), "{\n  \"a\": 1,\n  \"list\": [\n    \"x\",\n    18446744073709551615\n  ],\n  \"empty\": []\n}\n");
}

TEST(DevicesText, DisplayWidthCountsWideCharactersTwice) {
  EXPECT_EQ(cli::displayWidth("abc"), 3u);
  EXPECT_EQ(cli::displayWidth("磁盘:ab"), 7u);
  EXPECT_EQ(cli::displayWidth(""), 0u);
}

}  // namespace
}  // namespace norvale
