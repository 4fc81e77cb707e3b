// Benchmark content and the benchmark disk layout.
#include "bench/bench_data.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/support/image_builder.h"
#include "tests/support/lzss_encoder.h"

namespace zelvrin_bench {
namespace {

Bytes ReadWholeFile(const char* path) {
  Bytes out;
  FILE* f = fopen(path, "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t got;
  while ((got = fread(buf, 1, sizeof(buf), f)) > 0) out.insert(out.end(), buf, buf + got);
  fclose(f);
  return out;
}

const Bytes& TextSource() {
  static const Bytes text = [] {
    Bytes t = ReadWholeFile("/usr/share/common-licenses/GPL-3");
    if (t.size() < 8192) t = ReadWholeFile(ZELVRIN_SOURCE_DIR "/README.md");
    if (t.size() < 8192) {
      // Neither is there: made-up prose is still text, if a poorer one.
      static const char* const kWords[] = {"the",   "party", "rests", "at",    "inn",   "before",
                                           "long",  "road",  "north", "and",   "a",     "door",
                                           "opens", "onto",  "cold",  "hills", "where", "no",
                                           "one",   "walks", "after", "dark",  "says",  "old"};
      Random rng(7);
      std::string s;
      while (s.size() < 65536) {
        s += kWords[rng.Below(24)];
        s += rng.Below(12) == 0 ? ".\n" : " ";
      }
      t.assign(s.begin(), s.end());
    }
    return t;
  }();
  return text;
}

const Bytes& ProgramSource() {
  static const Bytes program = [] {
    Bytes p = ReadWholeFile("/proc/self/exe");
    if (p.size() < 8192) p = RandomBytes(1 << 20, 99);
    return p;
  }();
  return program;
}

Bytes Slice(const Bytes& source, size_t size, size_t offset) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = source[(offset + i) % source.size()];
  return out;
}

}  // namespace

uint64_t Random::Next() {
  // splitmix64
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

Bytes EnglishText(size_t size, size_t offset) {
  return Slice(TextSource(), size, offset);
}

Bytes ProgramBytes(size_t size, size_t offset) {
  const Bytes& p = ProgramSource();
  // Past the headers, into code and data.
  return Slice(p, size, p.size() / 4 + offset);
}

Bytes Zeros(size_t size) {
  return Bytes(size, 0);
}

Bytes RandomBytes(size_t size, uint64_t seed) {
  Random rng(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = (uint8_t)(rng.Next() >> 56);
  return out;
}

Bytes PictureBytes(size_t size, uint64_t seed) {
  Random rng(seed);
  const size_t width = 64 + rng.Below(257);
  uint8_t palette[16];
  for (uint8_t& c : palette) c = (uint8_t)(rng.Next() >> 56);
  Bytes row(width);
  Bytes out;
  out.reserve(size + width);
  bool fresh = true;
  while (out.size() < size) {
    if (fresh) {
      for (size_t x = 0; x < width;) {
        size_t run = 4 + rng.Below(37);
        uint8_t c = palette[rng.Below(16)];
        for (size_t k = 0; k < run && x < width; ++k) row[x++] = c;
      }
    } else {
      for (int k = rng.Below(4); k > 0; --k)
        row[rng.Below((uint32_t)width)] = palette[rng.Below(16)];
    }
    out.insert(out.end(), row.begin(), row.end());
    fresh = rng.Below(6) == 0;
  }
  out.resize(size);
  return out;
}

Bytes BuildBenchDisk(uint64_t seed, DiskStats* stats) {
  const int kSlots = 336;
  const int kSectors = 820;  // 164 track sides of 5
  const int kDirectory = 5;  // linear sector of the directory
  Random rng(seed);
  zelvrin_test::VolumeBuilder volume;
  volume.FullDisk();
  DiskStats s;
  int next = 0;  // first free linear sector
  for (int slot = 0; slot < kSlots; ++slot) {
    // Three large files per disk, the rest spread over 1 to 8 KiB with most
    // of them near the small end, as a game's many small records are.
    const bool big = slot % 112 == 56;
    const bool compressed = big || slot % 2 == 0;
    size_t size = big ? 16384 + rng.Below(65535 - 16384 + 1)
                      : 1024 + (size_t)(7168 * std::pow(rng.Unit(), 3.0));
    Bytes content;
    const uint32_t kind = rng.Below(100);
    const size_t offset = rng.Below(1 << 20);
    if (big || (compressed && kind < 25))
      content = PictureBytes(size, rng.Next());
    else if (compressed || kind < 30)
      content = EnglishText(size, offset);
    else if (kind < 70)
      content = ProgramBytes(size, offset);
    else
      content = RandomBytes(size, rng.Next());

    // Every later slot needs a sector at least: shrink this file until the
    // rest still fit.
    for (;;) {
      Bytes file;
      if (compressed) {
        Bytes stream = zelvrin_test::EncodeLzss(content);
        // packedSize only has to differ from fileSize to mark the body packed.
        uint16_t packed = (uint16_t)stream.size();
        if (packed == (uint16_t)content.size()) ++packed;
        file = zelvrin_test::FileHeaderBytes(packed, (uint16_t)content.size());
        file.insert(file.end(), stream.begin(), stream.end());
      } else {
        file = zelvrin_test::FileHeaderBytes((uint16_t)content.size(), (uint16_t)content.size());
        file.insert(file.end(), content.begin(), content.end());
      }
      const int sectors = (int)((file.size() + 1023) / 1024);
      int start = next;
      if (start <= kDirectory && start + sectors > kDirectory) start = kDirectory + 1;
      int end = start + sectors;
      int freeAfter = kSectors - end - (end <= kDirectory ? 1 : 0);
      if (freeAfter >= kSlots - slot - 1) {
        volume.AddFile(slot, start, file);
        next = end;
        s.files += 1;
        s.compressed += compressed ? 1 : 0;
        s.sectors += sectors;
        s.outputBytes += content.size();
        if (content.size() > s.largestFile) s.largestFile = content.size();
        break;
      }
      content.resize(content.size() * 3 / 4);
    }
  }
  if (stats) *stats = s;
  return volume.Build();
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

#ifdef _WIN32
const char kNullDevice[] = "NUL";
#else
const char kNullDevice[] = "/dev/null";
#endif

ScratchDir::ScratchDir() {
  namespace fs = std::filesystem;
  Random rng((uint64_t)std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("zelvrin-bench-" + std::to_string(rng.Next() >> 40));
    if (fs::create_directory(p)) {
      path_ = p.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void ScratchDir::Empty() const {
  for (const auto& entry : std::filesystem::directory_iterator(path_))
    std::filesystem::remove_all(entry.path());
}

}  // namespace zelvrin_bench
