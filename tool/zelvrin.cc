// The disk walk: every disk of the image, every slot of its volume directory,
// one report line per used entry, then the entry's file.
#include "tool/zelvrin.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "d88/d88_image.h"
#include "lzss/lzss.h"
#include "tool/extract_file.h"
#include "tool/file_buffer.h"
#include "tool/output_name.h"
#include "tool/problems.h"
#include "tool/volume.h"

// "ファイルをオープンできません" in Shift_JIS, written as these bytes on every console.
static const char kOpenError[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\n";

// The first-sector read takes up to two sectors' worth, for records longer
// than their size code says.
const int kFirstSectorLimit = 2048;

static uint8_t g_dirSector[kVolumeSectorSize];

static void PrintReportLine(int slot, const DirEntry& entry, const FileLocation& loc,
                            const FileHeader& header) {
  printf("FILE%03d: %02x %02x %02x => ", slot, entry.startLow, entry.startHigh, entry.length);
  printf("TRACK = %02d SECTOR = %02x SIZE = %04x ", loc.track, loc.sector, header.fileSize);
  if (IsStored(header))
    printf("\n");
  else
    printf(" ** %04x %04x\n", header.fileSize, header.packedSize);
}

static void WalkEntry(D88Image& image, int diskIndex, int slot, const DirEntry& entry) {
  FileLocation loc = LocateFile(entry);
  ClearFileBuffer();
  int headerBytes = image.ReadSector(loc.track, loc.cylinder, loc.head, loc.sector, kVolumeSizeCode,
                                     g_fileBuffer, kFirstSectorLimit);
  MarkFileBufferUsed(headerBytes);
  FileHeader header = ReadFileHeader(g_fileBuffer);
  PrintReportLine(slot, entry, loc, header);
  if (headerBytes < kFileHeaderSize) {
    char name[kOutputNameSize];
    FormatOutputName(name, diskIndex, slot);
    ReportProblem(name, "cannot read the file header (track %d, sector %d)", loc.track, loc.sector);
  }
  ExtractFile(image, diskIndex, slot, loc.track, loc.cylinder, loc.head, loc.sector, loc.byteLength,
              header.packedSize, header.fileSize, headerBytes);
}

static void WalkDisk(D88Image& image, int diskIndex) {
  image.SelectDisk(diskIndex);
  image.SetSectorRange(kVolumeFirstSector, kVolumeLastSector);
  // A directory read that comes up short would leave the previous disk's
  // entries, or zeros that read as 336 used entries: skip the disk instead.
  int got = image.ReadSectors(kDirectoryTrack, kDirectoryTrack >> 1, kDirectoryTrack & 1,
                              kDirectorySector, kVolumeSizeCode, g_dirSector, kVolumeSectorSize);
  if (got < kVolumeSectorSize) {
    char subject[32];
    snprintf(subject, sizeof(subject), "disk %d", diskIndex + 1);
    ReportProblem(subject, "cannot read the volume directory (track %d, sector %d); disk skipped",
                  kDirectoryTrack, kDirectorySector);
    return;
  }
  for (int slot = 0; slot < kDirEntryCount; ++slot) {
    DirEntry entry = ReadDirEntry(g_dirSector, slot);
    if (!IsEmptyEntry(entry)) WalkEntry(image, diskIndex, slot, entry);
  }
}

// The state a fresh process starts with; a second run in the same process
// must not see the first one's files, window or problems.
static void ResetRunState() {
  ResetProblems();
  ForgetWrittenFiles();
  ClearFileBuffer();
  memset(g_dirSector, 0, sizeof(g_dirSector));
  memset(g_lzssWindow, 0, sizeof(g_lzssWindow));
}

int RunZelvrin(int argc, char* argv[]) {
  if (argc != 2) {
    fputs("Usage: zelvrin (D88image)\n", stderr);
    return 1;
  }
  D88Image image;
  if (!image.Open(argv[1])) {
    fputs(kOpenError, stderr);
    return 1;
  }
  ResetRunState();
  int diskCount = image.GetDiskCount();
  for (int i = 0; i < diskCount; ++i) WalkDisk(image, i);
  fflush(stdout);
  return GetProblemCount() > 0 ? 2 : 0;
}
