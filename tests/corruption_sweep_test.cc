// Corruption sweeps: a three-disk image of stored and compressed files is cut
// at every sector boundary and at random lengths, and gets random bit and byte
// flips in each kind of header, and the built binary runs on every variant.
// Whatever the damage, the tool ends with status 0 or 2 (0 only when it
// reported nothing), writes files only in its working folder and only under
// names of the naming rule, prints only report lines and problem lines, and a
// second run on the same bytes in a fresh folder gives the same files and the
// same output. The random cases come from a fixed seed; a failure names the
// seed, the case and the bytes changed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/run_tool.h"

namespace {

namespace fs = std::filesystem;
using zelvrin_test::Bytes;
using zelvrin_test::FileHeaderBytes;
using zelvrin_test::ReadFileBytes;
using zelvrin_test::RunTool;
using zelvrin_test::TempDir;
using zelvrin_test::ToolRun;
using zelvrin_test::VolumeBuilder;
using zelvrin_test::WriteFileBytes;

const uint32_t kSeed = 0x2F6A11C5;
const int kRandomCuts = 200;
const int kFlipCasesPerRegion = 50;
const int kMaxFailuresShown = 5;

const size_t kDiskHeaderSize = 688;
const size_t kRecordSize = 16 + 1024;
const int kSectorsPerTrack = 5;
const char kImageName[] = "image.d88";

// A stretch of the image and what it holds, for messages.
struct Region {
  size_t at;
  size_t size;
  std::string what;
};

Bytes Text(int lines, const std::string& what) {
  std::string s;
  for (int i = 1; i <= lines; ++i) s += "Line " + std::to_string(i) + ": " + what + "\r\n";
  return Bytes(s.begin(), s.end());
}

Bytes Ramps(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = (uint8_t)(i % 300 < 150 ? i / 64 : i % 7);
  return b;
}

// One disk of the image and the linear sectors where its files start.
struct Disk {
  VolumeBuilder volume;
  std::vector<int> fileStarts;

