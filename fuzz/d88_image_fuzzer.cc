// Property: whatever bytes an image holds and whatever a caller asks of it,
// D88Image keeps its results in range and never writes outside the caller's
// buffer. GetDiskCount is 0 to 64; SelectDisk succeeds exactly for the indexes
// below it; ReadSector places 0 to maxLen bytes; ReadSectors counts 0 to total
// bytes, whole sectors unless it read all of total; GetSectorIds stores whole
// 4-byte IDs, idsLen bytes at most. Without a selected disk every read gives 0.
//
// The input is the image. Its last bytes double as the requests (track, sector
// ID, lengths, sector range), taken from the end backwards, so that mutations
// of the tail steer the reads while the head stays a plausible image.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d88/d88_image.h"
#include "fuzz/fuzz_check.h"

namespace {

// Hands out the input's bytes from the last one backwards; 0 once they run out.
class TailReader {
 public:
  TailReader(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  bool Empty() const { return left_ == 0; }
  int Byte() { return left_ == 0 ? 0 : data_[--left_]; }
  int Word() {
    int low = Byte();
    return low | (Byte() << 8);
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

// Requests beyond the directory reads that every disk gets; enough to reach
// deep into a track, few enough to keep an input fast.
const int kRequestBudget = 48;

const int kGuardSize = 64;
const uint8_t kGuardByte = 0xA5;

// A caller's buffer of exactly len bytes, followed by guard bytes that no read
// may touch. AddressSanitizer watches past the guard.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(int len)
      : len_(len > 0 ? (size_t)len : 0), bytes_(len_ + kGuardSize, kGuardByte) {}
  uint8_t* data() { return bytes_.data(); }
  bool GuardIntact() const {
    for (size_t i = len_; i < bytes_.size(); ++i)
      if (bytes_[i] != kGuardByte) return false;
    return true;
  }

 private:
  size_t len_;
  std::vector<uint8_t> bytes_;
};

struct SectorId {
  int c, h, r, n;
};

std::string g_imagePath;

void RemoveScratchImage() {
  unlink(g_imagePath.c_str());
}

const char* ScratchImagePath() {
  if (g_imagePath.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvrin-d88-fuzz-XXXXXX";
    int fd = mkstemp(path.data());
    FUZZ_CHECK(fd >= 0, "cannot create a scratch file %s", path.c_str());
    close(fd);
    g_imagePath = path;
    atexit(RemoveScratchImage);
  }
  return g_imagePath.c_str();
}

void WriteImage(const char* path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path, "wb");
  FUZZ_CHECK(f != nullptr, "cannot write %s", path);
  bool ok = size == 0 || fwrite(data, 1, size, f) == size;
  ok = fclose(f) == 0 && ok;
  FUZZ_CHECK(ok, "cannot write %s", path);
}

// Mostly a track of the table, now and then an index outside it.
int PickTrack(TailReader& in) {
  int b = in.Byte();
  if (b < 224) return b % kTrackCount;
  const int outside[] = {-1,      kTrackCount, kTrackCount + 1, 255,
                         INT_MAX, INT_MIN,     -kTrackCount,    1000};
  return outside[b & 7];
}

// Mostly an ID that the track lists, so that reads find sectors; otherwise
// raw bytes, or values that no header byte can match.
SectorId PickId(TailReader& in, D88Image& image, int track) {
  int mode = in.Byte();
  if (mode < 160) {
    uint8_t ids[64 * 4];
    int got = image.GetSectorIds(track, ids, (int)sizeof(ids));
    if (got > 0) {
      int k = in.Byte() % (got / 4) * 4;
      return SectorId{ids[k], ids[k + 1], ids[k + 2], ids[k + 3]};
    }
  }
  if (mode < 240) return SectorId{in.Byte(), in.Byte(), in.Byte(), in.Byte() % 8};
  const SectorId outside[] = {{256, 0, 1, 3}, {0, -1, 1, 3},  {0, 0, 256, 3},  {0, 0, 1, -1},
                              {0, 0, 1, 24},  {0, 0, 1, 255}, {-256, 0, 1, 0}, {0, 0, 0, 0}};
  return outside[mode & 7];
}

// Lengths from nothing to beyond any record's data size, and negative ones.
int PickLength(TailReader& in) {
  int mode = in.Byte();
  switch (mode % 6) {
    case 0:
      return in.Byte();
    case 1:
      return 128 << (in.Byte() % 8);
    case 2:
      return 1024 * (1 + in.Byte() % 64);
    case 3:
      return in.Word();
    case 4:
      return 65536 + in.Word();
    default:
      return -1 - in.Byte();
  }
}

void SetRange(D88Image& image, TailReader& in) {
  int mode = in.Byte();
  if (mode < 240) {
    int first = in.Byte() % 20 - 1;
    int last = in.Byte() % 20 - 1;
    image.SetSectorRange(first, last);
  } else {
    image.SetSectorRange(mode & 1 ? INT_MAX : INT_MIN, mode & 2 ? INT_MAX : INT_MIN);
  }
}

void CheckReadSector(D88Image& image, int track, SectorId id, int maxLen, bool selected) {
  GuardedBuffer buf(maxLen);
  int got = image.ReadSector(track, id.c, id.h, id.r, id.n, buf.data(), maxLen);
  int most = selected && maxLen > 0 ? maxLen : 0;
  FUZZ_CHECK(got >= 0 && got <= most, "ReadSector(track %d, %d %d %d %d, maxLen %d) gave %d", track,
             id.c, id.h, id.r, id.n, maxLen, got);
  FUZZ_CHECK(buf.GuardIntact(), "ReadSector(track %d, %d %d %d %d, maxLen %d) wrote past maxLen",
             track, id.c, id.h, id.r, id.n, maxLen);
}

void CheckReadSectors(D88Image& image, int track, SectorId id, int total, bool selected) {
  GuardedBuffer buf(total);
  int got = image.ReadSectors(track, id.c, id.h, id.r, id.n, buf.data(), total);
  int most = selected && total > 0 ? total : 0;
  FUZZ_CHECK(got >= 0 && got <= most, "ReadSectors(track %d, %d %d %d %d, total %d) gave %d", track,
             id.c, id.h, id.r, id.n, total, got);
  if (id.n >= 0 && id.n <= 23 && got != total) {
    int chunk = 128 << id.n;
    FUZZ_CHECK(got % chunk == 0,
               "ReadSectors(track %d, %d %d %d %d, total %d) gave %d, not whole sectors", track,
               id.c, id.h, id.r, id.n, total, got);
  }
  FUZZ_CHECK(buf.GuardIntact(), "ReadSectors(track %d, %d %d %d %d, total %d) wrote past total",
             track, id.c, id.h, id.r, id.n, total);
}

void CheckSectorIds(D88Image& image, int track, int idsLen, bool selected) {
  GuardedBuffer buf(idsLen);
  int got = image.GetSectorIds(track, buf.data(), idsLen);
  int most = selected && idsLen > 0 ? idsLen : 0;
  FUZZ_CHECK(got >= 0 && got <= most && got % 4 == 0, "GetSectorIds(track %d, idsLen %d) gave %d",
             track, idsLen, got);
  FUZZ_CHECK(buf.GuardIntact(), "GetSectorIds(track %d, idsLen %d) wrote past idsLen", track,
             idsLen);
}

void CheckSelection(D88Image& image, int index, bool selected) {
  bool inRange = index >= 0 && index < image.GetDiskCount();
  FUZZ_CHECK(selected == inRange, "SelectDisk(%d) gave %d with %d disks", index, selected,
             image.GetDiskCount());
  FUZZ_CHECK(image.GetCurrentDisk() == (selected ? index : -1), "SelectDisk(%d): current disk %d",
             index, image.GetCurrentDisk());
  int media = image.GetMediaType();
  FUZZ_CHECK(selected ? media >= 0 && media <= 255 : media == -1, "SelectDisk(%d): media type %d",
             index, media);
  size_t nameLength = strlen(image.GetDiskName());
  FUZZ_CHECK(nameLength <= 16 && (selected || nameLength == 0), "SelectDisk(%d): name of %zu bytes",
             index, nameLength);
}

// Selects disk `index` and reads it: first as the tool reads a volume, then
// with requests taken from the input while the budget lasts.
void ExerciseDisk(D88Image& image, int index, TailReader& in, int* budget) {
  bool selected = image.SelectDisk(index);
  CheckSelection(image, index, selected);

  image.SetSectorRange(1, 5);
  CheckReadSectors(image, 1, SectorId{0, 1, 1, 3}, 1024, selected);
  CheckReadSector(image, 2, SectorId{1, 0, 1, 3}, 2048, selected);
  CheckSectorIds(image, 0, 64, selected);

  SetRange(image, in);
  for (int requests = in.Byte() % 8; requests > 0 && *budget > 0 && !in.Empty(); --requests) {
    --*budget;
    int track = PickTrack(in);
    switch (in.Byte() % 3) {
      case 0: {
        SectorId id = PickId(in, image, track);
        CheckReadSector(image, track, id, PickLength(in), selected);
        break;
      }
      case 1: {
        SectorId id = PickId(in, image, track);
        CheckReadSectors(image, track, id, PickLength(in), selected);
        break;
      }
      default:
        CheckSectorIds(image, track, in.Byte() % 2 ? in.Byte() : PickLength(in), selected);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = ScratchImagePath();
  WriteImage(path, data, size);
  TailReader in(data, size);
  int budget = kRequestBudget;

  D88Image image;
  FUZZ_CHECK(image.Open(path), "cannot open %s", path);
  int count = image.GetDiskCount();
  FUZZ_CHECK(count >= 0 && count <= kMaxDisks, "GetDiskCount gave %d", count);

  for (int i = 0; i < count; ++i) ExerciseDisk(image, i, in, &budget);
  const int outside[] = {-1, count, kMaxDisks, INT_MAX, INT_MIN};
  for (int index : outside) ExerciseDisk(image, index, in, &budget);

  // The disks found depend on the file alone; a closed image reads nothing.
  FUZZ_CHECK(image.Open(path) && image.GetDiskCount() == count,
             "a second Open found %d disks, not %d", image.GetDiskCount(), count);
  FUZZ_CHECK(image.Open(nullptr) && image.GetDiskCount() == 0, "Open(nullptr) left %d disks",
             image.GetDiskCount());
  ExerciseDisk(image, 0, in, &budget);
  return 0;
}
