// The game's volume on every disk: 1024-byte sectors numbered 1 to 5 on each
// track side, a directory of 3-byte entries in track 1 sector 1, and files of
// consecutive sectors that begin with an 8-byte header.
#ifndef ZELVRIN_TOOL_VOLUME_H_
#define ZELVRIN_TOOL_VOLUME_H_

#include <cstdint>

const int kVolumeSizeCode = 3;  // N = 3: 128 << 3 = 1024 bytes
const int kVolumeSectorSize = 1024;
const int kVolumeFirstSector = 1;
const int kVolumeLastSector = 5;
const int kVolumeSectorsPerTrack = 5;

// The directory sector: track 1 (cylinder 0, head 1), sector 1. Its first 16
// bytes are not used; 336 entries of 3 bytes fill the rest exactly.
const int kDirectoryTrack = 1;
const int kDirectorySector = 1;
const int kDirEntriesOffset = 16;
const int kDirEntrySize = 3;
const int kDirEntryCount = 336;

// The file header; the body follows it in the same run of sectors.
const int kFileHeaderSize = 8;
const int kPackedSizeOffset = 0;
const int kFileSizeOffset = 4;

// A directory entry: start sector (linear, low byte first) and length in
// 1024-byte sectors. All three bytes FF mark an empty slot.
struct DirEntry {
  uint8_t startLow;
  uint8_t startHigh;
  uint8_t length;
};

// Where a file lies. The linear sector number counts sectors in the order
// multi-sector reads step through them: track * 5 + (sector - 1).
struct FileLocation {
  int linearSector;
  int track;
  int cylinder;  // track >> 1
  int head;      // track & 1
  int sector;    // 1 to 5
  int byteLength;
};

// Equal sizes mean a stored body; any other packedSize marks an LZSS body
// that expands to fileSize bytes. packedSize is never a byte count.
struct FileHeader {
  int packedSize;
  int fileSize;
};

DirEntry ReadDirEntry(const uint8_t* directory, int slot);
bool IsEmptyEntry(const DirEntry& entry);
FileLocation LocateFile(const DirEntry& entry);
FileHeader ReadFileHeader(const uint8_t* fileStart);
inline bool IsStored(const FileHeader& header) {
  return header.packedSize == header.fileSize;
}

#endif  // ZELVRIN_TOOL_VOLUME_H_
