// Content for the benchmarks and the benchmark image: English text, program
// bytes, zeros and random bytes, and full disks of the game's volume layout
// with every directory slot used.
#ifndef ZELVRIN_BENCH_BENCH_DATA_H_
#define ZELVRIN_BENCH_BENCH_DATA_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvrin_bench {

using Bytes = std::vector<uint8_t>;

// Small, fast and the same on every platform, so every run builds the same
// image.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next();
  // Uniform in [0, bound).
  uint32_t Below(uint32_t bound) { return (uint32_t)((Next() >> 32) * bound >> 32); }
  // Uniform in [0, 1).
  double Unit() { return (double)(Next() >> 11) * (1.0 / 9007199254740992.0); }

 private:
  uint64_t state_;
};

// `size` bytes of English prose, from `offset` into a fixed text (the GPL
// licence text that every Debian system carries, else this project's README),
// wrapped around as needed.
Bytes EnglishText(size_t size, size_t offset = 0);
// `size` bytes of machine code and data: the running program's own file.
Bytes ProgramBytes(size_t size, size_t offset = 0);
Bytes Zeros(size_t size);
Bytes RandomBytes(size_t size, uint64_t seed);
// Picture-like data: runs of equal bytes and repeated rows, as in the game's
// bitmaps, which compress far better than text.
Bytes PictureBytes(size_t size, uint64_t seed);

// What one benchmark disk holds.
struct DiskStats {
  int files = 0;
  int compressed = 0;
  int sectors = 0;         // sectors taken by files
  size_t outputBytes = 0;  // bytes the tool writes for the disk
  size_t largestFile = 0;
};

// A full disk (164 track sides of five 1024-byte sectors) whose 336 slots are
// all used: about half compressed, half stored, most sizes between 1 and
// 8 KiB, three up to 64 KiB. Disks with the same `seed` are identical.
Bytes BuildBenchDisk(uint64_t seed, DiskStats* stats = nullptr);

// Writes bytes to a file; false when that fails.
bool WriteFile(const std::string& path, const Bytes& bytes);

// A fresh empty folder under the system's temporary folder, removed with
// everything in it by the destructor.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Removes everything in the folder, keeping the folder.
  void Empty() const;

 private:
  std::string path_;
};

// The null device, for output whose bytes do not matter.
extern const char kNullDevice[];

}  // namespace zelvrin_bench

#endif  // ZELVRIN_BENCH_BENCH_DATA_H_
