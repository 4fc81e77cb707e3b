// Tests of the D88 reader: images built here with every field that matters set
// right or wrong on purpose, and real images made by other people's tools.
#include "d88/d88_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/run_tool.h"

namespace {

using zelvrin_test::Bytes;
using zelvrin_test::Concat;
using zelvrin_test::DiskBuilder;
using zelvrin_test::ReadFileBytes;
using zelvrin_test::TempDir;
using zelvrin_test::WriteFileBytes;

// Buffers start filled with this, so bytes a read must not touch show.
const uint8_t kFill = 0xEE;

// Sector data that differs from record to record and from byte to byte, so a
// read from the wrong record or the wrong position shows.
Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = (uint8_t)(seed * 31 + i * 7 + (i >> 8));
  return b;
}

std::string Hex(const uint8_t* p, size_t from, size_t to) {
  std::string s;
  char t[4];
  for (size_t i = from; i < to; ++i) {
    snprintf(t, sizeof(t), "%02X ", p[i]);
    s += t;
  }
  return s;
}

// Compares two byte runs; on a difference shows both in hex around the first one.
::testing::AssertionResult SameBytes(const Bytes& want, const uint8_t* got, size_t gotSize) {
  size_t n = std::min(want.size(), gotSize);
  size_t i = 0;
  while (i < n && want[i] == got[i]) ++i;
  if (i == n && want.size() == gotSize) return ::testing::AssertionSuccess();
  size_t from = i < 8 ? 0 : i - 8;
  return ::testing::AssertionFailure()
         << "first difference at byte " << i << " (sizes " << want.size() << " and " << gotSize
         << ")\n  want [" << from << "..]: " << Hex(want.data(), from, std::min(want.size(), i + 8))
         << "\n  got  [" << from << "..]: " << Hex(got, from, std::min(gotSize, i + 8));
}

::testing::AssertionResult SameBytes(const Bytes& want, const Bytes& got) {
  return SameBytes(want, got.data(), got.size());
}

uint16_t Le16(const Bytes& b, size_t at) {
  return (uint16_t)(b.at(at) | b.at(at + 1) << 8);
}

uint32_t Le32(const Bytes& b, size_t at) {
  return (uint32_t)b.at(at) | (uint32_t)b.at(at + 1) << 8 | (uint32_t)b.at(at + 2) << 16 |
         (uint32_t)b.at(at + 3) << 24;
}

Bytes Slice(const Bytes& b, size_t from, size_t size) {
  return Bytes(b.begin() + from, b.begin() + from + size);
}

std::string WriteImage(const TempDir& dir, const Bytes& image,
                       const std::string& name = "image.d88") {
  std::string path = dir.File(name);
  WriteFileBytes(path, image);
  return path;
}

// A disk with one 256-byte sector, C 0 H 0 R 1 N 1 on track 0: the sector that
// ExpectNoDiskSelected tries to read.
Bytes NamedDisk(const std::string& name, uint8_t seed = 0) {
  return DiskBuilder().SetName(name).AddSector(0, 0, 0, 1, 1, Pattern(256, seed)).Build();
}

// No disk is selected: every read gives 0 and touches nothing. The name is
// empty but after Open with a null path, which leaves the last one in place.
void ExpectNoDiskSelected(D88Image& d88, const char* name = "") {
  EXPECT_EQ(d88.GetCurrentDisk(), -1);
  EXPECT_EQ(d88.GetMediaType(), -1);
  EXPECT_STREQ(d88.GetDiskName(), name);
  Bytes buf(512, kFill);
  EXPECT_EQ(d88.ReadSector(0, 0, 0, 1, 1, buf.data(), 256), 0);
  EXPECT_EQ(d88.ReadSectors(0, 0, 0, 1, 1, buf.data(), 256), 0);
  EXPECT_EQ(d88.GetSectorIds(0, buf.data(), 64), 0);
  EXPECT_TRUE(SameBytes(Bytes(512, kFill), buf));
}

// The C H R N entries that GetSectorIds stores.
Bytes Ids(const std::vector<std::vector<uint8_t>>& ids) {
  Bytes out;
  for (const auto& id : ids) out.insert(out.end(), id.begin(), id.end());
  return out;
}

// Open: finding the disks.

