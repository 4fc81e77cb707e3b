// End-to-end runs of the built zelvrin binary: each run happens in a fresh
// folder, and standard output, standard error, the status and every file the
// run leaves are compared byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/lzss_encoder.h"
#include "tests/support/run_tool.h"

namespace {

using zelvrin_test::Bytes;
using zelvrin_test::EncodeLzss;
using zelvrin_test::FileHeaderBytes;
using zelvrin_test::LzssEncodeOptions;
using zelvrin_test::ReadFileBytes;
using zelvrin_test::RunTool;
using zelvrin_test::SharedDir;
using zelvrin_test::TempDir;
using zelvrin_test::ToolRun;
using zelvrin_test::VolumeBuilder;
using zelvrin_test::WriteFileBytes;

// The image lies in the run's own folder under a name the tool never makes,
// and is passed by that relative name, which every launcher understands.
const char kImageName[] = "image.d88";

// Text and bytes

// Expected console text is written with "\n"; where the binary's text streams
// end lines with CR LF (the Windows build), ZELVRIN_TEST_NEWLINE=crlf says so.
std::string Console(const std::string& text) {
  const char* mode = getenv("ZELVRIN_TEST_NEWLINE");
  if (!mode || std::string(mode) != "crlf") return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Set when the binary runs through another program (Wine): POSIX-only setup
// such as hard links and device files means nothing there.
bool UnderLauncher() {
  const char* launcher = getenv("ZELVRIN_TEST_LAUNCHER");
  return launcher && *launcher;
}

std::string HexAround(const std::string& bytes, size_t at, size_t from) {
  std::string out;
  char cell[8];
  for (size_t i = from; i < bytes.size() && i < at + 16; ++i) {
    snprintf(cell, sizeof(cell), i == at ? "[%02x]" : " %02x", (unsigned)(uint8_t)bytes[i]);
    out += cell;
  }
  return out;
}

::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  size_t from = at >= 16 ? at - 16 : 0;
  return ::testing::AssertionFailure()
         << "first difference at byte " << at << " (expected " << expected.size() << " bytes, got "
         << actual.size() << "); bytes from " << from << ":\n  expected"
         << HexAround(expected, at, from) << "\n  actual  " << HexAround(actual, at, from);
}

::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
  return SameBytes(std::string(expected.begin(), expected.end()),
                   std::string(actual.begin(), actual.end()));
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Take(const Bytes& b, size_t n) {
  return Bytes(b.begin(), b.begin() + (std::ptrdiff_t)n);
}

// Bytes 1 to 255 only: a zero-filled gap can never be mistaken for content.
Bytes Noise(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 12345u;
  for (uint8_t& v : b) {
    x = x * 1664525u + 1013904223u;
    v = (uint8_t)(1 + (x >> 24) % 255);
  }
  return b;
}

// Text that the encoder packs well, cut to n bytes.
Bytes Prose(size_t n) {
  std::string s;
  for (int i = 1; s.size() < n; ++i)
    s += "Line " + std::to_string(i) + ": the caravan waits at the well until the moon rises.\n";
  return Text(s.substr(0, n));
}

// What a run must give

// Output name: the disk character (65 + disk index, on past 'Z') and the slot.
std::string Name(int disk, int slot) {
  char digits[8];
  snprintf(digits, sizeof(digits), "%03d", slot);
  return std::string(1, (char)(65 + disk)) + digits;
}

// The report line of an entry whose first sector gave these sizes.
std::string ReportLine(int slot, int b0, int b1, int b2, int fileSize, int packedSize) {
  int linear = b0 | b1 << 8;
  char line[160];
  int n = snprintf(line, sizeof(line),
                   "FILE%03d: %02x %02x %02x => TRACK = %02d SECTOR = %02x SIZE = %04x ", slot, b0,
                   b1, b2, linear / 5, linear % 5 + 1, fileSize);
  if (fileSize == packedSize)
    snprintf(line + n, sizeof(line) - (size_t)n, "\n");
  else
    snprintf(line + n, sizeof(line) - (size_t)n, " ** %04x %04x\n", fileSize, packedSize);
  return line;
}

std::string HeaderUnread(int track, int sector) {
  return "cannot read the file header (track " + std::to_string(track) + ", sector " +
         std::to_string(sector) + ")";
}

std::string ReadShort(int got, int want, int track, int sector) {
  return "read " + std::to_string(got) + " of " + std::to_string(want) + " bytes (track " +
         std::to_string(track) + ", sector " + std::to_string(sector) +
         " onward); the rest is written as zeros";
}

const char kRunsPast[] = "content runs past the sectors read; the rest is written as zeros";
const char kDirectoryUnread[] =
    "cannot read the volume directory (track 1, sector 1); disk skipped";

using Files = std::map<std::string, Bytes>;

struct Expectation {
  std::string out;  // "\n" line ends; see Console()
  std::string err;
  int status = 0;
  Files files;  // every file the run leaves, the image aside
};

struct Scenario {
  Bytes image;
  Expectation expect;
};

// Builds a multi-disk image from files laid on each disk's volume, and what a
// run on it must print and write. Damage is done through Disk() afterwards,
// with the expectations adjusted to match.
class ImageMaker {
 public:
  explicit ImageMaker(int disks = 1) : disks_((size_t)disks) {}

