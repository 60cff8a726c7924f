// Split and EWF images as sources: byte-identical reads across segment and chunk boundaries,
// what each describes itself as, and clear refusals of incomplete or damaged sets.
#include "storage/evidence_source.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "storage/device_handle.h"
#include "storage/evidence_sets.h"
#include "storage/media_digest.h"

namespace norvale {
namespace {

using test::TempDir;

std::vector<std::uint8_t> randomImage(std::size_t n) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

std::string digestHex(const EVP_MD* md, const std::vector<std::uint8_t>& bytes) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &n, md, nullptr);
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) hex += "0123456789abcdef"[out[i] >> 4], hex += "0123456789abcdef"[out[i] & 15];
  return hex;
}

// Reads [offset, offset + length) and expects exactly the image's bytes.
void expectReads(ByteSource& source, const std::vector<std::uint8_t>& image, std::uint64_t offset, std::size_t length) {
  std::vector<std::uint8_t> got(length, 0xEE);
  auto n = source.readAt(offset, got);
  ASSERT_TRUE(n) << "at " << offset << ": " << n.error().message;
  const std::size_t want = offset >= image.size() ? 0 : std::min<std::size_t>(length, image.size() - offset);
  ASSERT_EQ(*n, want) << "at " << offset;
  ASSERT_TRUE(std::equal(got.begin(), got.begin() + want, image.begin() + offset)) << "at " << offset;
}

// Every boundary of `step` from 0 past the end, read across, plus one read of everything.
void expectReadsAcross(ByteSource& source, const std::vector<std::uint8_t>& image, std::uint64_t step) {
  for (std::uint64_t at = 0; at <= image.size() + step; at += step)
    expectReads(source, image, at > 700 ? at - 700 : 0, 1400);
  expectReads(source, image, 0, image.size() + 4096);
}

struct RawImage {
  TempDir dir;
  std::vector<std::uint8_t> image = randomImage(4883 * 512);  // whole sectors, as EWF stores them
  std::string path = dir.file("disk.img");
  RawImage() { test::writeFile(path, image); }
};

TEST(SplitImage, ReadsAsTheWholeImageAcrossSegmentBoundaries) {
  RawImage raw;
  struct Naming { bool letters; int first; std::uint32_t segments; };
  for (const auto& [letters, first, segments] : {Naming{false, 1, 3}, Naming{false, 0, 3}, Naming{true, 0, 3}}) {
    TempDir dir;
    const auto name = test::splitImage(raw.path, dir.file("disk"), 1'000'000, letters, first);
    auto source = openEvidenceSource(name);
    ASSERT_TRUE(source) << source.error().message;
    const auto info = (*source)->evidenceInfo();
    EXPECT_EQ(info.kind, EvidenceKind::Split) << name;
    EXPECT_EQ(info.segments, segments);
    EXPECT_EQ(info.mediaSize, raw.image.size());
    EXPECT_EQ((*source)->size().value_or(0), raw.image.size());
    expectReadsAcross(**source, raw.image, 1'000'000);
    expectReadsAcross(**source, raw.image, 512);
  }
}

