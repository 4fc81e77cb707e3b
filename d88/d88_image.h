// D88Image: read-only access to the sectors of a D88 floppy-disk image file,
// and the little-endian readers the format's numbers are taken with.
#ifndef ZELVRIN_D88_D88_IMAGE_H_
#define ZELVRIN_D88_D88_IMAGE_H_

#include <cstdint>
#include <cstdio>

const int kMaxDisks = 64;           // disks looked for in one image file
const int kDiskHeaderSize = 0x2B0;  // 688 bytes: name, flags, disk size, track table
const int kTrackCount = 164;        // entries of a disk's track table
const int kSectorHeaderSize = 16;   // bytes in front of every sector's data

// Disk header fields.
const int kDiskNameOffset = 0x00;  // 16 bytes of text, zero-terminated when shorter
const int kDiskNameSize = 16;
const int kMediaTypeOffset = 0x1B;   // 1 byte
const int kDiskSizeOffset = 0x1C;    // unsigned 32-bit, the whole disk, this header included
const int kTrackTableOffset = 0x20;  // kTrackCount unsigned 32-bit offsets from the disk start

// Sector header fields.
const int kSectorCylinderOffset = 0;   // C, H, R, N: the sector ID
const int kSectorCountOffset = 4;      // unsigned 16-bit, records in this track
const int kSectorDataSizeOffset = 14;  // unsigned 16-bit, data bytes after the header

// p[0] + 256 * p[1], at any alignment and on any host byte order.
uint16_t ReadLE16(const uint8_t* p);
// p[0] + (p[1] << 8) + (p[2] << 16) + (p[3] << 24), taken as a signed 32-bit value.
int32_t ReadLE32(const uint8_t* p);

// One D88 file holds disks packed end to end: disk k + 1 starts where disk k
// ends, disk k's size being the unsigned 32-bit number at kDiskSizeOffset of its
// 688-byte header. Nothing else locates a disk; there is no count and no file
// header. The header's track table gives, per track index t (cylinder t / 2,
// side t % 2 in the usual numbering), the offset of the track from the disk's
// first byte; 0 means the track is absent, and an offset beyond the disk size is
// taken as absent too. A track is a run of sector records packed end to end:
// a 16-byte header (ID bytes C H R N, the track's sector count, flags, and the
// data size) followed by that many data bytes. Records may stand in any order
// and may have different sizes; a sector is found by its full ID.
//
// The reader keeps only the selected disk's header values and reads everything
// else from the file on demand. It never writes the image, never allocates, and
// never writes to a caller's buffer past the length the caller gave, however the
// image is damaged. All failures show in results.
class D88Image {
 public:
  D88Image();
  ~D88Image();
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // A null path closes the image and gives true. A path opens that file (closing
  // any earlier one) and finds its disks: false only when it cannot be opened,
  // true otherwise, also when the file holds no disk.
  bool Open(const char* path);

  // Sector numbers with which ReadSectors goes on at the next track (first) and
  // after which it moves to the next track (last). Not checked.
  void SetSectorRange(int first, int last);

  int GetDiskCount() const { return m_diskCount; }
  int GetCurrentDisk() const { return m_currentDisk; }

  // True when disk `index` is now selected. A failure leaves no disk selected.
  bool SelectDisk(int index);

  // The selected disk's name, at most 16 characters; empty when none.
  const char* GetDiskName() const { return m_name; }
  // The selected disk's media type byte, or -1 when no disk is selected.
  int GetMediaType() const { return m_mediaType; }

  // Finds the sector with ID c, h, r, n on `track` of the selected disk and
  // places at most maxLen of its data bytes in buf. Returns the number of bytes
  // placed, which is less than the record announces when the file ends early;
  // 0 when the sector is not found or no disk is selected.
  int ReadSector(int track, int c, int h, int r, int n, uint8_t* buf, int maxLen);

  // Reads consecutive sectors of size 128 << n into buf, `total` bytes at most:
  // after sector `last` of the range it goes on with sector `first` of the next
  // track, head 0 to head 1 of the same cylinder, head 1 to head 0 of the next.
  // Returns the bytes of the sectors read in full. The run ends at the first
  // sector that is missing or short; the bytes such a short sector delivered lie
  // in buf after the counted ones but are not counted.
  int ReadSectors(int track, int c, int h, int r, int n, uint8_t* buf, int total);

  // Stores the C, H, R, N bytes of the records of `track`, in image order, as
  // whole 4-byte entries in ids (idsLen bytes at most). Returns the bytes stored.
  int GetSectorIds(int track, uint8_t* ids, int idsLen);

 private:
  // A record of the track scanned last, as a scan from the track's first
  // record meets it.
  struct KnownRecord {
    uint8_t id[4];
    uint16_t dataSize;
    int64_t dataOffset;
  };
  static const int kKnownRecords = 64;
  static const int kBeyondKnown = -2;

  bool SeekTo(int64_t offset);
  bool TrackStart(int track, int64_t* offset) const;
  bool SeekTrack(int track);
  void ClearSelection();
  void ForgetTrack() { m_knownTrack = -1; }
  int FindRecord(int track, int c, int h, int r, int n);
  int ScanForSector(int track, int c, int h, int r, int n, uint8_t* buf, int maxLen);

  FILE* m_file;
  int32_t m_currentDisk;
  int32_t m_diskCount;
  int32_t m_firstSector;
  int32_t m_lastSector;
  int64_t m_diskOffsets[kMaxDisks];
  uint32_t m_diskSize;
  int64_t m_diskOffset;
  uint32_t m_trackOffsets[kTrackCount];
  int32_t m_mediaType;
  char m_name[kDiskNameSize + 1];

  // The records of the track scanned last, in image order, so that the next
  // sector of a run is found without a new scan from the track's first
  // record (and without the seek back to it). Lookups give what a fresh scan
  // would give: the first matching record within the scan's bounds.
  int32_t m_knownTrack;  // -1 when nothing is known
  int32_t m_knownCount;  // records in m_known
  bool m_knownComplete;  // the scan ends after the known records
  int64_t m_nextRecord;  // file offset of the header after the last known record
  KnownRecord m_known[kKnownRecords];
};

#endif  // ZELVRIN_D88_D88_IMAGE_H_