  VolumeBuilder& Disk(int disk) { return disks_.at((size_t)disk); }

  int Stored(int disk, int slot, int start, const Bytes& content) {
    uint16_t size = (uint16_t)content.size();
    return Add(disk, slot, start, Join(FileHeaderBytes(size, size), content), -1, size, content);
  }

  int Compressed(int disk, int slot, int start, const Bytes& content, bool literalsOnly = false) {
    LzssEncodeOptions options;
    options.literalsOnly = literalsOnly;
    Bytes stream = EncodeLzss(content, options);
    uint16_t size = (uint16_t)content.size();
    // Any packedSize other than fileSize marks the body compressed.
    uint16_t packed =
        (uint16_t)stream.size() == size ? (uint16_t)(size + 1) : (uint16_t)stream.size();
    return Add(disk, slot, start, Join(FileHeaderBytes(packed, size), stream), -1, packed, content);
  }

  // Header and body as given, over `sectors` sectors (-1: as many as they
  // fill); the run must write `content`.
  int Add(int disk, int slot, int start, const Bytes& file, int sectors, int packedSize,
          const Bytes& content) {
    int next = Disk(disk).AddFile(slot, start, file, sectors);
    int length = sectors < 0 ? (int)(file.size() + 1023) / 1024 : sectors;
    int fileSize = file[4] | file[5] << 8;
    Line(disk, slot, ReportLine(slot, start & 0xFF, start >> 8, length, fileSize, packedSize));
    files_[{disk, slot}] = content;
    return next;
  }

  void Line(int disk, int slot, const std::string& line) { lines_[{disk, slot}] = line; }
  Bytes& File(int disk, int slot) { return files_.at({disk, slot}); }
  void SetFile(int disk, int slot, const Bytes& content) { files_[{disk, slot}] = content; }
  void Problem(int disk, int slot, const std::string& text) {
    problems_.insert({{disk, slot}, "zelvrin: " + Name(disk, slot) + ": " + text + "\n"});
  }
  void DiskProblem(int disk, const std::string& text) {
    problems_.insert(
        {{disk, -1}, "zelvrin: disk " + std::to_string(disk + 1) + ": " + text + "\n"});
  }
  // A disk the run never lists: none of its lines, files or problems appear.
  void Unlisted(int disk) {
    auto drop = [disk](auto& m) {
      for (auto it = m.begin(); it != m.end();) it = it->first.first == disk ? m.erase(it) : ++it;
    };
    drop(lines_);
    drop(files_);
    drop(problems_);
  }

  Scenario Make() const {
    Scenario s;
    std::vector<Bytes> disks;
    for (const VolumeBuilder& v : disks_) disks.push_back(v.Build());
    s.image = zelvrin_test::Concat(disks);
    for (const auto& [key, line] : lines_) s.expect.out += line;
    for (const auto& [key, line] : problems_) s.expect.err += line;
    s.expect.status = problems_.empty() ? 0 : 2;
    for (const auto& [key, content] : files_) s.expect.files[Name(key.first, key.second)] = content;
    return s;
  }

 private:
  std::vector<VolumeBuilder> disks_;
  std::map<std::pair<int, int>, std::string> lines_;
  std::map<std::pair<int, int>, Bytes> files_;
  std::multimap<std::pair<int, int>, std::string> problems_;  // in the order of the walk
};

// Running and checking

ToolRun RunOnImage(const TempDir& dir, const Bytes& image) {
  WriteFileBytes(dir.File(kImageName), image);
  return RunTool({kImageName}, dir.path());
}

// Every name in the folder but the image must be an expected file with the
// expected bytes; names in `unread` must be there but are not read (a
// directory, a link to a device).
void ExpectFiles(const TempDir& dir, const Files& files, const std::set<std::string>& unread = {}) {
  std::vector<std::string> names, expectedNames;
  for (const std::string& name : dir.List())
    if (name != kImageName) names.push_back(name);
  for (const auto& [name, content] : files) expectedNames.push_back(name);
  expectedNames.insert(expectedNames.end(), unread.begin(), unread.end());
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(expectedNames, names) << "files in the working folder";
  for (const auto& [name, content] : files) {
    if (!std::filesystem::is_regular_file(dir.File(name))) {
      ADD_FAILURE() << name << " is not a regular file";
      continue;
    }
    EXPECT_TRUE(SameBytes(content, ReadFileBytes(dir.File(name)))) << "file " << name;
  }
}

void ExpectRun(const TempDir& dir, const ToolRun& run, const Expectation& expect,
               const std::set<std::string>& unread = {}) {
  EXPECT_EQ(expect.status, run.status);
  EXPECT_TRUE(SameBytes(Console(expect.out), run.out)) << "standard output:\n" << run.out;
  EXPECT_TRUE(SameBytes(Console(expect.err), run.err)) << "standard error:\n" << run.err;
  ExpectFiles(dir, expect.files, unread);
}

void CheckScenario(const Scenario& s) {
  TempDir dir;
  ExpectRun(dir, RunOnImage(dir, s.image), s.expect);
}

struct Row {
  const char* what;
  Scenario scenario;
};

void CheckRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CheckScenario(row.scenario);
  }
}

