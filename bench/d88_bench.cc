// A whole-disk ReadSectors, 820 sectors in one run, against one fread of the
// same disk from the same file.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/bench_data.h"
#include "d88/d88_image.h"
#include "tests/support/image_builder.h"

namespace {

const int kDiskSectors = 164 * 5;
const int kDiskBytes = kDiskSectors * 1024;

// The full disk, written once for all the benchmarks of the run.
struct FullDisk {
  zelvrin_bench::ScratchDir dir;
  std::string path = dir.File("full.d88");
  size_t fileSize = 0;
  bool written = false;
  FullDisk() {
    zelvrin_bench::Bytes disk = zelvrin_test::VolumeBuilder().FullDisk().Build();
    fileSize = disk.size();
    written = zelvrin_bench::WriteFile(path, disk);
  }
};

const FullDisk& TheFullDisk() {
  static const FullDisk disk;
  return disk;
}

uint8_t g_buffer[kDiskBytes + 65536];

void BM_ReadSectors(benchmark::State& state) {
  const FullDisk& disk = TheFullDisk();
  D88Image image;
  if (!disk.written || !image.Open(disk.path.c_str()) || !image.SelectDisk(0)) {
    state.SkipWithError("cannot open the full disk");
    return;
  }
  image.SetSectorRange(1, 5);
  for (auto _ : state) {
    if (image.ReadSectors(0, 0, 0, 1, 3, g_buffer, kDiskBytes) != kDiskBytes) {
      state.SkipWithError("short read");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kDiskBytes);
}

// The floor: the disk file, sector headers and all, in a single read.
void BM_FreadDisk(benchmark::State& state) {
  const FullDisk& disk = TheFullDisk();
  FILE* f = disk.written ? fopen(disk.path.c_str(), "rb") : nullptr;
  if (!f || disk.fileSize > sizeof(g_buffer)) {
    state.SkipWithError("cannot open the full disk");
    if (f) fclose(f);
    return;
  }
  for (auto _ : state) {
    fseek(f, 0, SEEK_SET);
    if (fread(g_buffer, 1, disk.fileSize, f) != disk.fileSize) {
      state.SkipWithError("short read");
      break;
    }
  }
  fclose(f);
  // Counted as the sector bytes, so that the two rates compare directly.
  state.SetBytesProcessed(state.iterations() * (int64_t)kDiskBytes);
}

}  // namespace

BENCHMARK(BM_ReadSectors);
BENCHMARK(BM_FreadDisk);