TEST(D88ImageOpen, FindsTheDisksPackedEndToEnd) {
  std::vector<Bytes> many;
  for (int i = 0; i < 65; ++i) many.push_back(NamedDisk("D" + std::to_string(i)));
  std::vector<std::string> first64;
  for (int i = 0; i < 64; ++i) first64.push_back("D" + std::to_string(i));

  struct Case {
    const char* what;
    Bytes image;
    int disks;
    std::vector<std::string> names;  // of the disks found, in file order
  };
  const Case cases[] = {
      // No whole disk header: the file opens all the same.
      {"0 bytes", {}, 0, {}},
      {"1 byte", Bytes(1, 0), 0, {}},
      {"687 bytes, one short of a disk header", Bytes(687, 0x11), 0, {}},
      // A header and nothing else; its disk size 688 places no next disk in the file.
      {"a lone 688-byte header", DiskBuilder().SetName("H").Build(), 1, {"H"}},
      {"three disks", Concat({NamedDisk("A"), NamedDisk("B"), NamedDisk("C")}), 3, {"A", "B", "C"}},
      // The 65th disk is whole but never looked for.
      {"65 disks", Concat(many), 64, first64},
      // A disk size of 0 would find this header again and again.
      {"first disk size 0 ends the walk",
       Concat({DiskBuilder().SetName("Z").SetDiskSize(0).Build(), NamedDisk("B")}),
       1,
       {"Z"}},
      // Below 688 the next header would overlap this one.
      {"disk size 687 ends the walk",
       Concat({DiskBuilder().SetName("Z").SetDiskSize(687).Build(), NamedDisk("B")}),
       1,
       {"Z"}},
      {"disk size 688 is whole: the next disk follows the header",
       Concat({DiskBuilder().SetName("A").SetDiskSize(688).Build(), NamedDisk("B")}),
       2,
       {"A", "B"}},
      // The disk counts; nothing lies where the next one would start.
      {"disk size reaching past the end of the file",
       Concat({NamedDisk("A"), DiskBuilder().SetName("B").SetDiskSize(100000).Build()}),
       2,
       {"A", "B"}},
      {"second header cut short by the end of the file",
       Concat({NamedDisk("A"), Bytes(687, 0)}),
       1,
       {"A"}},
      // Taken as signed, 0x80000000 would move the next disk before the file's start.
      {"disk size 0x80000000",
       Concat({DiskBuilder().SetName("A").SetDiskSize(0x80000000).Build(), NamedDisk("B")}),
       1,
       {"A"}},
      // 688 + 0xFFFFFD50 is 2^32: a 32-bit running offset would wrap to disk A.
      {"running offset reaching 2^32",
       Concat({DiskBuilder().SetName("A").SetDiskSize(688).Build(),
               DiskBuilder().SetName("B").SetDiskSize(0xFFFFFD50).Build(), NamedDisk("C")}),
       2,
       {"A", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    D88Image d88;
    ASSERT_TRUE(d88.Open(WriteImage(dir, c.image).c_str()));
    ASSERT_EQ(d88.GetDiskCount(), c.disks);
    for (int i = 0; i < c.disks; ++i) {
      SCOPED_TRACE("disk " + std::to_string(i));
      ASSERT_TRUE(d88.SelectDisk(i));
      EXPECT_EQ(d88.GetDiskName(), c.names[i]);
    }
    EXPECT_FALSE(d88.SelectDisk(c.disks));
    ExpectNoDiskSelected(d88);
  }
}

TEST(D88ImageOpen, MissingFileGivesFalseAndNothingToRead) {
  TempDir dir;
  D88Image d88;
  EXPECT_FALSE(d88.SelectDisk(0));  // before any Open
  EXPECT_FALSE(d88.Open(dir.File("absent.d88").c_str()));
  EXPECT_EQ(d88.GetDiskCount(), 0);
  EXPECT_FALSE(d88.SelectDisk(0));
  ExpectNoDiskSelected(d88);
}

TEST(D88ImageOpen, NullPathClosesTheImage) {
  TempDir dir;
  D88Image d88;
  EXPECT_TRUE(d88.Open(nullptr));  // nothing to close
  EXPECT_EQ(d88.GetDiskCount(), 0);

  ASSERT_TRUE(d88.Open(WriteImage(dir, Concat({NamedDisk("A"), NamedDisk("B")})).c_str()));
  ASSERT_TRUE(d88.SelectDisk(1));
  EXPECT_TRUE(d88.Open(nullptr));
  EXPECT_EQ(d88.GetDiskCount(), 0);
  EXPECT_FALSE(d88.SelectDisk(0));
  ExpectNoDiskSelected(d88, "B");
}

// Opening again replaces the image and ends the earlier selection, so no read
// takes the new file with the old disk's track table.
TEST(D88ImageOpen, OpeningAgainEndsTheSelection) {
  TempDir dir;
  std::string first = WriteImage(dir, Concat({NamedDisk("A", 1), NamedDisk("B", 2)}), "first.d88");
  std::string second = WriteImage(dir, NamedDisk("OTHER", 3), "second.d88");
  D88Image d88;
  ASSERT_TRUE(d88.Open(first.c_str()));
  ASSERT_TRUE(d88.SelectDisk(1));

  ASSERT_TRUE(d88.Open(second.c_str()));
  EXPECT_EQ(d88.GetDiskCount(), 1);
  ExpectNoDiskSelected(d88);
  ASSERT_TRUE(d88.SelectDisk(0));
  EXPECT_STREQ(d88.GetDiskName(), "OTHER");
  Bytes buf(256);
  EXPECT_EQ(d88.ReadSector(0, 0, 0, 1, 1, buf.data(), 256), 256);
  EXPECT_TRUE(SameBytes(Pattern(256, 3), buf));

  EXPECT_FALSE(d88.Open(dir.File("absent.d88").c_str()));
  EXPECT_EQ(d88.GetDiskCount(), 0);
  EXPECT_FALSE(d88.SelectDisk(0));
  ExpectNoDiskSelected(d88);
}

// Disk and track offsets of 2^31 and more, and disk offsets past 2^32, in a
// sparse file of about 6 GiB that takes a few KiB of disk space.
TEST(D88ImageOpen, OffsetsBeyond2GiBAnd4GiB) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a sparse file of 6 GiB, which this platform would write out in full";
#else
  const uint64_t kDisk1 = 0x80001000;              // disk 0's size
  const uint64_t kDisk2 = kDisk1 + 0xFFFFFFFFull;  // disk 1's size added: past 2^32
  Bytes disk0 = DiskBuilder()
                    .SetName("NEAR")
                    .SetDiskSize((uint32_t)kDisk1)
                    .AddSector(1, 0, 1, 1, 1, Pattern(256, 0xA1))
                    .SetTrackOffset(0, 0x80000000)
                    .Build();
  // Track 0 of disk 0, 2 GiB into the disk: a header-less track taken from a
  // built disk.
  Bytes farTrack = DiskBuilder().AddSector(0, 0, 0, 1, 1, Pattern(256, 0xA0)).Build();
  farTrack.erase(farTrack.begin(), farTrack.begin() + kDiskHeaderSize);
  Bytes disk1 = DiskBuilder()
                    .SetName("FAR")
                    .SetDiskSize(0xFFFFFFFF)
                    .AddSector(0, 0, 0, 1, 1, Pattern(256, 0xB0))
                    .Build();
  Bytes disk2 = NamedDisk("BEYOND", 0xC0);

  TempDir dir;
  std::string path = dir.File("large.d88");
  {
    std::ofstream out(path, std::ios::binary);
    const std::pair<uint64_t, const Bytes*> pieces[] = {
        {0, &disk0}, {0x80000000, &farTrack}, {kDisk1, &disk1}, {kDisk2, &disk2}};
    for (const auto& [at, bytes] : pieces) {
      out.seekp((std::streamoff)at);
      out.write((const char*)bytes->data(), (std::streamsize)bytes->size());
    }
    ASSERT_TRUE(out.good()) << "cannot write the sparse file " << path;
  }
  ASSERT_EQ(std::filesystem::file_size(path), kDisk2 + disk2.size());

  D88Image d88;
  ASSERT_TRUE(d88.Open(path.c_str()));
  ASSERT_EQ(d88.GetDiskCount(), 3);
  const struct {
    int disk;
    const char* name;
    int track, h;
    uint8_t seed;
  } reads[] = {
      {0, "NEAR", 0, 0, 0xA0},  // track offset 0x80000000
      {0, "NEAR", 1, 1, 0xA1},
      {1, "FAR", 0, 0, 0xB0},     // disk offset 0x80001000, disk size 0xFFFFFFFF
      {2, "BEYOND", 0, 0, 0xC0},  // disk offset past 2^32
  };
  for (const auto& r : reads) {
    SCOPED_TRACE(std::string(r.name) + " track " + std::to_string(r.track));
    ASSERT_TRUE(d88.SelectDisk(r.disk));
    EXPECT_STREQ(d88.GetDiskName(), r.name);
    Bytes buf(256);
    EXPECT_EQ(d88.ReadSector(r.track, 0, r.h, 1, 1, buf.data(), 256), 256);
    EXPECT_TRUE(SameBytes(Pattern(256, r.seed), buf));
  }
#endif
}

// SelectDisk: name, media type and the disk the reads go to.

TEST(D88ImageSelectDisk, SelectsOrEndsTheSelection) {
  // The 16-byte name runs into the terminator and reserved bytes, which are
  // not zero here; the 2-character name has text after its zero byte.
  Bytes disk0 = DiskBuilder()
                    .SetName("ABCDEFGHIJKLMNOP")
                    .PatchHeader(0x10, 'Q')
                    .PatchHeader(0x11, 'R')
                    .SetMediaType(0x20)
                    .AddSector(0, 0, 0, 1, 1, Pattern(256, 0x10))
                    .Build();
  Bytes disk1 = DiskBuilder()
                    .SetName(std::string("AB\0CDEF", 7))
                    .SetMediaType(0x00)
                    .AddSector(0, 0, 0, 9, 1, Pattern(64, 0x19))
                    .AddSector(0, 0, 0, 1, 1, Pattern(256, 0x11))
                    .Build();
  Bytes disk2 = DiskBuilder()
                    .SetName("Third disk")
                    .SetMediaType(0xFF)
                    .AddSector(0, 0, 0, 1, 1, Pattern(256, 0x12))
                    .Build();
  TempDir dir;
  D88Image d88;
  ASSERT_TRUE(d88.Open(WriteImage(dir, Concat({disk0, disk1, disk2})).c_str()));
  ASSERT_EQ(d88.GetDiskCount(), 3);

  struct Case {
    const char* what;
    int index;
    bool ok;
    const char* name;
    int mediaType;
    uint8_t seed;  // of the sector C 0 H 0 R 1 N 1 on track 0
  };
  // One object through all rows, so that every failing selection follows a
  // successful one that it must end.
  const Case cases[] = {
      {"16 name bytes, byte 0x10 not read; media type 0x20", 0, true, "ABCDEFGHIJKLMNOP", 32, 0x10},
      {"the disk count as index", 3, false, "", -1, 0},
      {"the third of three disks", 2, true, "Third disk", 255, 0x12},
      {"-1", -1, false, "", -1, 0},
      {"the first disk again", 0, true, "ABCDEFGHIJKLMNOP", 32, 0x10},
      {"a 2-character name after a 16-character one", 1, true, "AB", 0, 0x11},
      {"64", 64, false, "", -1, 0},
      {"the third disk again", 2, true, "Third disk", 255, 0x12},
      {"INT_MIN", INT_MIN, false, "", -1, 0},
      {"the second disk after a failure", 1, true, "AB", 0, 0x11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(d88.SelectDisk(c.index), c.ok);
    if (!c.ok) {
      ExpectNoDiskSelected(d88);
      continue;
    }
    EXPECT_EQ(d88.GetCurrentDisk(), c.index);
    EXPECT_STREQ(d88.GetDiskName(), c.name);
    EXPECT_EQ(d88.GetMediaType(), c.mediaType);
    Bytes buf(256);
    EXPECT_EQ(d88.ReadSector(0, 0, 0, 1, 1, buf.data(), 256), 256);
    EXPECT_TRUE(SameBytes(Pattern(256, c.seed), buf));
  }
}

// ReadSector: finding a record by its ID.

// One disk whose tracks each show one way of finding, or not finding, a
// sector; record data is Pattern(size, seed) with the seed given here. The
// last track's only sector loses its last 100 data bytes to the end of the file.
Bytes SamplerImage() {
  DiskBuilder d;
  d.AddSector(0, 0, 0, 1, 1, Pattern(256, 0x01)).AddSector(0, 0, 0, 2, 1, Pattern(256, 0x02));
  // Out of order, mixed sizes, and IDs that differ in one byte only.
  d.AddSector(1, 0, 1, 3, 2, Pattern(512, 0x13))
      .AddSector(1, 0, 1, 1, 0, Pattern(128, 0x11))
      .AddSector(1, 0, 1, 2, 1, Pattern(256, 0x12))
      .AddSector(1, 0, 1, 1, 1, Pattern(256, 0x14))
      .AddSector(1, 1, 1, 1, 1, Pattern(256, 0x15))
      .AddSector(1, 0, 0, 1, 1, Pattern(256, 0x16));
  // Four records that announce a count of 2.
  for (uint8_t r = 1; r <= 4; ++r) {
    d.AddSector(2, 0, 0, r, 1, Pattern(64, (uint8_t)(0x20 + r)));
    d.Record(2, r - 1).sectorCount = 2;
  }
  // Four records, the third announcing a count of 1.
  for (uint8_t r = 1; r <= 4; ++r) d.AddSector(3, 0, 0, r, 1, Pattern(64, (uint8_t)(0x30 + r)));
  d.Record(3, 2).sectorCount = 1;
  d.AddSector(4, 0, 0, 1, 1, Pattern(64, 0x41)).AddSector(4, 0, 0, 2, 1, Pattern(64, 0x42));
  d.Record(4, 0).sectorCount = 0;
  d.AddSector(5, 0, 0, 1, 1, {}).AddSector(5, 0, 0, 2, 1, Pattern(64, 0x52));
  d.AddSector(6, 0xFF, 0xFF, 0xFF, 0xFF, Pattern(32, 0x61))
      .AddSector(6, 0, 0, 0, 0, Pattern(32, 0x62));
  // Track 7 announces 3 records but holds 1: the scan runs on into track 8.
  d.AddSector(7, 0, 0, 1, 1, Pattern(64, 0x71));
  d.Record(7, 0).sectorCount = 3;
  d.AddSector(8, 4, 0, 1, 1, Pattern(64, 0x81)).AddSector(8, 4, 0, 2, 1, Pattern(64, 0x82));
  d.AddSector(20, 10, 0, 1, 1, Pattern(256, 0x91));
  Bytes image = d.Build();
  image.resize(image.size() - 100);
  return image;
}

TEST(D88ImageReadSector, FindsTheRecordByItsId) {
  TempDir dir;
  D88Image d88;
  ASSERT_TRUE(d88.Open(WriteImage(dir, SamplerImage()).c_str()));
  ASSERT_EQ(d88.GetDiskCount(), 1);  // the disk size reaches past the end of the file
  ASSERT_TRUE(d88.SelectDisk(0));

  struct Case {
    const char* what;
    int track, c, h, r, n, maxLen;
    int want;      // bytes placed, and returned
    uint8_t seed;  // of the record they come from
  };
  const Case cases[] = {
      {"first record", 0, 0, 0, 1, 1, 1024, 256, 0x01},
      {"second record", 0, 0, 0, 2, 1, 1024, 256, 0x02},
      {"track -1", -1, 0, 0, 1, 1, 1024, 0, 0},
      {"track 164", 164, 0, 0, 1, 1, 1024, 0, 0},
      {"track with offset 0", 9, 0, 0, 1, 1, 1024, 0, 0},
      {"R not on the track", 0, 0, 0, 3, 1, 1024, 0, 0},
      {"maxLen below the data size: only maxLen bytes", 0, 0, 0, 2, 1, 100, 100, 0x02},
      {"maxLen 0 on a match", 0, 0, 0, 1, 1, 0, 0, 0},
      {"first record, out of order, 512 bytes", 1, 0, 1, 3, 2, 1024, 512, 0x13},
      {"R1 N0, 128 bytes", 1, 0, 1, 1, 0, 1024, 128, 0x11},
      {"R2 after R1", 1, 0, 1, 2, 1, 1024, 256, 0x12},
      {"same C H R, other N", 1, 0, 1, 1, 1, 1024, 256, 0x14},
      {"same H R N, other C", 1, 1, 1, 1, 1, 1024, 256, 0x15},
      {"same C R N, other H", 1, 0, 0, 1, 1, 1024, 256, 0x16},
      {"N of no record", 1, 0, 1, 2, 2, 1024, 0, 0},
      {"count 2: R2 is examined", 2, 0, 0, 2, 1, 1024, 64, 0x22},
      {"count 2: R3 is not", 2, 0, 0, 3, 1, 1024, 0, 0},
      {"count 2: nor R4", 2, 0, 0, 4, 1, 1024, 0, 0},
      {"the record that announces count 1 is still matched", 3, 0, 0, 3, 1, 1024, 64, 0x33},
      {"a count below the records passed ends the scan", 3, 0, 0, 4, 1, 1024, 0, 0},
      {"matching record with count 0", 4, 0, 0, 1, 1, 1024, 0, 0},
      {"a record after one with count 0", 4, 0, 0, 2, 1, 1024, 0, 0},
      {"matching record with data size 0", 5, 0, 0, 1, 1, 1024, 0, 0},
      {"the record after an empty one", 5, 0, 0, 2, 1, 1024, 64, 0x52},
      {"ID bytes FF", 6, 255, 255, 255, 255, 1024, 32, 0x61},
      {"ID bytes 00", 6, 0, 0, 0, 0, 1024, 32, 0x62},
      {"-1 does not match FF", 6, -1, -1, -1, -1, 1024, 0, 0},
      {"c 256 does not match 00", 6, 256, 0, 0, 0, 1024, 0, 0},
      {"h 256 does not match 00", 6, 0, 256, 0, 0, 1024, 0, 0},
      {"r 256 does not match 00", 6, 0, 0, 256, 0, 1024, 0, 0},
      {"n 256 does not match 00", 6, 0, 0, 0, 256, 1024, 0, 0},
      {"a count of 3 carries the scan into the next track", 7, 4, 0, 1, 1, 1024, 64, 0x81},
      // The data read reports what it delivered.
      {"data cut short by the end of the file", 20, 10, 0, 1, 1, 1024, 156, 0x91},
      {"maxLen within what the file still holds", 20, 10, 0, 1, 1, 100, 100, 0x91},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes buf(1024, kFill);
    EXPECT_EQ(d88.ReadSector(c.track, c.c, c.h, c.r, c.n, buf.data(), c.maxLen), c.want);
    Bytes want(1024, kFill);
    Bytes data = Pattern((size_t)c.want, c.seed);
    std::copy(data.begin(), data.end(), want.begin());
    EXPECT_TRUE(SameBytes(want, buf));
  }
}

// The bound on track offsets, and disk sizes and track offsets as unsigned
// 32-bit values.
// The reader remembers the records of the track it scanned last. Whatever
// came before, a read must give what a reader that has never read anything
// gives: the first matching record within the scan's bounds. The image holds
// the odd tracks above plus one of more records than the reader keeps, with
// IDs that repeat before and after that limit.
TEST(D88ImageReadSector, RememberedTrackGivesWhatAFreshScanGives) {
  DiskBuilder many;
  for (int i = 0; i < 100; ++i)
    many.AddSector(0, 0, 0, (uint8_t)(i % 90 + 1), 1, Pattern(16 + i, (uint8_t)i));
  many.AddSector(1, 0, 0, 1, 1, Pattern(40, 0xA1));
  TempDir dir;
  WriteFileBytes(dir.File("image.d88"), Concat({many.Build(), SamplerImage()}));

  D88Image longLived;
  ASSERT_TRUE(longLived.Open(dir.File("image.d88").c_str()));
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (int)((seed >> 8) % bound);
  };
  for (int step = 0; step < 3000; ++step) {
    int disk = next(2), track = next(11) - 1, r = next(100), n = next(4), maxLen = next(600);
    int c = next(3) == 0 ? 4 : 0, h = next(4) == 0 ? 1 : 0;
    SCOPED_TRACE(testing::Message() << "step " << step << ": disk " << disk << " track " << track
                                    << " C " << c << " H " << h << " R " << r << " N " << n);
    if (longLived.GetCurrentDisk() != disk || next(50) == 0) longLived.SelectDisk(disk);
    D88Image fresh;
    ASSERT_TRUE(fresh.Open(dir.File("image.d88").c_str()));
    ASSERT_TRUE(fresh.SelectDisk(disk));
    Bytes a(600, kFill), b(600, kFill);
    int got = longLived.ReadSector(track, c, h, r, n, a.data(), maxLen);
    ASSERT_EQ(got, fresh.ReadSector(track, c, h, r, n, b.data(), maxLen));
    ASSERT_EQ(Hex(a.data(), 0, a.size()), Hex(b.data(), 0, b.size()));
    if (next(8) == 0) {
      uint8_t ids[64];
      longLived.GetSectorIds(next(10), ids, sizeof(ids));
    }
  }
}

TEST(D88ImageReadSector, TrackOffsetAgainstDiskSize) {
  struct Case {
    const char* what;
    std::optional<uint32_t> diskSize;     // as built: the disk's length
    std::optional<uint32_t> trackOffset;  // as built: 688, right after the header
    bool found;
  };
  const Case cases[] = {
      {"as built", {}, {}, true},
      {"offset equal to the disk size", 688, {}, true},
      {"offset one past the disk size", 687, {}, false},
      {"offset 0", {}, 0, false},
      {"disk size 0xFFFFFFFF", 0xFFFFFFFF, {}, true},
      {"disk size 0x80000000", 0x80000000, {}, true},
      {"offset 0x80000000 past a small disk size", {}, 0x80000000, false},
      {"track past the end of the file, within the disk size", 0x10000, 0x8000, false},
      {"offset 0xFFFFFFF0 within disk size 0xFFFFFFFF, past the end of the file", 0xFFFFFFFF,
       0xFFFFFFF0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiskBuilder disk;
    disk.AddSector(0, 0, 0, 1, 1, Pattern(256, 0xB1));
    if (c.diskSize) disk.SetDiskSize(*c.diskSize);
    if (c.trackOffset) disk.SetTrackOffset(0, *c.trackOffset);
    TempDir dir;
    D88Image d88;
    ASSERT_TRUE(d88.Open(WriteImage(dir, disk.Build()).c_str()));
    ASSERT_EQ(d88.GetDiskCount(), 1);
    ASSERT_TRUE(d88.SelectDisk(0));
    Bytes buf(256, kFill);
    Bytes ids(4, kFill);
    if (c.found) {
      EXPECT_EQ(d88.ReadSector(0, 0, 0, 1, 1, buf.data(), 256), 256);
      EXPECT_TRUE(SameBytes(Pattern(256, 0xB1), buf));
      EXPECT_EQ(d88.GetSectorIds(0, ids.data(), 4), 4);
      EXPECT_TRUE(SameBytes(Ids({{0, 0, 1, 1}}), ids));
    } else {
      EXPECT_EQ(d88.ReadSector(0, 0, 0, 1, 1, buf.data(), 256), 0);
      EXPECT_EQ(d88.GetSectorIds(0, ids.data(), 4), 0);
      EXPECT_TRUE(SameBytes(Bytes(256, kFill), buf));
      EXPECT_TRUE(SameBytes(Bytes(4, kFill), ids));
    }
  }
}

// ReadSectors: runs of sectors across sides and cylinders.

// Sectors of 128 bytes (N 0) on track t = 2C + H. Tracks 0 to 4 hold R 1 to 5
// with seed 16t + R; the other records are there for one case each. The last
// sector of the image loses its last 28 bytes to the end of the file.
Bytes RunImage() {
  DiskBuilder d;
  for (int t = 0; t <= 4; ++t)
    for (int r = 1; r <= 5; ++r)
      d.AddSector(t, (uint8_t)(t >> 1), (uint8_t)(t & 1), (uint8_t)r, 0,
                  Pattern(128, (uint8_t)(16 * t + r)));
  d.AddSector(0, 0, 0, 6, 0, Pattern(128, 0x06)).AddSector(0, 0, 0, 7, 0, Pattern(128, 0x07));
  d.AddSector(1, 0, 2, 5, 0, Pattern(128, 0xE5));
  d.AddSector(5, 2, 1, 1, 0, Pattern(128, 0x51)).AddSector(5, 2, 1, 2, 1, Pattern(256, 0x52));
  d.AddSector(6, 3, 0, 1, 0, Pattern(128, 0x61))
      .AddSector(6, 3, 0, 2, 0, Pattern(100, 0x62))
      .AddSector(6, 3, 0, 3, 0, Pattern(128, 0x63));
  d.AddSector(7, 3, 1, 1, 0, Pattern(128, 0x71)).AddSector(7, 3, 1, 2, 0, Pattern(128, 0x72));
  Bytes image = d.Build();
  image.resize(image.size() - 28);
  return image;
}

TEST(D88ImageReadSectors, ReadsRunsAcrossTracks) {
  TempDir dir;
  D88Image d88;
  ASSERT_TRUE(d88.Open(WriteImage(dir, RunImage()).c_str()));
  ASSERT_TRUE(d88.SelectDisk(0));

  struct Piece {
    uint8_t seed;     // the record read
    int bytes = 128;  // of its data that land in buf
  };
  struct Case {
    const char* what;
    int first, last;  // sector range
    int track, c, h, r, total;
    int want;
    std::vector<Piece> pieces;  // in buf order, also bytes that are not counted
  };
  const Case cases[] = {
      {"total 0", 1, 5, 0, 0, 0, 1, 0, 0, {}},
      {"total below 0", 1, 5, 0, 0, 0, 1, -128, 0, {}},
      {"one sector", 1, 5, 0, 0, 0, 1, 128, 128, {{0x01}}},
      // The half chunk is read with the half as its length.
      {"one and a half chunks", 1, 5, 0, 0, 0, 1, 192, 192, {{0x01}, {0x02, 64}}},
      {"past R5 of head 0: head 1, same cylinder", 1, 5, 2, 1, 0, 5, 256, 256, {{0x25}, {0x31}}},
      // From track 3, C 1, H 1, R 4: R 5, then track 4, C 2, H 0, R 1.
      {"past R5 of head 1: next cylinder", 1, 5, 3, 1, 1, 4, 384, 384, {{0x34}, {0x35}, {0x41}}},
      {"sector range 3 to 4", 3, 4, 0, 0, 0, 3, 512, 512, {{0x03}, {0x04}, {0x13}, {0x14}}},
      // R 6 and 7 are on track 0; the run never passes to track 1.
      {"r above the last sector", 1, 5, 0, 0, 0, 6, 512, 256, {{0x06}, {0x07}}},
      {"head 2 becomes head 0, next cylinder", 1, 5, 1, 0, 2, 5, 256, 256, {{0xE5}, {0x21}}},
      // R 2 of track 5 has size code 1, the run size code 0.
      {"second sector of another size", 1, 5, 5, 2, 1, 1, 384, 128, {{0x51}}},
      // Its 100 bytes lie in buf but are not counted.
      {"second sector short", 1, 5, 6, 3, 0, 1, 384, 128, {{0x61}, {0x62, 100}}},
      {"second sector cut by end of file", 1, 5, 7, 3, 1, 1, 384, 128, {{0x71}, {0x72, 100}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d88.SetSectorRange(c.first, c.last);
    Bytes buf(1024, kFill);
    EXPECT_EQ(d88.ReadSectors(c.track, c.c, c.h, c.r, 0, buf.data(), c.total), c.want);
    Bytes want;
    for (const Piece& p : c.pieces) {
      Bytes data = Pattern((size_t)p.bytes, p.seed);
      want.insert(want.end(), data.begin(), data.end());
    }
    want.resize(1024, kFill);
    EXPECT_TRUE(SameBytes(want, buf));
  }
}

// GetSectorIds: the IDs of a track's records.

TEST(D88ImageGetSectorIds, ListsTheRecordsInImageOrder) {
  DiskBuilder d;
  std::vector<std::vector<uint8_t>> sixteen;
  for (uint8_t r = 1; r <= 16; ++r) {
    d.AddSector(0, 0, 0, r, 1, Pattern(16, r));
    sixteen.push_back({0, 0, r, 1});
  }
  d.AddSector(1, 0, 1, 1, 1, Pattern(16, 1))
      .AddSector(1, 0, 1, 10, 1, Pattern(16, 2))
      .AddSector(1, 0, 1, 2, 2, Pattern(32, 3))
      .AddSector(1, 0, 1, 3, 2, {})
      .AddSector(1, 0, 1, 4, 2, Pattern(32, 4));
  for (uint8_t r = 1; r <= 4; ++r) d.AddSector(2, 1, 0, r, 1, Pattern(16, r));
  d.Record(2, 2).sectorCount = 0;
  for (uint8_t r = 1; r <= 4; ++r) d.AddSector(3, 1, 1, r, 1, Pattern(16, r));
  d.Record(3, 2).sectorCount = 1;
  // The second record's header is cut short by the end of the file.
  d.AddSector(4, 2, 0, 1, 1, Pattern(16, 1)).AddSector(4, 2, 0, 2, 1, Pattern(16, 2));
  Bytes image = d.Build();
  image.resize(image.size() - 24);

  TempDir dir;
  D88Image d88;
  ASSERT_TRUE(d88.Open(WriteImage(dir, image).c_str()));
  ASSERT_TRUE(d88.SelectDisk(0));

  auto first = [&](size_t k) {
    return Ids(std::vector<std::vector<uint8_t>>(sixteen.begin(), sixteen.begin() + k));
  };
  struct Case {
    const char* what;
    int track, idsLen;
    Bytes want;
  };
  const Case cases[] = {
      {"idsLen 0", 0, 0, {}},
      {"idsLen 1", 0, 1, {}},
      {"idsLen 2", 0, 2, {}},
      {"idsLen 3", 0, 3, {}},
      {"idsLen 4", 0, 4, first(1)},
      {"idsLen 10 on 16 records: two whole entries", 0, 10, first(2)},
      {"idsLen 64 on 16 records", 0, 64, first(16)},
      {"idsLen 100 on 16 records: the count ends the list", 0, 100, first(16)},
      {"idsLen 64 on 5 records, in image order, data size 0 among them", 1, 64,
       Ids({{0, 1, 1, 1}, {0, 1, 10, 1}, {0, 1, 2, 2}, {0, 1, 3, 2}, {0, 1, 4, 2}})},
      {"a record with count 0 ends the list, unlisted", 2, 64, Ids({{1, 0, 1, 1}, {1, 0, 2, 1}})},
      {"a count below the records passed ends the list", 3, 64,
       Ids({{1, 1, 1, 1}, {1, 1, 2, 1}, {1, 1, 3, 1}})},
      {"a header cut short by the end of the file ends the list", 4, 64, Ids({{2, 0, 1, 1}})},
      {"track -1", -1, 64, {}},
      {"track 164", 164, 64, {}},
      {"absent track", 5, 64, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes ids(128, kFill);
    EXPECT_EQ(d88.GetSectorIds(c.track, ids.data(), c.idsLen), (int)c.want.size());
    Bytes want = c.want;
    want.resize(128, kFill);
    EXPECT_TRUE(SameBytes(want, ids));
  }
}

// ReadLE16, ReadLE32.

TEST(D88ImageByteOrder, ReadsLittleEndianAtAnyAlignment) {
  struct Case {
    uint8_t bytes[4];
    uint16_t le16;
    int32_t le32;
  };
  const Case cases[] = {
      {{0x01, 0x02, 0x03, 0x04}, 0x0201, 0x04030201},
      {{0xB0, 0x02, 0x00, 0x00}, 688, 688},  // a disk header's size
      {{0x80, 0x00, 0x00, 0x00}, 0x0080, 0x80},
      {{0x00, 0x80, 0x00, 0x00}, 0x8000, 0x8000},
      {{0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFF, INT32_MAX},
      {{0x00, 0x00, 0x00, 0x80}, 0x0000, INT32_MIN},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, -1},
  };
  for (const Case& c : cases) {
    for (int at = 0; at < 8; ++at) {
      SCOPED_TRACE(Hex(c.bytes, 0, 4) + "at offset " + std::to_string(at));
      alignas(8) uint8_t buf[16];
      memset(buf, 0xA5, sizeof(buf));
      memcpy(buf + at, c.bytes, 4);
      EXPECT_EQ(ReadLE16(buf + at), c.le16);
      EXPECT_EQ(ReadLE32(buf + at), c.le32);
    }
  }
}

// Real images (see realworld/README.md of the shared folder).

std::string RealImage(const char* name) {
  std::string shared = zelvrin_test::SharedDir();
  return shared.empty() ? "" : shared + "/realworld/" + name;
}

const char kNoRealImages[] =
    "the shared folder with realworld/*.d88 is absent (set ZELVRIN_SHARED_DIR); real images "
    "not tested";

struct RawRecord {
  uint8_t c, h, r, n;
  uint16_t count, dataSize;
  size_t dataAt;  // file offset of the data
};

// The records of a track, taken from the file's bytes directly; ends at a
// short header or after the first record's count.
std::vector<RawRecord> RawTrack(const Bytes& file, size_t diskAt, int track) {
  std::vector<RawRecord> out;
  size_t at = diskAt + Le32(file, diskAt + 0x20 + 4 * (size_t)track);
  while (at + 16 <= file.size()) {
    RawRecord rec{file[at],           file[at + 1],        file[at + 2], file[at + 3],
                  Le16(file, at + 4), Le16(file, at + 14), at + 16};
    out.push_back(rec);
    if (out.size() >= out.front().count) break;
    at += 16 + rec.dataSize;
  }
  return out;
}

TEST(D88ImageRealImages, MixedSizesOutOfOrder) {
  if (zelvrin_test::SharedDir().empty()) GTEST_SKIP() << kNoRealImages;
  std::string path = RealImage("lsx-mixed-sizes.d88");
  Bytes file = ReadFileBytes(path);
  D88Image d88;
  ASSERT_TRUE(d88.Open(path.c_str()));
  ASSERT_EQ(d88.GetDiskCount(), 1);
  ASSERT_TRUE(d88.SelectDisk(0));

  Bytes ids(64, kFill);
  ASSERT_EQ(d88.GetSectorIds(0, ids.data(), 64), 40);
  Bytes want = Ids({{0, 0, 1, 1},
                    {0, 0, 10, 1},
                    {0, 0, 2, 2},
                    {0, 0, 3, 2},
                    {0, 0, 4, 2},
                    {0, 0, 5, 2},
                    {0, 0, 6, 2},
                    {0, 0, 7, 2},
                    {0, 0, 8, 2},
                    {0, 0, 9, 2}});
  want.resize(64, kFill);
  EXPECT_TRUE(SameBytes(want, ids));

  std::vector<RawRecord> track = RawTrack(file, 0, 0);
  ASSERT_EQ(track.size(), 10u);
  for (const RawRecord& rec : track) {
    SCOPED_TRACE("R " + std::to_string(rec.r) + " N " + std::to_string(rec.n));
    ASSERT_EQ(rec.dataSize, 128u << rec.n);
    Bytes buf(1024, kFill);
    ASSERT_EQ(d88.ReadSector(0, rec.c, rec.h, rec.r, rec.n, buf.data(), 1024), rec.dataSize);
    Bytes data = Slice(file, rec.dataAt, rec.dataSize);
    data.resize(1024, kFill);
    EXPECT_TRUE(SameBytes(data, buf));
  }
}

TEST(D88ImageRealImages, LastTrackCutShort) {
  if (zelvrin_test::SharedDir().empty()) GTEST_SKIP() << kNoRealImages;
  std::string path = RealImage("truncated-last-track.d88");
  Bytes file = ReadFileBytes(path);
  ASSERT_EQ(Le32(file, 0x1C), file.size());
  int last = kTrackCount - 1;
  while (last > 0 && Le32(file, 0x20 + 4 * (size_t)last) == 0) --last;
  std::vector<RawRecord> track = RawTrack(file, 0, last);
  ASSERT_EQ(track.size(), 1u);  // the only record before the end of the file
  const RawRecord& rec = track[0];
  ASSERT_EQ(rec.count, 16u);
  ASSERT_EQ(rec.dataAt + rec.dataSize, file.size());

  D88Image d88;
  ASSERT_TRUE(d88.Open(path.c_str()));
  ASSERT_EQ(d88.GetDiskCount(), 1);
  ASSERT_TRUE(d88.SelectDisk(0));
  Bytes ids(64, kFill);
  EXPECT_EQ(d88.GetSectorIds(last, ids.data(), 64), 4);
  Bytes buf(4096, kFill);
  ASSERT_EQ(d88.ReadSector(last, rec.c, rec.h, rec.r, rec.n, buf.data(), 4096), rec.dataSize);
  Bytes want = Slice(file, rec.dataAt, rec.dataSize);
  want.resize(4096, kFill);
  EXPECT_TRUE(SameBytes(want, buf));
  for (int r = rec.r + 1; r <= 16; ++r) {
    SCOPED_TRACE("R " + std::to_string(r));
    EXPECT_EQ(d88.ReadSector(last, rec.c, rec.h, r, rec.n, buf.data(), 4096), 0);
  }
  d88.SetSectorRange(1, 16);
  Bytes run(16 * rec.dataSize, kFill);
  EXPECT_EQ(d88.ReadSectors(last, rec.c, rec.h, rec.r, rec.n, run.data(), (int)run.size()),
            rec.dataSize);

  // The same image cut 56 bytes into the last sector's data: the reads give
  // what the file still holds and leave the rest of the buffer alone.
  TempDir dir;
  Bytes cut(file.begin(), file.end() - 56);
  D88Image cutImage;
  ASSERT_TRUE(cutImage.Open(WriteImage(dir, cut).c_str()));
  ASSERT_TRUE(cutImage.SelectDisk(0));
  std::fill(buf.begin(), buf.end(), kFill);
  EXPECT_EQ(cutImage.ReadSector(last, rec.c, rec.h, rec.r, rec.n, buf.data(), 4096),
            rec.dataSize - 56);
  want = Slice(file, rec.dataAt, rec.dataSize - 56);
  want.resize(4096, kFill);
  EXPECT_TRUE(SameBytes(want, buf));
  std::fill(buf.begin(), buf.end(), kFill);
  EXPECT_EQ(cutImage.ReadSectors(last, rec.c, rec.h, rec.r, rec.n, buf.data(), 2 * rec.dataSize),
            0);
  EXPECT_TRUE(SameBytes(want, buf));
}

TEST(D88ImageRealImages, ThreeDisksEndToEnd) {
  if (zelvrin_test::SharedDir().empty()) GTEST_SKIP() << kNoRealImages;
  const char* parts[] = {"hubasic-2d.d88", "cpm-2d.d88", "lsx-mixed-sizes.d88"};
  std::string path = RealImage("three-disks.d88");
  Bytes file = ReadFileBytes(path);
  D88Image d88;
  ASSERT_TRUE(d88.Open(path.c_str()));
  ASSERT_EQ(d88.GetDiskCount(), 3);

  size_t diskAt = 0;
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(parts[k]);
    std::string partPath = RealImage(parts[k]);
    Bytes part = ReadFileBytes(partPath);
    ASSERT_TRUE(SameBytes(part, file.data() + diskAt, std::min(part.size(), file.size() - diskAt)));
    ASSERT_TRUE(d88.SelectDisk(k));
    EXPECT_EQ(d88.GetCurrentDisk(), k);
    EXPECT_EQ(d88.GetMediaType(), file[diskAt + 0x1B]);
    std::string name((const char*)&file[diskAt], 16);
    name.resize(strlen(name.c_str()));
    EXPECT_EQ(d88.GetDiskName(), name);

    // Every sector of track 0 and of a track further in, as the disk alone
    // gives it and as the bytes in the packed file hold it.
    D88Image single;
    ASSERT_TRUE(single.Open(partPath.c_str()));
    ASSERT_EQ(single.GetDiskCount(), 1);
    ASSERT_TRUE(single.SelectDisk(0));
    for (int t : {0, 37}) {
      std::vector<RawRecord> track = RawTrack(file, diskAt, t);
      ASSERT_FALSE(track.empty());
      for (const RawRecord& rec : track) {
        SCOPED_TRACE("track " + std::to_string(t) + " R " + std::to_string(rec.r));
        Bytes packed(1024, kFill), alone(1024, kFill);
        ASSERT_EQ(d88.ReadSector(t, rec.c, rec.h, rec.r, rec.n, packed.data(), 1024), rec.dataSize);
        ASSERT_EQ(single.ReadSector(t, rec.c, rec.h, rec.r, rec.n, alone.data(), 1024),
                  rec.dataSize);
        Bytes want = Slice(file, rec.dataAt, rec.dataSize);
        want.resize(1024, kFill);
        EXPECT_TRUE(SameBytes(want, packed));
        EXPECT_TRUE(SameBytes(alone, packed));
      }
    }
    diskAt += part.size();
  }
  EXPECT_EQ(diskAt, file.size());

  // The first disk's name fills all 16 bytes and runs on into the header.
  ASSERT_TRUE(d88.SelectDisk(0));
  EXPECT_EQ(strlen(d88.GetDiskName()), 16u);
  EXPECT_NE(file[0x10], 0);
}

}  // namespace