// Command line

TEST(E2eCommandLine, WrongCallsPrintOneMessageAndTouchNothing) {
  const std::string usage = "Usage: zelvrin (D88image)\n";
  const std::string openError =
      "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5"
      "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\n";
  ASSERT_EQ(29u, openError.size());
  struct {
    const char* what;
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      // No image named at all.
      {"no argument", {}, usage},
      // Two readable images: still a wrong call, and neither is read.
      {"two arguments", {kImageName, kImageName}, usage},
      {"three arguments", {kImageName, "x", "y"}, usage},
      // The Shift_JIS open error, bytes as stored, no code page conversion.
      {"a path that does not exist", {"missing.d88"}, openError},
  };
  ImageMaker maker;
  maker.Stored(0, 0, 6, Text("would be written by a run"));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    WriteFileBytes(dir.File(kImageName), maker.Make().image);
    ToolRun run = RunTool(row.args, dir.path());
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(SameBytes("", run.out)) << "standard output";
    EXPECT_TRUE(SameBytes(Console(row.err), run.err)) << "standard error";
    EXPECT_EQ(std::vector<std::string>{kImageName}, dir.List());
  }
}

// Report lines and the disk walk

// The three report lines as the format gives them, and the road of one file:
// slot 3 with entry 0C 00 02 starts at track 2 sector 3, two sectors long, is
// compressed and comes out as A003.
TEST(E2eReport, LinesOfStoredAndCompressedEntriesByteForByte) {
  VolumeBuilder volume;
  Bytes a003 = Prose(0x0612);
  Bytes stream003 = EncodeLzss(a003);
  ASSERT_LE(stream003.size(), 2048u - 8);
  Bytes file003 = Join(FileHeaderBytes(0x0345, 0x0612), stream003);
  file003.resize(2048);
  volume.AddFile(3, 12, file003, 2);  // 0C 00 02

  Bytes a004 = Noise(0x0123, 4);
  volume.AddFile(4, 14, Join(FileHeaderBytes(0x0123, 0x0123), a004), 1);  // 0E 00 01

  // Linear sector 0x020B = 523: track 104, sector 4, ten sectors up to track 106.
  Bytes a120 = Prose(0x2C81);
  Bytes stream120 = EncodeLzss(a120);
  ASSERT_LE(stream120.size(), 10u * 1024 - 8);
  Bytes file120 = Join(FileHeaderBytes(0x1F00, 0x2C81), stream120);
  file120.resize(10 * 1024);
  volume.AddFile(120, 0x020B, file120, 10);  // 0B 02 0A

  Expectation expect;
  expect.out =
      "FILE003: 0c 00 02 => TRACK = 02 SECTOR = 03 SIZE = 0612  ** 0612 0345\n"
      "FILE004: 0e 00 01 => TRACK = 02 SECTOR = 05 SIZE = 0123 \n"
      "FILE120: 0b 02 0a => TRACK = 104 SECTOR = 04 SIZE = 2c81  ** 2c81 1f00\n";
  expect.files = {{"A003", a003}, {"A004", a004}, {"A120", a120}};
  CheckScenario({volume.Build(), expect});
}

Scenario NoDisk(size_t bytes) {
  Scenario s;
  s.image = Noise(bytes, 7);
  return s;
}

Scenario EmptyDiskThenFiles() {
  ImageMaker m(2);  // disk 1: every entry FF FF FF
  m.Stored(1, 5, 6, Text("second disk, slot 5"));
  return m.Make();
}

Scenario GapInSlots() {
  ImageMaker m;
  m.Stored(0, 0, 6, Text("slot 0"));
  m.Compressed(0, 2, 7, Prose(900));  // slot 1 stays FF FF FF
  return m.Make();
}

Scenario TwoDisks() {
  ImageMaker m(2);
  m.Stored(0, 0, 6, Text("A000"));
  m.Stored(0, 1, 7, Text("A001"));
  m.Compressed(1, 0, 6, Prose(3000));
  m.Stored(1, 335, 8, Text("B335"));
  return m.Make();
}

// Entry 00 00 00 is used: linear sector 0, track 0 sector 1, length 0. Its
// header and a short stored body come from that one sector.
Scenario ZeroEntry() {
  ImageMaker m;
  Bytes content = Text("track 0 sector 1");
  m.Add(0, 0, 0, Join(FileHeaderBytes(16, 16), content), 0, 16, content);
  Scenario s = m.Make();
  EXPECT_EQ("FILE000: 00 00 00 => TRACK = 00 SECTOR = 01 SIZE = 0010 \n", s.expect.out);
  return s;
}

TEST(E2eDiskWalk, EdgesOfTheWalk) {
  CheckRows({
      // No D88 disk header fits: no disk, nothing printed, status 0.
      {"empty image file", NoDisk(0)},
      {"687-byte image file", NoDisk(687)},
      {"a disk with all entries FF, then a disk with a file", EmptyDiskThenFiles()},
      {"slots 0 and 2 used, 1 empty", GapInSlots()},
      {"two disks: slots count from 000 again, names A then B", TwoDisks()},
      {"entry 00 00 00 reads track 0 sector 1", ZeroEntry()},
  });
}