TEST(SplitImage, ManySegmentsReadInAnyOrder) {
  // More segments than are kept open: segments are reopened as reads move between them.
  RawImage raw;
  const auto name = test::splitImage(raw.path, raw.dir.file("many"), 65'536);
  auto source = openEvidenceSource(name);
  ASSERT_TRUE(source) << source.error().message;
  EXPECT_EQ((*source)->evidenceInfo().segments, 39u);
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) expectReads(**source, raw.image, rng() % raw.image.size(), 1 + rng() % 200'000);
}

TEST(SplitImage, RefusesSetsThatDoNotFit) {
  RawImage raw;
  const auto first = test::splitImage(raw.path, raw.dir.file("disk"), 1'000'000);
  const auto refusal = [&] {
    auto source = openEvidenceSource(first);
    return source ? std::string("opened") : source.error().message;
  };
  test::truncateFile(raw.dir.file("disk.002"), 999'999);
  EXPECT_EQ(refusal(), "split image segment disk.002 is shorter than the first");
  test::truncateFile(raw.dir.file("disk.002"), 1'000'001);
  EXPECT_EQ(refusal(), "split image segment disk.002 is longer than the first");
  test::truncateFile(raw.dir.file("disk.002"), 1'000'000);
  std::filesystem::rename(raw.dir.file("disk.003"), raw.dir.file("disk.004"));
  EXPECT_EQ(refusal(), "split image segment disk.003 is missing (disk.004 exists after it)");
  std::filesystem::remove(raw.dir.file("disk.002"));  // .001 alone beside .004: still a gap
  EXPECT_EQ(refusal(), "split image segment disk.002 is missing (disk.004 exists after it)");
  test::writeFile(raw.dir.file("disk.000"), {1, 2, 3});
  EXPECT_NE(refusal().find("disk.000 comes before it"), std::string::npos) << refusal();
  std::filesystem::remove(raw.dir.file("disk.000"));
  test::writeFile(raw.dir.file("disk.1000"), {1, 2, 3});  // past .999: not reachable in three digits
  EXPECT_EQ(refusal(), "split image segment disk.1000 is numbered wider than disk.001: a set whose numbering grows is not read");
}

TEST(SplitImage, PlainFilesStayPlain) {
  RawImage raw;
  test::writeFile(raw.dir.file("lone.001"), raw.image);  // a first segment with no others
  test::writeFile(raw.dir.file("disk.003"), raw.image);  // not a first segment's name
  for (const auto& path : {raw.path, raw.dir.file("lone.001")}) {
    auto source = openEvidenceSource(path);
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_EQ((*source)->evidenceInfo().kind, EvidenceKind::Raw);
    expectReads(**source, raw.image, 999'000, 3000);
  }
  auto missing = openEvidenceSource(raw.dir.file("missing.001"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
}

TEST(SplitImage, SegmentCutAfterOpeningIsAReadErrorNotZeros) {
  RawImage raw;
  auto source = openEvidenceSource(test::splitImage(raw.path, raw.dir.file("disk"), 1'000'000));
  ASSERT_TRUE(source);
  test::truncateFile(raw.dir.file("disk.002"), 500'000);
  std::vector<std::uint8_t> buffer(4096);
  auto got = (*source)->readAt(1'498'000, buffer);  // crosses the new end of disk.002
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().offset, 1'500'000u);
  expectReads(**source, raw.image, 2'000'000, 4096);  // disk.003 is still read
}

TEST(SplitNaming, CountsInTheWidthOfTheFirstName) {
  auto digits = splitNaming("/x/disk.001");
  ASSERT_TRUE(digits);
  EXPECT_EQ(digits->segmentPath(8), "/x/disk.009");
  EXPECT_EQ(digits->segmentPath(998), "/x/disk.999");
  EXPECT_FALSE(digits->segmentPath(999));
  EXPECT_EQ(digits->valueOf("disk.123"), 123u);
  EXPECT_FALSE(digits->valueOf("disk.12"));
  EXPECT_FALSE(digits->valueOf("disk.12a"));
  auto letters = splitNaming("disk.img.aa");
  ASSERT_TRUE(letters);
  EXPECT_EQ(letters->segmentPath(25), "disk.img.az");
  EXPECT_EQ(letters->segmentPath(26), "disk.img.ba");
  EXPECT_FALSE(letters->segmentPath(26 * 26));
  for (const char* other : {"disk.002", "disk.ab", "disk.E01", "disk.1", "disk", ".001", "disk.0001x"})
    EXPECT_FALSE(splitNaming(other)) << other;
}

struct EwfSets {
  RawImage raw;
  std::string plain = test::makeEwfSet(raw.path, raw.dir.file("plain"), "none");
  std::string packed = test::makeEwfSet(raw.path, raw.dir.file("packed"), "deflate:fast", false);
};

TEST(EwfImage, ReadsAsTheAcquiredMediaAcrossChunksAndSegments) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  EwfSets sets;
  for (const auto& name : {sets.plain, sets.packed}) {
    auto source = openEvidenceSource(name);
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_EQ((*source)->size().value_or(0), sets.raw.image.size());
    expectReadsAcross(**source, sets.raw.image, test::kEwfChunk);
    std::mt19937 rng(5);
    for (int i = 0; i < 200; ++i) expectReads(**source, sets.raw.image, rng() % sets.raw.image.size(), 1 + rng() % 70'000);
  }
}

TEST(EwfImage, DescribesTheAcquisition) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  EwfSets sets;
  auto plain = probeEvidence(sets.plain);
  ASSERT_TRUE(plain) << plain.error().message;
  EXPECT_EQ(plain->kind, EvidenceKind::Ewf);
  EXPECT_EQ(plain->segments, 3u);
  EXPECT_EQ(plain->mediaSize, sets.raw.image.size());
  EXPECT_EQ(plain->md5, digestHex(EVP_md5(), sets.raw.image));
  EXPECT_EQ(plain->sha1, digestHex(EVP_sha1(), sets.raw.image));
  EXPECT_EQ(plain->caseNumber, test::kCaseNumber);
  EXPECT_EQ(plain->evidenceNumber, test::kEvidenceNumber);
  EXPECT_EQ(plain->examiner, test::kExaminer);
  EXPECT_EQ(plain->description, test::kDescription);
  EXPECT_EQ(plain->notes, test::kNotes);
  EXPECT_FALSE(plain->acquisitionDate.empty());
  EXPECT_FALSE(plain->incomplete);
  auto packed = probeEvidence(sets.packed);
  ASSERT_TRUE(packed);
  EXPECT_EQ(packed->md5, plain->md5);
  EXPECT_EQ(packed->sha1, "");  // acquired without SHA1
  // The signature decides, not the name.
  std::filesystem::copy_file(sets.packed, sets.raw.dir.file("renamed.img"));
  EXPECT_EQ(probeEvidence(sets.raw.dir.file("renamed.img")).value_or(EvidenceInfo{}).kind, EvidenceKind::Ewf);
}

TEST(EwfImage, DamagedChunkIsAReadErrorForItsRangeOnly) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  EwfSets sets;
  const std::uint64_t chunk = test::damageChunk(sets.plain, sets.raw.image, 1'200'000);
  auto source = openEvidenceSource(sets.plain);
  ASSERT_TRUE(source) << source.error().message;
  // Sector by sector: every sector is either the image's bytes or an error, never other bytes,
  // and the errors are exactly the damaged chunk's.
  std::vector<std::uint64_t> failed;
  std::vector<std::uint8_t> sector(512);
  for (std::uint64_t at = 0; at < sets.raw.image.size(); at += 512) {
    auto got = (*source)->readAt(at, sector);
    if (!got) {
      failed.push_back(at);
      EXPECT_EQ(got.error().offset, at);
      continue;
    }
    ASSERT_TRUE(std::equal(sector.begin(), sector.begin() + *got, sets.raw.image.begin() + at)) << "at " << at;
  }
  ASSERT_EQ(failed.size(), test::kEwfChunk / 512);
  EXPECT_EQ(failed.front(), chunk);
  // A large read over it fails at the chunk, again on a second pass; the handle reports it.
  std::vector<std::uint8_t> block(1 << 20);
  for (int pass = 0; pass < 2; ++pass) {
    auto got = (*source)->readAt(chunk / (1 << 20) * (1 << 20), block);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().offset, chunk);
  }
  DeviceHandle handle;
  handle.open(makeImageRecord(sets.plain, 0));
  EXPECT_FALSE(handle.readAt(chunk - 4096, std::span(block.data(), 16384)));
  EXPECT_FALSE(handle.ok());
  // Two neighbouring damaged chunks (libewf joins them into one range) fail as one.
  test::damageChunk(sets.plain, sets.raw.image, chunk + test::kEwfChunk);
  auto again = openEvidenceSource(sets.plain);
  ASSERT_TRUE(again);
  expectReads(**again, sets.raw.image, chunk - 8192, 8192);
  EXPECT_FALSE((*again)->readAt(chunk, std::span(block.data(), 512)));
  EXPECT_FALSE((*again)->readAt(chunk + test::kEwfChunk + 8000, std::span(block.data(), 512)));
  expectReads(**again, sets.raw.image, chunk + 2 * test::kEwfChunk, 8192);
}

TEST(EwfImage, IncompleteOrForeignSetsGiveClearErrors) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  EwfSets sets;
  const auto& dir = sets.raw.dir;
  const auto error = [](const std::string& path) {
    auto source = openEvidenceSource(path);
    return source ? std::string("opened") : source.error().message;
  };
  EXPECT_EQ(error(dir.file("plain.E02")), "plain.E02 is segment 2 of an EWF set: open its first segment (plain.E01)");
  const auto first = test::readFile(sets.plain);
  test::writeFile(dir.file("cut.E01"), std::vector<std::uint8_t>(first.begin(), first.begin() + 100));
  EXPECT_NE(error(dir.file("cut.E01")).find("the EWF set cannot be opened"), std::string::npos);
  std::vector<std::uint8_t> foreign = randomImage(4096);
  std::copy(kEwfSignature.begin(), kEwfSignature.end(), foreign.begin());
  foreign[9] = 1, foreign[10] = 0;
  test::writeFile(dir.file("foreign.E01"), foreign);
  EXPECT_NE(error(dir.file("foreign.E01")).find("the EWF set describes no media"), std::string::npos)
      << error(dir.file("foreign.E01"));

  // The last segment gone: what the others hold still reads, the rest fails and says why.
  std::filesystem::rename(dir.file("plain.E03"), dir.file("kept.E03"));
  auto source = openEvidenceSource(sets.plain);
  ASSERT_TRUE(source) << source.error().message;
  EXPECT_TRUE((*source)->evidenceInfo().incomplete);
  EXPECT_EQ((*source)->evidenceInfo().md5, "");
  expectReads(**source, sets.raw.image, 0, 100'000);
  std::vector<std::uint8_t> tail(4096);
  auto got = (*source)->readAt(sets.raw.image.size() - 4096, tail);
  ASSERT_FALSE(got);
  EXPECT_NE(got.error().message.find("incomplete"), std::string::npos) << got.error().message;
  source->reset();

  // A middle segment gone while a later one is there: refused, naming the missing one.
  std::filesystem::rename(dir.file("kept.E03"), dir.file("plain.E03"));
  std::filesystem::rename(dir.file("plain.E02"), dir.file("kept.E02"));
  EXPECT_EQ(error(sets.plain), "EWF segment plain.E02 is missing (plain.E03 exists after it)");

  // A segment cut short: incomplete, the bytes before the cut read.
  std::filesystem::rename(dir.file("kept.E02"), dir.file("plain.E02"));
  test::truncateFile(dir.file("plain.E02"), 500'000);
  auto cut = openEvidenceSource(sets.plain);
  ASSERT_TRUE(cut) << cut.error().message;
  EXPECT_TRUE((*cut)->evidenceInfo().incomplete);
  expectReads(**cut, sets.raw.image, 0, 500'000);
  EXPECT_FALSE((*cut)->readAt(sets.raw.image.size() - 4096, tail));
}

TEST(MediaDigest, UnreadableSectorsAreListedAndHashedAsZeros) {
  auto image = randomImage(3 * (1 << 20) + 1000);
  test::ScriptedSource source(image);
  for (std::uint64_t s : {5000, 5001, 5002, 6143}) source.markBad(s);
  std::vector<std::uint64_t> progress;
  auto digest = digestMedia(source, [&](std::uint64_t done) { return progress.push_back(done), true; });
  ASSERT_TRUE(digest);
  ASSERT_EQ(digest->unreadable.size(), 2u);
  EXPECT_EQ(digest->unreadable[0].offset, 5000u * 512);
  EXPECT_EQ(digest->unreadable[0].length, 3u * 512);
  EXPECT_EQ(digest->unreadable[1].offset, 6143u * 512);
  for (std::uint64_t s : {5000, 5001, 5002, 6143}) std::fill_n(image.begin() + s * 512, 512, 0);
  EXPECT_EQ(digest->md5, digestHex(EVP_md5(), image));
  EXPECT_EQ(digest->sha1, digestHex(EVP_sha1(), image));
  EXPECT_EQ(progress, (std::vector<std::uint64_t>{1 << 20, 2 << 20, 3 << 20, image.size()}));
  auto stopped = digestMedia(source, [](std::uint64_t) { return false; });
  ASSERT_TRUE(stopped);
  EXPECT_TRUE(stopped->stopped);
  EXPECT_EQ(stopped->bytes, 1u << 20);
}

// Whether the source a scan reads is still there: a deleted or replaced file, or a segment of a
// set that went away, is gone; the open descriptor reading on is no sign that it is there.
TEST(SourcePresence, APlainFileIsThereUntilDeletedOrReplaced) {
  RawImage raw;
  {
    DeviceHandle handle;
    handle.open(makeImageRecord(raw.path, 0));
    ASSERT_TRUE(handle.ok());
    EXPECT_TRUE(handle.sourceStillThere());
    std::filesystem::remove(raw.path);
    EXPECT_FALSE(handle.sourceStillThere());
    std::vector<std::uint8_t> buffer(4096);
    EXPECT_TRUE(handle.readAt(0, buffer)) << "on POSIX the open descriptor still reads";
  }
  test::writeFile(raw.path, raw.image);
  DeviceHandle handle;
  handle.open(makeImageRecord(raw.path, 0));
  ASSERT_TRUE(handle.ok());
  const std::string aside = raw.path + ".new";
  test::writeFile(aside, raw.image);
  std::filesystem::rename(aside, raw.path);  // another file of the same name and bytes
  EXPECT_FALSE(handle.sourceStillThere());
  DeviceHandle closed;
  EXPECT_FALSE(closed.sourceStillThere()) << "nothing open is nothing there";
}

TEST(SourcePresence, ASplitSetIsGoneWhenAnySegmentIs) {
  RawImage raw;
  DeviceHandle handle;
  handle.open(makeImageRecord(test::splitImage(raw.path, raw.dir.file("disk"), 1'000'000), 0));
  ASSERT_TRUE(handle.ok());
  EXPECT_TRUE(handle.sourceStillThere());
  std::filesystem::remove(raw.dir.file("disk.002"));
  EXPECT_FALSE(handle.sourceStillThere());
}

TEST(SourcePresence, AnEwfSetIsGoneWhenASegmentIs) {
  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  RawImage raw;
  const std::string first = test::makeEwfSet(raw.path, raw.dir.file("set"), "none", false);
  DeviceHandle handle;
  handle.open(makeImageRecord(first, 0));
  ASSERT_TRUE(handle.ok());
  EXPECT_TRUE(handle.sourceStillThere());
  std::filesystem::remove(raw.dir.file("set.E02"));
  EXPECT_FALSE(handle.sourceStillThere());
}

TEST(SourcePresence, MemorySourcesAreAlwaysThere) {
  DeviceHandle handle;
  handle.open(std::make_unique<MemorySource>(std::vector<std::uint8_t>(4096)));
  EXPECT_TRUE(handle.sourceStillThere());
}

}  // namespace
}  // namespace norvale
