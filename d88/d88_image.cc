// D88Image: finds the disks of a D88 file, loads one disk's header at a time
// and finds sectors by their ID among the records of a track.
#include "d88/d88_image.h"

#include <cstring>

// The image stream's buffer. Every sector read scans its track from the first
// record, so a run of sectors goes over the same track again and again: a
// buffer that holds several whole tracks (a track of five 1024-byte sectors
// takes 5,200 bytes) serves those scans from memory. The first open reader
// takes it; a second one open at the same time keeps the stream's default.
// A power of two, since the C library aligns its refills to the buffer size.
static const size_t kStreamBufferSize = 64 * 1024;
static char g_streamBuffer[kStreamBufferSize];
static const D88Image* g_streamBufferOwner = nullptr;

// Skipped record data is read into this rather than sought over: the C
// library answers every seek with a system call, even one that lands inside
// its buffer, while reading from the buffer is only a copy.
static const int kSkipChunk = 1024;
static uint8_t g_skipped[kSkipChunk];
// Beyond this a skip is a seek; only damaged records announce that much.
static const int kLongestSkipByReading = 8 * 1024;

uint16_t ReadLE16(const uint8_t* p) {
  return (uint16_t)((uint32_t)p[0] | ((uint32_t)p[1] << 8));
}

int32_t ReadLE32(const uint8_t* p) {
  uint32_t v =
      (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
  return (int32_t)v;
}

D88Image::D88Image()
    : m_file(nullptr),
      m_currentDisk(-1),
      m_diskCount(0),
      m_firstSector(1),
      m_lastSector(16),
      m_diskOffsets(),
      m_diskSize(0),
      m_diskOffset(-1),
      m_trackOffsets(),
      m_mediaType(-1),
      m_name(),
      m_knownTrack(-1),
      m_knownCount(0),
      m_knownComplete(false),
      m_nextRecord(0),
      m_known() {}

D88Image::~D88Image() {
  Open(nullptr);
}

// Disk offsets are kept in 64 bits: 64 disks of up to 4 GiB each lie far past
// what a long can address on some systems. A stream already at the offset is
// left as it is (asking for the position costs no system call), which saves
// the seek where a read goes on where the last one ended: the next track of a
// run, the next record of a scan.
bool D88Image::SeekTo(int64_t offset) {
#ifdef _WIN32
  if (!feof(m_file) && _ftelli64(m_file) == offset) return true;
  return _fseeki64(m_file, offset, SEEK_SET) == 0;
#else
  if (!feof(m_file) && (int64_t)ftello(m_file) == offset) return true;
  return fseeko(m_file, (off_t)offset, SEEK_SET) == 0;
#endif
}

// Moves the stream `count` bytes forward over data that is not wanted. Past
// the end of the file the next read comes up short, as after a seek there.
static bool SkipForward(FILE* file, int count) {
  if (count > kLongestSkipByReading) return fseek(file, count, SEEK_CUR) == 0;
  while (count > 0) {
    int chunk = count < kSkipChunk ? count : kSkipChunk;
    if (fread(g_skipped, 1, (size_t)chunk, file) != (size_t)chunk) return true;
    count -= chunk;
  }
  return true;
}

void D88Image::ClearSelection() {
  ForgetTrack();
  m_currentDisk = -1;
  m_diskOffset = -1;
  m_mediaType = -1;
  m_diskSize = 0;
  memset(m_name, 0, sizeof(m_name));
}

bool D88Image::Open(const char* path) {
  if (m_file) fclose(m_file);
  if (g_streamBufferOwner == this) g_streamBufferOwner = nullptr;
  m_file = nullptr;
  m_diskCount = 0;
  m_currentDisk = -1;
  m_mediaType = -1;
  ForgetTrack();
  if (!path) return true;
  ClearSelection();
  m_file = fopen(path, "rb");
  if (!m_file) return false;
  if (!g_streamBufferOwner && setvbuf(m_file, g_streamBuffer, _IOFBF, kStreamBufferSize) == 0)
    g_streamBufferOwner = this;

  uint8_t header[kDiskHeaderSize];
  int64_t offset = 0;
  while (m_diskCount < kMaxDisks) {
    if (!SeekTo(offset) || fread(header, 1, sizeof(header), m_file) != sizeof(header)) break;
    m_diskOffsets[m_diskCount++] = offset;
    uint32_t diskSize = (uint32_t)ReadLE32(header + kDiskSizeOffset);
    // A disk too small to hold its own header leaves nothing to say where the
    // next one starts; following it would find the same header over and over.
    if (diskSize < (uint32_t)kDiskHeaderSize) break;
    offset += diskSize;
  }
  return true;
}

void D88Image::SetSectorRange(int first, int last) {
  m_firstSector = first;
  m_lastSector = last;
}

bool D88Image::SelectDisk(int index) {
  if (!m_file) return false;
  // The track table is left as it was: with the disk size at 0 every track is
  // absent until the next successful selection.
  ClearSelection();
  if (index < 0 || index >= m_diskCount) return false;

  uint8_t header[kDiskHeaderSize];
  if (!SeekTo(m_diskOffsets[index]) || fread(header, 1, sizeof(header), m_file) != sizeof(header))
    return false;  // the file changed since it was opened
  for (int t = 0; t < kTrackCount; ++t)
    m_trackOffsets[t] = (uint32_t)ReadLE32(header + kTrackTableOffset + 4 * t);
  m_mediaType = header[kMediaTypeOffset];
  m_diskSize = (uint32_t)ReadLE32(header + kDiskSizeOffset);
  m_diskOffset = m_diskOffsets[index];
  // The name fills all 16 bytes when it is 16 characters long; the byte after
  // it is not always zero in real images, so it is never looked at.
  for (int i = 0; i < kDiskNameSize && header[kDiskNameOffset + i] != 0; ++i)
    m_name[i] = (char)header[kDiskNameOffset + i];
  m_currentDisk = index;
  return true;
}

// Positions the file at the first record of `track` of the selected disk.
// An offset equal to the disk size is accepted: the track then starts right
// after the disk, where a damaged image may still hold its records.
bool D88Image::TrackStart(int track, int64_t* offset) const {
  if (!m_file || m_currentDisk < 0 || track < 0 || track >= kTrackCount) return false;
  uint32_t trackOffset = m_trackOffsets[track];
  if (trackOffset == 0 || trackOffset > m_diskSize) return false;
  *offset = m_diskOffset + trackOffset;
  return true;
}

bool D88Image::SeekTrack(int track) {
  int64_t offset;
  return TrackStart(track, &offset) && SeekTo(offset);
}

// The index in m_known of the first record with ID c, h, r, n that a scan of
// `track` meets; -1 when the scan ends without one; kBeyondKnown when the
// track holds more records than can be kept and the scan has passed them.
int D88Image::FindRecord(int track, int c, int h, int r, int n) {
  if (m_knownTrack < 0 || m_knownTrack != track) {
    int64_t start;
    if (!TrackStart(track, &start)) return -1;
    m_knownTrack = track;
    m_knownCount = 0;
    m_knownComplete = false;
    m_nextRecord = start;
  }
  for (int i = 0; i < m_knownCount; ++i) {
    const uint8_t* id = m_known[i].id;
    if (id[0] == c && id[1] == h && id[2] == r && id[3] == n) return i;
  }
  if (m_knownComplete) return -1;
  if (m_knownCount == kKnownRecords) return kBeyondKnown;
  if (!SeekTo(m_nextRecord)) return -1;
  uint8_t header[kSectorHeaderSize];
  for (;;) {
    if (fread(header, 1, sizeof(header), m_file) != sizeof(header)) break;
    int count = ReadLE16(header + kSectorCountOffset);
    int dataSize = ReadLE16(header + kSectorDataSizeOffset);
    // A record that counts no sectors is never found and ends the scan.
    if (count == 0) break;
    int i = m_knownCount++;
    KnownRecord& record = m_known[i];
    memcpy(record.id, header + kSectorCylinderOffset, 4);
    record.dataSize = (uint16_t)dataSize;
    record.dataOffset = m_nextRecord + kSectorHeaderSize;
    m_nextRecord = record.dataOffset + dataSize;
    // Each record carries the track's count; the one just read bounds the
    // scan, also when it is smaller than the records already passed.
    m_knownComplete = i + 1 >= count;
    const uint8_t* id = record.id;
    if (id[0] == c && id[1] == h && id[2] == r && id[3] == n) return i;
    if (m_knownComplete) return -1;
    if (m_knownCount == kKnownRecords) return kBeyondKnown;
    if (!SkipForward(m_file, dataSize)) break;
  }
  m_knownComplete = true;
  return -1;
}

int D88Image::ReadSector(int track, int c, int h, int r, int n, uint8_t* buf, int maxLen) {
  int index = FindRecord(track, c, h, r, n);
  if (index == kBeyondKnown) return ScanForSector(track, c, h, r, n, buf, maxLen);
  if (index < 0) return 0;
  const KnownRecord& record = m_known[index];
  int len = record.dataSize < maxLen ? record.dataSize : maxLen;
  if (len <= 0 || !SeekTo(record.dataOffset)) return 0;
  // Data may be cut short by the end of the file: only what arrived counts.
  return (int)fread(buf, 1, (size_t)len, m_file);
}

// The scan from the track's first record, for tracks of more records than
// FindRecord keeps.
int D88Image::ScanForSector(int track, int c, int h, int r, int n, uint8_t* buf, int maxLen) {
  if (!SeekTrack(track)) return 0;
  uint8_t header[kSectorHeaderSize];
  for (int i = 0;; ++i) {
    if (fread(header, 1, sizeof(header), m_file) != sizeof(header)) return 0;
    int count = ReadLE16(header + kSectorCountOffset);
    int dataSize = ReadLE16(header + kSectorDataSizeOffset);
    if (count == 0) return 0;
    const uint8_t* id = header + kSectorCylinderOffset;
    if (id[0] == c && id[1] == h && id[2] == r && id[3] == n) {
      int len = dataSize < maxLen ? dataSize : maxLen;
      if (len <= 0) return 0;
      return (int)fread(buf, 1, (size_t)len, m_file);
    }
    if (!SkipForward(m_file, dataSize)) return 0;
    if (i + 1 >= count) return 0;
  }
}

int D88Image::ReadSectors(int track, int c, int h, int r, int n, uint8_t* buf, int total) {
  // 128 << n must stay a positive int; no record has a larger size code anyway.
  if (total <= 0 || n < 0 || n > 23) return 0;
  int chunk = 128 << n;
  int done = 0;
  while (done < total) {
    if (chunk > total - done) chunk = total - done;
    if (ReadSector(track, c, h, r, n, buf + done, chunk) < chunk) return done;
    done += chunk;
    if (r == m_lastSector) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = m_firstSector;
    } else {
      ++r;
    }
  }
  return done;
}

int D88Image::GetSectorIds(int track, uint8_t* ids, int idsLen) {
  if (!SeekTrack(track)) return 0;
  uint8_t header[kSectorHeaderSize];
  int stored = 0;
  for (int i = 0; stored + 4 <= idsLen; ++i) {
    if (fread(header, 1, sizeof(header), m_file) != sizeof(header)) break;
    int count = ReadLE16(header + kSectorCountOffset);
    // A record that counts no sectors ends the track, as it does for ReadSector:
    // what follows its data is not a record of this track.
    if (count == 0) break;
    memcpy(ids + stored, header + kSectorCylinderOffset, 4);
    stored += 4;
    if (!SkipForward(m_file, ReadLE16(header + kSectorDataSizeOffset))) break;
    if (i + 1 >= count) break;
  }
  return stored;
}