// Only the first 64 disks are walked; the 64th disk's names begin with byte
// 0x80. Every disk has one file, in the slot of its own index, so every
// character of the name rule is written once (on Linux all are plain names:
// the 28th disk's backslash, the 60th's '|', 127 and 128).
TEST(E2eDiskWalk, SixtyFourDisksAtMost) {
  ImageMaker m(65);
  for (int disk = 0; disk < 65; ++disk)
    m.Stored(disk, disk, 6, Text("disk " + std::to_string(disk + 1)));
  m.Unlisted(64);
  Scenario s = m.Make();
  ASSERT_EQ(1u, s.expect.files.count("\x80"
                                     "063"));
  TempDir dir;
  ToolRun run = RunOnImage(dir, s.image);
  EXPECT_TRUE(SameBytes(Console(s.expect.out), run.out)) << "standard output";
  // Windows refuses or re-reads some of these names; its own tests show that.
  if (UnderLauncher()) return;
  ExpectRun(dir, run, s.expect);
}

// A damaged walk: no disk or entry borrows another's bytes

// Disk 2's directory cannot be read whole; disk 2 has entries that a walk
// with the wrong directory would list, and disk 1's entries must not appear
// twice. The walk goes on with disk 3.
Scenario DirectoryUnread(void (*damage)(VolumeBuilder&)) {
  ImageMaker m(3);
  m.Stored(0, 0, 6, Text("disk 1 slot 0"));
  m.Compressed(0, 1, 7, Prose(2000));
  m.Stored(1, 0, 6, Text("disk 2 slot 0"));
  m.Stored(1, 1, 7, Text("disk 2 slot 1"));
  m.Stored(2, 3, 6, Text("disk 3 slot 3"));
  damage(m.Disk(1));
  m.Unlisted(1);
  m.DiskProblem(1, kDirectoryUnread);
  Scenario s = m.Make();
  EXPECT_EQ("zelvrin: disk 2: cannot read the volume directory (track 1, sector 1); disk skipped\n",
            s.expect.err);
  return s;
}

// Disk size 0: the disk cannot hold its own header, so nothing says where
// another disk starts. One disk, not 64 copies of it; its tracks all lie
// beyond a disk size of 0.
Scenario ZeroDiskSize() {
  ImageMaker m;
  m.Stored(0, 0, 6, Text("never reached"));
  zelvrin_test::DiskBuilder disk = m.Disk(0).ToDisk();
  disk.SetDiskSize(0);
  Scenario s;
  s.image = disk.Build();
  s.expect.err = "zelvrin: disk 1: " + std::string(kDirectoryUnread) + "\n";
  s.expect.status = 2;
  return s;
}

// A disk header alone, 688 bytes: one disk without tracks.
Scenario HeaderOnly() {
  Scenario s;
  s.image = zelvrin_test::DiskBuilder().Build();
  EXPECT_EQ(688u, s.image.size());
  s.expect.err = "zelvrin: disk 1: " + std::string(kDirectoryUnread) + "\n";
  s.expect.status = 2;
  return s;
}

TEST(E2eDamagedWalk, UnreadableDirectorySkipsTheDisk) {
  CheckRows({
      {"directory sector missing", DirectoryUnread([](VolumeBuilder& v) { v.RemoveSector(5); })},
      // The first 512 bytes hold slots 0 to 165, enough for a wrong walk.
      {"directory sector of 512 bytes",
       DirectoryUnread([](VolumeBuilder& v) { v.SetSectorDataSize(5, 512, 512); })},
      {"track 1 absent", DirectoryUnread([](VolumeBuilder& v) {
         for (int linear = 5; linear < 10; ++linear) v.RemoveSector(linear);
       })},
      {"disk size 0", ZeroDiskSize()},
      {"header only", HeaderOnly()},
  });
}

// Slot 2 leaves non-zero sizes in its first sector; slot 3 (0C 00 02) has no
// first sector at all, so its line shows sizes 0000 and its file is empty.
Scenario HeaderMissing() {
  ImageMaker m;
  m.Stored(0, 2, 6, Noise(0x0612, 2));
  m.Disk(0).SetEntry(3, 0x0C, 0x00, 0x02).RemoveSector(12).RemoveSector(13);
  m.Line(0, 3, "FILE003: 0c 00 02 => TRACK = 02 SECTOR = 03 SIZE = 0000 \n");
  m.SetFile(0, 3, {});
  m.Problem(0, 3, "cannot read the file header (track 2, sector 3)");
  m.Problem(0, 3, "read 0 of 2048 bytes (track 2, sector 3 onward); the rest is written as zeros");
  return m.Make();
}