  int Stored(int slot, int start, const Bytes& content) {
    fileStarts.push_back(start);
    return volume.AddStoredFile(slot, start, content);
  }
  int Compressed(int slot, int start, const Bytes& content) {
    fileStarts.push_back(start);
    return volume.AddCompressedFile(slot, start, content);
  }
};

// Disk 1: a long stored file from sector 4 of track 2 over head 1 into
// cylinder 2. Disk 2: a compressed file from track 1 (head 1) into cylinder 1,
// and the last slot. Disk 3: an entry whose length is 0 sectors.
std::vector<Disk> Disks() {
  std::vector<Disk> disks(3);
  Disk& a = disks[0];
  a.Stored(0, 6, Text(3, "a stored file in one sector"));
  a.Compressed(1, 7, Text(60, "the inn, the road north, the inn again"));
  int next = a.Stored(2, 13, Ramps(9000));
  next = a.Compressed(4, next, Text(120, "a compressed file over two tracks"));
  a.Stored(6, next, Bytes());

  Disk& b = disks[1];
  next = b.Compressed(0, 9, Ramps(12000));
  next = b.Stored(3, next, Text(80, "stored, over a cylinder boundary"));
  b.Compressed(335, next, Bytes(3000, 0x20));

  Disk& c = disks[2];
  next = c.Stored(1, 6, Text(2, "short"));
  Bytes inFirstSector = FileHeaderBytes(40, 40);
  inFirstSector.resize(48, 'z');
  c.fileStarts.push_back(next);
  c.volume.AddFile(2, next, inFirstSector, 0);
  return disks;
}

// The image, and where each kind of bytes lies in it. Every disk's tracks
// hold five whole 1024-byte records each, in track order from track 0, so
// linear sector L of a disk starts 688 + 1040 * L bytes into it.
struct SweepImage {
  Bytes bytes;
  std::vector<Region> boundaries;
  std::vector<Region> diskHeaders, trackTables, sectorHeaders, directories, fileHeaders;
};

SweepImage MakeSweepImage() {
  SweepImage image;
  std::vector<Disk> disks = Disks();
  for (size_t d = 0; d < disks.size(); ++d) {
    Bytes disk = disks[d].volume.Build();
    size_t base = image.bytes.size();
    std::string name = "disk " + std::to_string(d + 1);
    size_t records = (disk.size() - kDiskHeaderSize) / kRecordSize;
    if ((disk.size() - kDiskHeaderSize) % kRecordSize != 0 || records % kSectorsPerTrack != 0)
      throw std::runtime_error(name + ": the volume is not laid out in whole tracks of 5 records");

    image.boundaries.push_back({base, 0, name + " header"});
    image.diskHeaders.push_back({base + 0x1C, 4, name + " disk size"});
    image.diskHeaders.push_back({base, 0x1C, name + " name and flags"});
    for (size_t t = 0; t <= records / kSectorsPerTrack; ++t)
      image.trackTables.push_back(
          {base + 0x20 + 4 * t, 4, name + " track table entry " + std::to_string(t)});
    for (size_t linear = 0; linear < records; ++linear) {
      size_t at = base + kDiskHeaderSize + kRecordSize * linear;
      int track = (int)linear / kSectorsPerTrack, r = (int)linear % kSectorsPerTrack + 1;
      if (disk[at - base] != (track >> 1) || disk[at - base + 1] != (track & 1) ||
          disk[at - base + 2] != r || disk[at - base + 3] != 3)
        throw std::runtime_error(name + ": records not in the expected order");
      std::string where = name + " track " + std::to_string(track) + " R " + std::to_string(r);
      image.boundaries.push_back({at, 0, where + " record"});
      image.boundaries.push_back({at + 16, 0, where + " data"});
      image.sectorHeaders.push_back({at, 6, where + " ID and sector count"});
      image.sectorHeaders.push_back({at + 14, 2, where + " data size"});
    }
    size_t directory = base + kDiskHeaderSize + kRecordSize * 5 + 16;
    image.directories.push_back({directory + 16, 1008, name + " directory, any entry"});
    for (int slot = 0; slot < 336; ++slot)
      if (disk[directory - base + 16 + 3 * slot] != 0xFF)
        image.directories.push_back(
            {directory + 16 + 3 * slot, 3, name + " directory slot " + std::to_string(slot)});
    for (int start : disks[d].fileStarts) {
      size_t header = base + kDiskHeaderSize + kRecordSize * start + 16;
      std::string file = name + " file at sector " + std::to_string(start);
      image.fileHeaders.push_back({header, 2, file + " packedSize"});
      image.fileHeaders.push_back({header + 4, 2, file + " fileSize"});
    }
    image.bytes.insert(image.bytes.end(), disk.begin(), disk.end());
  }
  image.boundaries.push_back({image.bytes.size(), 0, "end of the image"});
  return image;
}

const SweepImage& TheImage() {
  static const SweepImage image = MakeSweepImage();
  return image;
}

std::string Hex(const std::string& bytes, size_t at) {
  std::string out;
  char cell[8];
  size_t from = at >= 8 ? at - 8 : 0;
  for (size_t i = from; i < bytes.size() && i < at + 8; ++i) {
    snprintf(cell, sizeof(cell), i == at ? "[%02x]" : " %02x", (unsigned)(uint8_t)bytes[i]);
    out += cell;
  }
  return out;
}

// "" when equal, else the first difference with the bytes around it.
std::string Difference(const std::string& first, const std::string& second) {
  if (first == second) return "";
  size_t at = 0;
  while (at < first.size() && at < second.size() && first[at] == second[at]) ++at;
  return "first difference at byte " + std::to_string(at) + " (" + std::to_string(first.size()) +
         " and " + std::to_string(second.size()) + " bytes): " + Hex(first, at) + " vs " +
         Hex(second, at);
}

bool FollowsNamingRule(const std::string& name) {
  if (name.size() != 4) return false;
  unsigned first = (uint8_t)name[0];
  if (first < 65 || first > 128) return false;
  for (size_t i = 1; i < 4; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return std::stoi(name.substr(1)) <= 335;
}

// The name as it stands and in hex, since it may hold any byte.
std::string HexName(const std::string& name) {
  std::string out = name + " (";
  char cell[4];
  for (char c : name) {
    snprintf(cell, sizeof(cell), "%02x", (unsigned)(uint8_t)c);
    out += cell;
  }
  return out + ")";
}

// Matches `text` against `shape`, in which 9 stands for a decimal digit, f for
// a lowercase hexadecimal one and # for two or more decimal digits.
bool Matches(const std::string& text, const std::string& shape) {
  size_t t = 0;
  for (char s : shape) {
    if (s == '#') {
      size_t from = t;
      while (t < text.size() && isdigit((uint8_t)text[t])) ++t;
      if (t - from < 2) return false;
    } else if (t >= text.size()) {
      return false;
    } else if (s == '9') {
      if (!isdigit((uint8_t)text[t++])) return false;
    } else if (s == 'f') {
      if (!isxdigit((uint8_t)text[t]) || isupper((uint8_t)text[t])) return false;
      ++t;
    } else if (text[t++] != s) {
      return false;
    }
  }
  return t == text.size();
}

// Every line of standard output a report line (a stored entry's ends in a
// blank, a compressed one's in both sizes), every line of standard error a
// problem line. Returns "" or the first line that is neither.
std::string BadLine(const std::string& text, bool report) {
  const std::string stored = "FILE999: ff ff ff => TRACK = # SECTOR = ff SIZE = ffff ";
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    bool ok = report ? Matches(l, stored) || Matches(l, stored + " ** ffff ffff")
                     : l.rfind("zelvrin: ", 0) == 0 && l.size() > 9;
    if (!ok) return "unexpected line: " + l;
  }
  if (!text.empty() && text.back() != '\n') return "last line unterminated";
  return "";
}

struct Outcome {
  ToolRun run;
  std::map<std::string, std::string> files;
};

// Runs the tool on `image` in folder `dir` of `root` and checks what a single
// run must hold. Returns "" or the first violation.
std::string RunOnce(const Bytes& image, const TempDir& root, const std::string& dir,
                    Outcome* outcome) {
  fs::path work = fs::path(root.path()) / dir;
  fs::create_directory(work);
  WriteFileBytes((work / kImageName).string(), image);
  outcome->run = RunTool({kImageName}, work.string());
  const ToolRun& run = outcome->run;

  if (run.status != 0 && run.status != 2) return "status " + std::to_string(run.status);
  if ((run.status == 0) != run.err.empty())
    return "status " + std::to_string(run.status) + " with standard error: " + run.err;
  std::string bad = BadLine(run.out, true);
  if (!bad.empty()) return "standard output: " + bad;
  bad = BadLine(run.err, false);
  if (!bad.empty()) return "standard error: " + bad;

  for (const auto& e : fs::directory_iterator(work)) {
    std::string name = e.path().filename().string();
    if (name == kImageName) continue;
    if (!FollowsNamingRule(name)) return "output name outside the rule: " + HexName(name);
    if (!fs::is_regular_file(fs::symlink_status(e.path())))
      return "output " + HexName(name) + " is not a plain file";
    Bytes bytes = ReadFileBytes(e.path().string());
    outcome->files[name].assign(bytes.begin(), bytes.end());
  }
  size_t lines = 0;
  for (char c : run.out) lines += c == '\n';
  if (outcome->files.size() > lines)
    return std::to_string(outcome->files.size()) + " files after " + std::to_string(lines) +
           " report lines";
  return "";
}

// Two runs in fresh folders side by side: each must hold the rules, nothing
// may appear beside the two folders, and both must come out the same.
std::string CheckImage(const Bytes& image) {
  TempDir root;
  Outcome first, second;
  std::string problem = RunOnce(image, root, "first", &first);
  if (problem.empty()) problem = RunOnce(image, root, "second", &second);
  if (!problem.empty()) return problem;
  for (const auto& e : fs::directory_iterator(root.path())) {
    std::string name = e.path().filename().string();
    if (name != "first" && name != "second") return "file outside the working folder: " + name;
  }
  if (first.run.status != second.run.status)
    return "status " + std::to_string(first.run.status) + " then " +
           std::to_string(second.run.status);
  std::string diff = Difference(first.run.out, second.run.out);
  if (!diff.empty()) return "standard output differs between two runs: " + diff;
  diff = Difference(first.run.err, second.run.err);
  if (!diff.empty()) return "standard error differs between two runs: " + diff;
  for (const auto& [name, bytes] : first.files) {
    auto other = second.files.find(name);
    if (other == second.files.end()) return "second run lacks " + HexName(name);
    diff = Difference(bytes, other->second);
    if (!diff.empty()) return HexName(name) + " differs between two runs: " + diff;
  }
  if (second.files.size() != first.files.size()) return "second run wrote more files";
  return "";
}

// Runs every case of a group and reports the failing ones with how to find
// them again, a few at most.
class Sweep {
 public:
  // seed 0: the group's cases are not random.
  Sweep(const char* group, uint32_t seed) : group_(group), seed_(seed) {}
  void Case(const Bytes& image, const std::string& description) {
    std::string problem = CheckImage(image);
    ++cases_;
    if (problem.empty() || ++failures_ > kMaxFailuresShown) return;
    std::ostringstream seed;
    if (seed_ != 0) seed << ", seed 0x" << std::hex << seed_;
    ADD_FAILURE() << group_ << seed.str() << ", case " << cases_ - 1 << " (" << description
                  << "): " << problem;
  }
  ~Sweep() {
    if (failures_ > kMaxFailuresShown)
      ADD_FAILURE() << group_ << ": " << failures_ << " of " << cases_ << " cases failed";
  }

