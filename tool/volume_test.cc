// The volume's layout: where a directory entry's file lies, which entries are
// empty, where each slot sits in the directory sector, and the file header.
#include "tool/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct LocateCase {
  const char* what;
  DirEntry entry;
  int linearSector, track, cylinder, head, sector, byteLength;
};

const LocateCase kLocateCases[] = {
    // The first sector of the disk, and an entry of length 0 still locates.
    {"00 00 00", {0x00, 0x00, 0x00}, 0, 0, 0, 0, 1, 0},
    // The last sector of track 0.
    {"04 00 01", {0x04, 0x00, 0x01}, 4, 0, 0, 0, 5, 1024},
    // The directory's own sector: track 1 is head 1 of cylinder 0.
    {"05 00 02", {0x05, 0x00, 0x02}, 5, 1, 0, 1, 1, 2048},
    {"07 00 10", {0x07, 0x00, 0x10}, 7, 1, 0, 1, 3, 16384},
    // Track 2 is head 0 of cylinder 1.
    {"0A 00 03", {0x0A, 0x00, 0x03}, 10, 2, 1, 0, 1, 3072},
    {"0C 00 02", {0x0C, 0x00, 0x02}, 12, 2, 1, 0, 3, 2048},
    // The last sector of a full disk (track 163); the longest file.
    {"33 03 FF", {0x33, 0x03, 0xFF}, 819, 163, 81, 1, 5, 261120},
    // The high byte counts: 0x0100 is 256, not 1.
    {"00 01 01", {0x00, 0x01, 0x01}, 256, 51, 25, 1, 2, 1024},
    // Start bytes FF FF with a used length: far past any track table.
    {"FF FF FE", {0xFF, 0xFF, 0xFE}, 65535, 13107, 6553, 1, 1, 260096},
};

TEST(Volume, LocateFileTurnsTheLinearSectorIntoTrackAndSectorId) {
  for (const LocateCase& c : kLocateCases) {
    SCOPED_TRACE(c.what);
    FileLocation loc = LocateFile(c.entry);
    EXPECT_EQ(c.linearSector, loc.linearSector);
    EXPECT_EQ(c.track, loc.track);
    EXPECT_EQ(c.cylinder, loc.cylinder);
    EXPECT_EQ(c.head, loc.head);
    EXPECT_EQ(c.sector, loc.sector);
    EXPECT_EQ(c.byteLength, loc.byteLength);
  }
}

TEST(Volume, OnlyThreeFfBytesMarkAnEmptyEntry) {
  struct Case {
    const char* what;
    DirEntry entry;
    bool empty;
  };
  const Case cases[] = {
      {"FF FF FF", {0xFF, 0xFF, 0xFF}, true},
      // Any other byte anywhere makes the entry used.
      {"FF FF FE", {0xFF, 0xFF, 0xFE}, false},
      {"FE FF FF", {0xFE, 0xFF, 0xFF}, false},
      {"FF FE FF", {0xFF, 0xFE, 0xFF}, false},
      // Sector 0, length 0 is a used entry too.
      {"00 00 00", {0x00, 0x00, 0x00}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.empty, IsEmptyEntry(c.entry));
  }
}

TEST(Volume, SlotsFollowTheSixteenUnusedBytesThreeBytesEach) {
  // A directory sector laid out as the game writes it: 16 bytes it does not
  // use, then 336 entries that fill the sector to its last byte. Each slot's
  // bytes name the slot, so a slot read from the wrong place shows.
  std::vector<uint8_t> sector(kVolumeSectorSize, 0xEE);
  for (int j = 0; j < 336; ++j) {
    sector[16 + 3 * j] = (uint8_t)(j & 0xFF);
    sector[16 + 3 * j + 1] = (uint8_t)(j >> 8);
    sector[16 + 3 * j + 2] = (uint8_t)(0x5A ^ j);
  }
  ASSERT_EQ(1024u, 16 + 3 * 336u);
  for (int j = 0; j < 336; ++j) {
    SCOPED_TRACE("slot " + std::to_string(j));
    DirEntry entry = ReadDirEntry(sector.data(), j);
    EXPECT_EQ(j & 0xFF, entry.startLow);
    EXPECT_EQ(j >> 8, entry.startHigh);
    EXPECT_EQ((0x5A ^ j) & 0xFF, entry.length);
    if (HasFailure()) break;
  }
  // The two ends: slot 0 at byte 16, slot 335 in the sector's last three bytes.
  sector[16] = 0x12, sector[17] = 0x34, sector[18] = 0x56;
  sector[1021] = 0xAB, sector[1022] = 0xCD, sector[1023] = 0xEF;
  DirEntry first = ReadDirEntry(sector.data(), 0);
  DirEntry last = ReadDirEntry(sector.data(), 335);
  EXPECT_EQ(0x12, first.startLow);
  EXPECT_EQ(0x34, first.startHigh);
  EXPECT_EQ(0x56, first.length);
  EXPECT_EQ(0xAB, last.startLow);
  EXPECT_EQ(0xCD, last.startHigh);
  EXPECT_EQ(0xEF, last.length);
}

TEST(Volume, FileHeaderSizesDecideStoredOrCompressed) {
  struct Case {
    const char* what;
    uint8_t header[8];
    int packedSize, fileSize;
    bool stored;
  };
  const Case cases[] = {
      // Equal sizes: stored; bytes 2-3 and 6-7 are never looked at.
      {"34 12 xx xx 34 12", {0x34, 0x12, 0xAB, 0xCD, 0x34, 0x12, 0xEF, 0x01}, 0x1234, 0x1234, true},
      {"34 12 FF FF 34 12 FF FF",
       {0x34, 0x12, 0xFF, 0xFF, 0x34, 0x12, 0xFF, 0xFF},
       0x1234,
       0x1234,
       true},
      // Different sizes: compressed, whatever packedSize says.
      {"00 10 xx xx 34 12",
       {0x00, 0x10, 0x77, 0x88, 0x34, 0x12, 0x99, 0xAA},
       0x1000,
       0x1234,
       false},
      // Empty stored content.
      {"0/0", {0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, true},
      // Low byte first: 34 12 against 12 34 differ.
      {"34 12 .. 12 34", {0x34, 0x12, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00}, 0x1234, 0x3412, false},
      // The largest sizes are unsigned.
      {"FF FF .. FF FF", {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00}, 65535, 65535, true},
      // A packedSize larger than fileSize is still only a marker.
      {"FF FF .. 00 01", {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, 65535, 256, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // At an odd address too: the sizes are read byte by byte.
    uint8_t buffer[9];
    for (int offset = 0; offset <= 1; ++offset) {
      std::copy(c.header, c.header + 8, buffer + offset);
      FileHeader header = ReadFileHeader(buffer + offset);
      EXPECT_EQ(c.packedSize, header.packedSize);
      EXPECT_EQ(c.fileSize, header.fileSize);
      EXPECT_EQ(c.stored, IsStored(header));
    }
  }
}

}  // namespace