// A first sector of 5 bytes: 78 00 AA BB 78. The sizes are 0078 and
// 0078 + (0 << 8), stored; the previous entry's header had 06 in byte 5,
// which would make fileSize 0678 and the body compressed.
Scenario HeaderOfFiveBytes() {
  ImageMaker m;
  m.Stored(0, 0, 6, Noise(0x0612, 3));
  m.Disk(0).WriteSector(12, {0x78, 0x00, 0xAA, 0xBB, 0x78}).SetSectorDataSize(12, 5, 5);
  m.Disk(0).SetEntry(1, 12, 0, 1);
  m.Line(0, 1, "FILE001: 0c 00 01 => TRACK = 02 SECTOR = 03 SIZE = 0078 \n");
  m.SetFile(0, 1, Bytes(0x78, 0));
  m.Problem(0, 1, HeaderUnread(2, 3));
  m.Problem(0, 1, ReadShort(0, 1024, 2, 3));
  m.Problem(0, 1, kRunsPast);
  return m.Make();
}

// Entries pointing far outside the 164 tracks: FF FF FE (linear sector
// 65,535, track 13,107, 254 sectors) and FE FF FF are used entries.
Scenario EntriesBeyondTheDisk() {
  ImageMaker m;
  m.Stored(0, 2, 6, Noise(300, 5));
  m.Disk(0).SetEntry(0, 0xFF, 0xFF, 0xFE).SetEntry(1, 0xFE, 0xFF, 0xFF);
  m.Line(0, 0, "FILE000: ff ff fe => TRACK = 13107 SECTOR = 01 SIZE = 0000 \n");
  m.Line(0, 1, "FILE001: fe ff ff => TRACK = 13106 SECTOR = 05 SIZE = 0000 \n");
  m.SetFile(0, 0, {});
  m.SetFile(0, 1, {});
  m.Problem(0, 0, HeaderUnread(13107, 1));
  m.Problem(0, 0, ReadShort(0, 260096, 13107, 1));
  m.Problem(0, 1, HeaderUnread(13106, 5));
  m.Problem(0, 1, ReadShort(0, 261120, 13106, 5));
  return m.Make();
}

TEST(E2eDamagedWalk, UnreadableHeaderGivesZeroSizesNeverAnEarlierOnes) {
  CheckRows({
      {"first sector missing", HeaderMissing()},
      {"first sector of 5 bytes", HeaderOfFiveBytes()},
      {"entries beyond the last track", EntriesBeyondTheDisk()},
  });
}

// Extraction

Scenario OneFile(bool compressed, int start, const Bytes& content, int expectSectors = -1) {
  ImageMaker m;
  int next =
      compressed ? m.Compressed(0, 0, start, content, false) : m.Stored(0, 0, start, content);
  if (expectSectors >= 0) {
    EXPECT_EQ(expectSectors, next - start);
  }
  return m.Make();
}

Scenario AllLiterals65535() {
  ImageMaker m;
  Bytes content = Noise(65535, 9);
  // 8,192 flag bytes and 65,535 literals after the header: 73 sectors.
  EXPECT_EQ(73, m.Compressed(0, 0, 6, content, true) - 6);
  return m.Make();
}

// Sizes 0 and 0: stored and empty. fileSize 0 with another packedSize:
// compressed, expands to nothing.
Scenario EmptyFiles() {
  ImageMaker m;
  m.Add(0, 0, 6, FileHeaderBytes(0, 0), 1, 0, {});
  m.Add(0, 1, 7, Join(FileHeaderBytes(0x1234, 0), Noise(500, 1)), 1, 0x1234, {});
  return m.Make();
}

// Entry length 0 reads nothing past the first sector, which already holds a
// stored body of up to 1016 bytes whole.
Scenario StoredInLengthZero() {
  ImageMaker m;
  Bytes content = Noise(1016, 11);
  m.Add(0, 0, 6, Join(FileHeaderBytes(1016, 1016), content), 0, 1016, content);
  return m.Make();
}

// Pairs into every pre-filled area of the window: runs of one value, the
// ascending and descending bytes, zeros and spaces.
Bytes WindowPatterns() {
  Bytes b;
  for (int v = 0; v < 256; v += 17) b.insert(b.end(), 13, (uint8_t)v);
  for (int v = 0x30; v < 0x60; ++v) b.push_back((uint8_t)v);
  for (int v = 0xF0; v > 0xC0; --v) b.push_back((uint8_t)v);
  b.insert(b.end(), 40, 0);
  b.insert(b.end(), 60, ' ');
  return Join(b, Prose(500));
}

TEST(E2eExtraction, FilesComeOutByteForByte) {
  CheckRows({
      {"stored text", OneFile(false, 6, Prose(700))},
      {"compressed text", OneFile(true, 6, Prose(5000))},
      {"compressed, pairs into the pre-filled window", OneFile(true, 6, WindowPatterns())},
      // Linear sector 14 is track 2 (cylinder 1, head 0) sector 5; the file
      // goes on through track 3 (cylinder 1, head 1) into track 4 (cylinder 2).
      {"stored across head and cylinder", OneFile(false, 14, Noise(8 * 1024 - 8, 12), 8)},
      {"compressed across head and cylinder", OneFile(true, 14, Noise(7000, 13), 8)},
      {"fileSize 65,535 stored in 65 sectors", OneFile(false, 6, Noise(65535, 14), 65)},
      {"fileSize 65,535 as literals only in 73 sectors", AllLiterals65535()},
      {"fileSize 0: empty files", EmptyFiles()},
      {"1016 stored bytes with entry length 0", StoredInLengthZero()},
  });
}