 private:
  const char* group_;
  uint32_t seed_;
  int cases_ = 0;
  int failures_ = 0;
};

std::string HexOffset(size_t at) {
  char s[24];
  snprintf(s, sizeof(s), "0x%zx", at);
  return s;
}

// Cases of 1 to 3 changes in the given regions: a bit flipped, or a byte set
// to a random value. mt19937's output is the same everywhere, so the cases are.
void FlipSweep(const char* group, uint32_t seed, const std::vector<Region>& regions) {
  ASSERT_FALSE(regions.empty());
  std::mt19937 rng(seed);
  Sweep sweep(group, seed);
  for (int i = 0; i < kFlipCasesPerRegion; ++i) {
    Bytes image = TheImage().bytes;
    std::string description;
    for (int changes = 1 + (int)(rng() % 3); changes > 0; --changes) {
      const Region& region = regions[rng() % regions.size()];
      size_t at = region.at + rng() % region.size;
      uint8_t before = image[at];
      image[at] = rng() % 2 ? (uint8_t)(before ^ (1u << (rng() % 8))) : (uint8_t)rng();
      char change[32];
      snprintf(change, sizeof(change), " %02x -> %02x", before, image[at]);
      description +=
          (description.empty() ? "" : "; ") + region.what + " at " + HexOffset(at) + change;
    }
    sweep.Case(image, description);
  }
}

class CorruptionSweep : public ::testing::Test {
 protected:
  // The tool allocates nothing, and LeakSanitizer's check at each exit is most
  // of the time a sanitized run takes; the end-to-end tests and the fuzz
  // replays keep it. A setting given from outside wins.
  static void SetUpTestSuite() {
    const char* given = getenv("ASAN_OPTIONS");
    std::string options = given ? given : "";
    if (options.find("detect_leaks") != std::string::npos) return;
    options += options.empty() ? "detect_leaks=0" : ":detect_leaks=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
  }
};

TEST_F(CorruptionSweep, UndamagedImageIsReadWhole) {
  TempDir root;
  Outcome outcome;
  EXPECT_EQ(RunOnce(TheImage().bytes, root, "run", &outcome), "");
  EXPECT_EQ(outcome.run.status, 0);
  EXPECT_EQ(outcome.run.err, "");
  std::vector<std::string> names;
  for (const auto& [name, bytes] : outcome.files) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"A000", "A001", "A002", "A004", "A006", "B000", "B003",
                                             "B335", "C001", "C002"}));
}

