// Decoding of directory entries and file headers.
#include "tool/volume.h"

#include "d88/d88_image.h"

DirEntry ReadDirEntry(const uint8_t* directory, int slot) {
  const uint8_t* p = directory + kDirEntriesOffset + kDirEntrySize * slot;
  return DirEntry{p[0], p[1], p[2]};
}

bool IsEmptyEntry(const DirEntry& entry) {
  return entry.startLow == 0xFF && entry.startHigh == 0xFF && entry.length == 0xFF;
}

FileLocation LocateFile(const DirEntry& entry) {
  FileLocation loc;
  loc.linearSector = entry.startLow | (entry.startHigh << 8);
  loc.track = loc.linearSector / kVolumeSectorsPerTrack;
  loc.sector = loc.linearSector % kVolumeSectorsPerTrack + kVolumeFirstSector;
  loc.cylinder = loc.track >> 1;
  loc.head = loc.track & 1;
  loc.byteLength = entry.length << 10;
  return loc;
}

FileHeader ReadFileHeader(const uint8_t* fileStart) {
  return FileHeader{ReadLE16(fileStart + kPackedSizeOffset), ReadLE16(fileStart + kFileSizeOffset)};
}