// A000, A007 and C335; the 27th disk's names begin with '[' (code 91).
TEST(E2eExtraction, NamesFollowDiskAndSlot) {
  ImageMaker m(27);
  m.Stored(0, 0, 6, Text("A000"));
  m.Stored(0, 7, 7, Text("A007"));
  m.Stored(2, 335, 6, Text("C335"));
  m.Stored(26, 0, 6, Text("27th disk"));
  Scenario s = m.Make();
  std::vector<std::string> names;
  for (const auto& [name, content] : s.expect.files) names.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"A000", "A007", "C335", "[000"}), names);
  CheckScenario(s);
}

// A second run in the same folder replaces the first run's files (also with
// shorter ones) and does not take them for files written earlier in its own
// run; names it does not make stay as they were.
TEST(E2eExtraction, SecondRunReplacesItsFilesOnly) {
  ImageMaker first;
  first.Stored(0, 0, 6, Noise(3000, 21));
  first.Compressed(0, 1, 9, Prose(4000));
  ImageMaker second;
  second.Stored(0, 0, 6, Text("shorter"));
  Scenario a = first.Make(), b = second.Make();

  TempDir dir;
  Bytes foreign = Text("not the tool's");
  WriteFileBytes(dir.File("A999"), foreign);
  WriteFileBytes(dir.File("notes.txt"), foreign);
  Files leftAlone = {{"A999", foreign}, {"notes.txt", foreign}};

  Expectation expect = a.expect;
  expect.files.insert(leftAlone.begin(), leftAlone.end());
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run) + " of the first image");
    ExpectRun(dir, RunOnImage(dir, a.image), expect);
  }
  SCOPED_TRACE("the second image after the first");
  expect = b.expect;
  expect.files.insert(leftAlone.begin(), leftAlone.end());
  expect.files["A001"] = a.expect.files.at("A001");
  ExpectRun(dir, RunOnImage(dir, b.image), expect);
}

// Two disks in the manner of a game's data disks: text, a picture stored and
// compressed, a long file from head 0 through head 1 into the next cylinder,
// zeros, and a short text that pairs into the window's pre-fill.
TEST(E2eExtraction, MultiDiskImageComesBackWhole) {
  ImageMaker m(2);
  m.Stored(0, 0, 6, Text("DISK 1\r\nA stored text file.\r\n"));
  m.Compressed(0, 1, 7, Prose(3500));
  int next = m.Stored(0, 5, 13, Prose(8 * 1024 - 8));
  next = m.Stored(0, 2, next, zelvrin_test::BmpPicture(48, 32));
  m.Compressed(0, 4, next, zelvrin_test::BmpPicture(48, 32));
  next = m.Compressed(1, 0, 6, Bytes(5000, 0));
  next = m.Stored(1, 1, next, Text("DISK 2\r\n"));
  m.Compressed(1, 7, next, Text("The window starts with a known pattern.   0123456789"));
  CheckScenario(m.Make());
}

// Files compressed by an independent encoder of this token format.
TEST(E2eExtraction, OkumuraVector) {
  std::string shared = SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared folder with vectors/okumura is absent";
  std::string vector = shared + "/vectors/okumura";
  Expectation expect;
  Bytes report = ReadFileBytes(vector + "/expected/report.txt");
  expect.out.assign(report.begin(), report.end());
  for (int i = 0; i < 10; ++i) {
    std::string name = Name(0, i);
    expect.files[name] = ReadFileBytes(vector + "/expected/" + name);
  }
  TempDir dir;
  ExpectRun(dir, RunOnImage(dir, ReadFileBytes(vector + "/okumura.d88")), expect);
}

// Damaged files: exactly fileSize bytes, this file's own bytes or zeros

// Stored, 2,000 bytes from linear sector 12 (track 2, sector 3) over two
// sectors, the second damaged by `damage`; `kept` of its bytes still arrive.
Scenario StoredSecondSectorDamaged(void (*damage)(VolumeBuilder&), size_t kept) {
  ImageMaker m;
  m.Stored(0, 0, 6, Noise(6 * 1024 - 8, 30));  // leaves the buffer dirty well past 2048
  Bytes content = Noise(2000, 31);
  m.Stored(0, 1, 12, content);
  damage(m.Disk(0));
  Bytes written = Take(content, 1016 + kept);
  written.resize(2000, 0);
  m.SetFile(0, 1, written);
  m.Problem(0, 1, ReadShort(1024, 2048, 2, 3));
  m.Problem(0, 1, kRunsPast);
  return m.Make();
}