TEST_F(CorruptionSweep, CutAtEverySectorBoundary) {
  Sweep sweep("cut at every record and data start", 0);
  for (const Region& cut : TheImage().boundaries) {
    Bytes image(TheImage().bytes.begin(), TheImage().bytes.begin() + (long)cut.at);
    sweep.Case(image, "cut to " + std::to_string(cut.at) + " bytes, at " + cut.what);
  }
}

TEST_F(CorruptionSweep, CutAtRandomLengths) {
  std::mt19937 rng(kSeed);
  Sweep sweep("cut at random lengths", kSeed);
  const Bytes& whole = TheImage().bytes;
  for (int i = 0; i < kRandomCuts; ++i) {
    size_t length = rng() % whole.size();
    sweep.Case(Bytes(whole.begin(), whole.begin() + (long)length),
               "cut to " + std::to_string(length) + " bytes");
  }
}

TEST_F(CorruptionSweep, FlipsInDiskHeaders) {
  FlipSweep("flips in disk headers", kSeed + 1, TheImage().diskHeaders);
}

TEST_F(CorruptionSweep, FlipsInTrackTables) {
  FlipSweep("flips in track tables", kSeed + 2, TheImage().trackTables);
}

TEST_F(CorruptionSweep, FlipsInSectorHeaders) {
  FlipSweep("flips in sector headers", kSeed + 3, TheImage().sectorHeaders);
}

TEST_F(CorruptionSweep, FlipsInTheDirectory) {
  FlipSweep("flips in the directory", kSeed + 4, TheImage().directories);
}

TEST_F(CorruptionSweep, FlipsInFileHeaders) {
  FlipSweep("flips in file headers", kSeed + 5, TheImage().fileHeaders);
}

}  // namespace
