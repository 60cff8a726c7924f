// Seed inputs, built from the test builders and the built-in sample: each target starts from
// inputs that reach deep into its reader instead of being rejected at the first magic.
#include <algorithm>
#include <filesystem>

#include "base/byte_reader.h"
#include "convert/carrier_images.h"
#include "format/records.h"
#include "format/task_header.h"
#include "fuzz/fuzz_targets.h"
#include "parsers/brand_table.h"
#include "parsers/volume_table_parser.h"
#include "sample/sample_image.h"
#include "storage/crafted_volumes.h"
#include "support/disk_tools.h"
#include "support/index_table_images.h"
#include "support/scan_harness.h"
#include "support/test_support.h"
#include "task/result_store.h"
#include "task/task_cipher.h"

namespace norvale::fuzz {

namespace {
using Bytes = std::vector<std::uint8_t>;
using test::append;

// A small sample: one day, two channels, one recording.
const Bytes& sampleBytes() {
  static const Bytes bytes = [] {
    sample::SampleLayout layout;
    layout.channels = 2;
    layout.days = 1;
    layout.recordingHours = {8};
    return sample::buildSampleImage(layout).bytes;
  }();
  return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t at, std::size_t n) {
  at = std::min(at, bytes.size());
  n = std::min(n, bytes.size() - at);
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) append(out, p);
  return out;
}

std::uint8_t rowIndex(std::uint8_t brand) {
  const auto table = brandTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (brand >= table[i].first && brand <= table[i].last) return static_cast<std::uint8_t>(i);
  return 0;
}

// Packet runs of the brands that have builders, keyed by brand.
std::vector<std::pair<std::uint8_t, Bytes>> packetRuns() {
  std::vector<std::pair<std::uint8_t, Bytes>> runs;
  const std::uint32_t t = test::packed(2019, 3, 4, 5, 6, 7);
  for (const auto& brand : kVolumeTableBrands) {
    Bytes run;
    for (int i = 0; i < 4; ++i) {
      test::FrameSpec frame;
      frame.type = i == 0 ? 0x00FD : 0x00FC;
      frame.channelByte = static_cast<std::uint8_t>(i % 2);
      frame.time = test::plusSeconds(t, i);
      frame.length = 96 + 32 * static_cast<std::uint32_t>(i);
      append(run, test::volumeFrame(brand, frame));
    }
    runs.emplace_back(brand.brand, run);
  }
  runs.emplace_back(3, cat({test::wfsKeyPacket(t, 200), test::wfsLongPacket(120), test::wfsShortPacket(80),
                            test::wfsKeyPacket(test::plusSeconds(t, 1), 200)}));
  runs.emplace_back(17, cat({test::markerPacket(0, t, 300, true), test::markerPacket(0, t, 200, false),
                             test::markerPacket(1, test::plusSeconds(t, 2), 100, true)}));
  return runs;
}

// Brand 5's first section (quick mode): a header, three piece entries and their pieces.
Bytes sectionDisk() {
  constexpr std::uint64_t kFirst = 0x20000;
  const std::uint32_t t = sample::localEpoch(2018, 7, 8, 9, 10, 11);
  Bytes disk(kFirst + 0x200000 + 4 * 8192, 0);
  std::uint8_t* index = &disk[kFirst];
  putLe16(index, 0x5050);
  index[12] = 2;
  putLe32(index + 16, t);
  putLe32(index + 20, t + 30);
  for (int i = 0; i < 3; ++i) {
    std::uint8_t* e = index + 4096 + 16 * i;
    putLe32(e, t + 10 * static_cast<std::uint32_t>(i));
    putLe16(e + 8, 2);
    putLe16(e + 10, static_cast<std::uint16_t>(512 + 2 * i));
    const std::size_t pieceEnd = kFirst + (512 + 2 * i + 2) * 4096;
    std::fill(disk.begin() + static_cast<std::ptrdiff_t>(pieceEnd - 8192 + 8),
              disk.begin() + static_cast<std::ptrdiff_t>(pieceEnd - 512), 0x5A);
    putLe32(&disk[pieceEnd - 512 + 504], 4000 + 100 * static_cast<std::uint32_t>(i));
  }
  disk.resize(kFirst + 0x200000 + 6 * 4096 + 4096, 0);
  return disk;
}

// Devices for the partition walk: tables made by hand, and file systems made by the real tools.
std::vector<Seed> partitionSeeds() {
  std::vector<Seed> seeds;
  {
    Bytes disk(1 << 20, 0);
    test::writeMbrEntry(disk.data(), 0, 0x0C, 63, 2000);
    test::writeFat32BootSector(&disk[63 * 512], 2000);
    seeds.push_back({"mbr-fat32", encodeSparse(disk)});
  }
  {
    Bytes disk(8192 * 512, 0);
    test::writeMbrEntry(disk.data(), 0, 0xEE, 1, 8191);
    test::writeGptHeader(disk, 128, 128);
    test::writeGptEntry(disk, 0, 2048, 4095);
    test::writeGptEntry(disk, 1, 6000, 6999);
    test::writeFat32BootSector(&disk[2048 * 512], 2048, 8);
    test::writeFat32BootSector(&disk[6000 * 512], 1000, 8);
    seeds.push_back({"gpt-fat32", encodeSparse(disk)});
  }
  {
    // An extended chain whose second record points back at the first.
    Bytes disk(1 << 20, 0);
    test::writeMbrEntry(disk.data(), 0, 0x05, 100, 1800);
    test::writeMbrEntry(&disk[100 * 512], 0, 0x0B, 10, 500);
    test::writeMbrEntry(&disk[100 * 512], 1, 0x05, 600, 400);
    test::writeMbrEntry(&disk[700 * 512], 0, 0x0B, 10, 300);
    test::writeMbrEntry(&disk[700 * 512], 1, 0x05, 0, 400);
    test::writeFat32BootSector(&disk[110 * 512], 500);
    test::writeFat32BootSector(&disk[710 * 512], 300);
    seeds.push_back({"ebr-loop", encodeSparse(disk)});
  }
  seeds.push_back({"sample-head", encodeSparse(slice(sampleBytes(), 0, 1 << 16))});

  // Each file system made by its tool, 1 MiB into the disk behind an MBR entry.
  struct Made {
    const char* name;
    std::uint8_t type;
    std::uint64_t size;
    std::vector<std::string> mkfs;
  };
  const std::vector<Made> made = {
      // Small block groups: the ext probe wants more than one.
      {"ext2", 0x83, 4 << 20, {"mkfs.ext2", "-q", "-F", "-b", "1024", "-g", "1024"}},
      {"ext4", 0x83, 6 << 20, {"mkfs.ext4", "-q", "-F", "-b", "1024", "-g", "2048"}},
      {"fat16", 0x06, 6 << 20, {"mkfs.vfat", "-F", "16", "-s", "1"}},
      {"exfat", 0x07, 6 << 20, {"mkfs.exfat"}},
      {"ntfs", 0x07, 4 << 20, {"mkntfs", "-F", "-Q", "-q", "-s", "512", "-p", "2048", "-H", "255", "-S", "63"}},
  };
  test::TempDir dir;
  for (const Made& m : made) {
    if (test::findTool(m.mkfs.front()).empty()) continue;
    const std::string image = dir.file(std::string(m.name) + ".img");
    test::makeSparseFile(image, m.size);
    std::vector<std::string> argv = m.mkfs;
    argv.push_back(image);
    if (!test::runTool(argv).ok()) continue;
    Bytes disk(1 << 20, 0);
    test::writeMbrEntry(disk.data(), 0, m.type, 2048, static_cast<std::uint32_t>(m.size / 512));
    append(disk, test::readFile(image));
    seeds.push_back({std::string("mbr-") + m.name, encodeSparse(disk)});
  }
  return seeds;
}

std::vector<Seed> decoderSeeds() {
  std::vector<Seed> seeds;
  const Bytes sample = slice(sampleBytes(), 4096, 1 << 14);
  for (std::size_t r = 0; r < brandTable().size(); ++r)
    seeds.push_back({"sample-row" + std::to_string(r), cat({{static_cast<std::uint8_t>(r)}, sample})});
  for (const auto& [brand, run] : packetRuns())
    seeds.push_back({"packets-brand" + std::to_string(brand), cat({{rowIndex(brand)}, run})});
  return seeds;
}

std::vector<Seed> scanSeeds() {
  std::vector<Seed> seeds;
  const Bytes sample = encodeSparse(slice(sampleBytes(), 0, 1 << 20));
  for (std::size_t r = 0; r < brandTable().size(); ++r)
    for (std::uint8_t mode : {kParseQuick, kParseDeep})
      seeds.push_back({"sample-row" + std::to_string(r) + "-mode" + std::to_string(mode),
                       cat({{static_cast<std::uint8_t>(r << 1 | mode), 0}, sample})});
  for (const auto& [brand, run] : packetRuns()) {
    Bytes disk(0x10000, 0);
    append(disk, run);
    disk.resize(disk.size() + 0x1000, 0);
    seeds.push_back({"packets-brand" + std::to_string(brand),
                     cat({{static_cast<std::uint8_t>(rowIndex(brand) << 1 | kParseDeep), 0}, encodeSparse(disk)})});
  }
  seeds.push_back({"sections-brand5",
                   cat({{static_cast<std::uint8_t>(rowIndex(5) << 1 | kParseQuick), 0}, encodeSparse(sectionDisk())})});
  return seeds;
}

// A scanned task folder as fuzz input: three lengths, then the four files, raw or deciphered.
void addTaskSeeds(std::vector<Seed>& seeds, const std::string& name, const std::string& folder) {
  TaskCipher cipher;
  constexpr std::size_t kRecordSize[] = {kSegmentRecordSize, kIndexRecordSize, kSegmentRecordSize, kFileEntrySize};
  constexpr std::size_t kRecordsAt[] = {kTaskHeaderSize, 0, 0, 0};
  for (bool plain : {false, true}) {
    Bytes input{static_cast<std::uint8_t>(plain ? 1 : 0)};
    Bytes files;
    for (std::size_t i = 0; i < 4; ++i) {
      Bytes bytes = test::readFile(taskFilePath(folder, static_cast<TaskFileId>(i)));
      if (plain && bytes.size() > kRecordsAt[i]) cipher.decipher(std::span(bytes).subspan(kRecordsAt[i]), kRecordSize[i]);
      if (i < 3) {
        input.resize(input.size() + 4);
        putLe32(&input[input.size() - 4], static_cast<std::uint32_t>(bytes.size()));
      }
      append(files, bytes);
    }
    append(input, files);
    seeds.push_back({name + (plain ? "-plain" : "-raw"), input});
  }
}

std::vector<Seed> taskFileSeeds() {
  std::vector<Seed> seeds;
  test::TempDir dir;
  test::ScanRequest request;
  request.brand = 18;
  request.mode = kParseDeep;
  const auto deep = test::scanImage(dir, sampleBytes(), request);
  if (deep.ok) addTaskSeeds(seeds, "sample-deep", dir.file("task"));
  test::TempDir dir5;
  auto image = std::make_shared<test::SparseImage>(sectionDisk().size());
  image->put(0, sectionDisk());
  const auto quick = test::scanSparse(dir5, image, test::scanRequest(5, kParseQuick));
  if (quick.outcome.ok) addTaskSeeds(seeds, "sections-quick", dir5.file("task"));
  return seeds;
}

std::vector<Seed> identifySeeds() {
  std::vector<Seed> seeds;
  // Five sectors of range: the first sample block starts at byte 512.
  auto input = [](int counted, const Bytes& device) {
    Bytes in{static_cast<std::uint8_t>(counted - 1), 0, 0, 5, 0, 0, 0};
    append(in, encodeSparse(device));
    return in;
  };
  const Bytes sample = slice(sampleBytes(), 0, 0x100400);
  seeds.push_back({"sample-brand18", input(18, sample)});
  for (const auto& [brand, run] : packetRuns()) {
    Bytes disk(512, 0);
    append(disk, run);
    seeds.push_back({"packets-brand" + std::to_string(brand), input(brand, disk)});
  }
  return seeds;
}

// Exported files in each brand's carrier, the clip cut short so that the fuzzer stays fast.
std::vector<Seed> convertSeeds() {
  constexpr std::size_t kKeep = 96 << 10;
  auto seed = [&](const std::string& name, std::uint8_t brand, const Bytes& file) {
    return Seed{name, cat({{static_cast<std::uint8_t>(brand - 1)}, slice(file, 0, kKeep)})};
  };
  std::vector<Seed> seeds = {
      seed("program-stream-brand1", 1, test::programStreamFile()),
      seed("dhav-brand2", 2, test::dhavFile()),
      seed("wfs-brand3", 3, test::wfsFile()),
      seed("jvs-brand4", 4, test::jvsFile()),
      seed("boli-brand8", 8, test::boliFile()),
      seed("mpeg4-brand18", 18, test::mpeg4Stream()),
      seed("sample-brand18", 18, slice(sampleBytes(), 4096, kKeep)),
  };
  for (std::uint8_t brand : {6, 12, 13, 14, 15, 16})
    seeds.push_back(seed("headered-brand" + std::to_string(brand), brand, test::headeredFile(brand)));
  return seeds;
}

}  // namespace

std::vector<Seed> seedsFor(const std::string& target) {
  if (target == "partitions") return partitionSeeds();
  if (target == "decoder") return decoderSeeds();
  if (target == "scan") return scanSeeds();
  if (target == "task_files") return taskFileSeeds();
  if (target == "identify") return identifySeeds();
  if (target == "convert") return convertSeeds();
  return {};
}

}  // namespace norvale::fuzz