// A short second sector places 512 bytes past what its read counts; they
// belong to that file only. The next file's second sector is missing, and
// its gap at the same offsets must read as zeros.
Scenario ShortSectorThenGap() {
  ImageMaker m;
  Bytes first = Noise(2000, 38);
  m.Stored(0, 0, 6, first);
  m.Disk(0).SetSectorDataSize(7, 512, 512);
  Bytes firstWritten = Take(first, 1016 + 512);
  firstWritten.resize(2000, 0);
  m.SetFile(0, 0, firstWritten);
  m.Problem(0, 0, ReadShort(1024, 2048, 1, 2));
  m.Problem(0, 0, kRunsPast);
  Bytes second = Noise(2000, 39);
  m.Stored(0, 1, 8, second);
  m.Disk(0).RemoveSector(9);
  Bytes secondWritten = Take(second, 1016);
  secondWritten.resize(2000, 0);
  m.SetFile(0, 1, secondWritten);
  m.Problem(0, 1, ReadShort(1024, 2048, 1, 4));
  m.Problem(0, 1, kRunsPast);
  return m.Make();
}

// The image ends 300 bytes into the data of its last sector, the second
// sector of a stored file at linear sectors 13 and 14.
Scenario CutByEndOfFile() {
  ImageMaker m;
  m.Stored(0, 0, 6, Noise(5000, 32));
  Bytes content = Noise(2000, 33);
  m.Stored(0, 1, 13, content);
  Bytes written = Take(content, 1016 + 300);
  written.resize(2000, 0);
  m.SetFile(0, 1, written);
  m.Problem(0, 1, ReadShort(1024, 2048, 2, 4));
  m.Problem(0, 1, kRunsPast);
  Scenario s = m.Make();
  s.image.resize(s.image.size() - (1024 - 300));
  return s;
}

// The same literal-only stream as the read delivers it: 1,016 stream bytes
// are 112 whole groups (896 bytes) and 7 literals of the next; its 8th
// literal and every byte after it read as zero. Zero flag bytes then make
// pairs 00 00, copies of window positions 0 to 2, which hold output bytes 18
// to 20 (the first output byte went to position 4078).
Scenario CompressedSecondSectorMissing() {
  ImageMaker m;
  m.Stored(0, 0, 6, Noise(8 * 1024 - 8, 34));
  Bytes content = Noise(2000, 35);
  EXPECT_EQ(3, m.Compressed(0, 1, 14, content, true) - 14);
  m.Disk(0).RemoveSector(15);
  Bytes written = Take(content, 903);
  written.push_back(0);
  while (written.size() < content.size())
    written.push_back(content[18 + (written.size() - 904) % 3]);
  m.SetFile(0, 1, written);
  m.Problem(0, 1, ReadShort(1024, 3072, 2, 5));
  m.Problem(0, 1, kRunsPast);
  return m.Make();
}

// The entry's length (1 sector) is shorter than header and body (3,008
// bytes): the sectors after it hold the rest, but the entry does not cover
// them, so zeros stand in.
Scenario LengthShorterThanBody() {
  ImageMaker m;
  Bytes content = Noise(3000, 36);
  m.Add(0, 0, 6, Join(FileHeaderBytes(3000, 3000), content), 1, 3000, content);
  Bytes written = Take(content, 1016);
  written.resize(3000, 0);
  m.SetFile(0, 0, written);
  m.Problem(0, 0, kRunsPast);
  return m.Make();
}

// The read comes up short, but the body lies wholly in what arrived: only the
// read is reported.
Scenario BodyFitsWhatArrived() {
  ImageMaker m;
  Bytes content = Noise(1016, 37);
  m.Add(0, 0, 6, Join(FileHeaderBytes(1016, 1016), content), 2, 1016, content);
  m.Disk(0).RemoveSector(7);
  m.Problem(0, 0, ReadShort(1024, 2048, 1, 2));
  m.Add(0, 1, 8, Join(FileHeaderBytes(9, 0), Noise(100, 38)), 3, 9, {});
  m.Disk(0).RemoveSector(9);
  m.Problem(0, 1, ReadShort(1024, 3072, 1, 4));
  return m.Make();
}

// Big files fill the buffer, then damaged files follow on the same disk and
// on the next one: their gaps must be zeros, never a big file's bytes, and an
// unread header gives sizes 0000, not the previous entry's.
Scenario DamagedAfterBigFiles() {
  ImageMaker m(2);
  m.Stored(0, 0, 6, Noise(30 * 1024 - 8, 40));
  Bytes content = Noise(3000, 41);
  m.Stored(0, 1, 36, content);  // track 7, sector 2
  m.Disk(0).RemoveSector(37).RemoveSector(38);
  Bytes written = Take(content, 1016);
  written.resize(3000, 0);
  m.SetFile(0, 1, written);
  m.Problem(0, 1, ReadShort(1024, 3072, 7, 2));
  m.Problem(0, 1, kRunsPast);
  m.Stored(0, 2, 39, Noise(30 * 1024 - 8, 42));

  m.Stored(1, 0, 6, content);
  m.Disk(1).RemoveSector(7).RemoveSector(8);
  m.SetFile(1, 0, written);
  m.Problem(1, 0, ReadShort(1024, 3072, 1, 2));
  m.Problem(1, 0, kRunsPast);
  m.Disk(1).SetEntry(1, 20, 0, 4).RemoveSector(20);
  m.Line(1, 1, ReportLine(1, 20, 0, 4, 0, 0));
  m.SetFile(1, 1, {});
  m.Problem(1, 1, HeaderUnread(4, 1));
  m.Problem(1, 1, ReadShort(0, 4096, 4, 1));
  return m.Make();
}

TEST(E2eDamagedExtraction, ShortReadsGiveZeroFilledFiles) {
  CheckRows({
      {"second sector missing",
       StoredSecondSectorDamaged([](VolumeBuilder& v) { v.RemoveSector(13); }, 0)},
      // The 512 bytes the short sector placed are this file's own.
      {"second sector of 512 bytes",
       StoredSecondSectorDamaged([](VolumeBuilder& v) { v.SetSectorDataSize(13, 512, 512); }, 512)},
      {"bytes of a short sector do not outlive their file", ShortSectorThenGap()},
      {"image cut inside the last sector", CutByEndOfFile()},
      {"compressed, second sector missing", CompressedSecondSectorMissing()},
      {"entry length shorter than the body", LengthShorterThanBody()},
      {"short read, body complete", BodyFitsWhatArrived()},
      {"no bytes of an earlier file or disk", DamagedAfterBigFiles()},
  });
}

// Output files that cannot be made or written

Scenario TwoSmallFiles() {
  ImageMaker m;
  m.Stored(0, 0, 6, Noise(100, 50));
  m.Compressed(0, 1, 7, Prose(6000));
  return m.Make();
}

TEST(E2eOutputFiles, NameTakenByAFolder) {
  Scenario s = TwoSmallFiles();
  TempDir dir;
  std::filesystem::create_directory(dir.File("A000"));
  ToolRun run = RunOnImage(dir, s.image);
  std::string prefix = "zelvrin: A000: cannot create file: ";
  // Linux says EISDIR; Windows gives its own reason, whatever it is.
  std::string reason = strerror(EISDIR);
  if (UnderLauncher() && run.err.compare(0, prefix.size(), prefix) == 0)
    reason = run.err.substr(prefix.size(), run.err.find_first_of("\r\n") - prefix.size());
  s.expect.err = prefix + reason + "\n";
  s.expect.status = 2;
  s.expect.files.erase("A000");
  ExpectRun(dir, run, s.expect, {"A000"});
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("A000")));
}

// A000 leads to /dev/full: every write fails with ENOSPC, the small stored
// file when it is closed, the larger compressed one while it expands.
TEST(E2eOutputFiles, WriteFailureIsReported) {
  if (UnderLauncher()) GTEST_SKIP() << "needs a POSIX symbolic link to /dev/full";
  for (const char* name : {"A000", "A001"}) {
    SCOPED_TRACE(name);
    Scenario s = TwoSmallFiles();
    TempDir dir;
    ASSERT_EQ(0, symlink("/dev/full", dir.File(name).c_str()));
    ToolRun run = RunOnImage(dir, s.image);
    s.expect.err =
        std::string("zelvrin: ") + name + ": cannot write file: " + strerror(ENOSPC) + "\n";
    s.expect.status = 2;
    s.expect.files.erase(name);
    ExpectRun(dir, run, s.expect, {name});
  }
}

// On Linux a hard link made before the run, a007 to A007, is what a file
// system that ignores case makes of the 33rd disk's names: the tool must not
// replace the 1st disk's A007 through it.
TEST(E2eOutputFiles, NeverReplacesAFileOfTheSameRun) {
  if (UnderLauncher()) GTEST_SKIP() << "needs a POSIX hard link";
  ImageMaker m(33);
  m.Stored(0, 7, 6, Text("first disk"));
  m.Stored(32, 7, 6, Text("33rd disk"));
  m.Stored(32, 8, 7, Text("33rd disk, another slot"));
  m.SetFile(32, 7, m.File(0, 7));  // the same file as A007
  Scenario s = m.Make();
  s.expect.err = "zelvrin: a007: would replace A007 written earlier in this run; not written\n";
  s.expect.status = 2;

  TempDir dir;
  WriteFileBytes(dir.File("A007"), Text("before the run"));
  ASSERT_EQ(0, link(dir.File("A007").c_str(), dir.File("a007").c_str()));
  ExpectRun(dir, RunOnImage(dir, s.image), s.expect);
}

// Images made by other tools: no game volume, every directory unreadable

TEST(E2eRealworld, NoVolumeOnRealImages) {
  std::string shared = SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared folder with realworld images is absent";
  struct {
    const char* file;
    int disks;
  } rows[] = {
      {"hubasic-2d.d88", 1},           {"cpm-2d.d88", 1},      {"lsx-mixed-sizes.d88", 1},
      {"truncated-last-track.d88", 1}, {"three-disks.d88", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    std::string path = shared + "/realworld/" + row.file;
    if (!std::filesystem::exists(path)) {
      ADD_FAILURE() << path << " is missing";
      continue;
    }
    Expectation expect;
    for (int disk = 1; disk <= row.disks; ++disk)
      expect.err += "zelvrin: disk " + std::to_string(disk) + ": " + kDirectoryUnread + "\n";
    expect.status = 2;
    TempDir dir;
    ExpectRun(dir, RunOnImage(dir, ReadFileBytes(path)), expect);
  }
}

}  // namespace
