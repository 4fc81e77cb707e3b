// make_bench_image DISKS OUT: writes an image of DISKS full disks (1 to 64)
// whose 336 directory slots are all used, for timing the tool on whole images.
// Disk k is the same in every image, so the images of 1, 8 and 64 disks grow
// by adding disks and nothing else.
#include <cstdio>
#include <cstdlib>

#include "bench/bench_data.h"

int main(int argc, char* argv[]) {
  int disks = argc == 3 ? atoi(argv[1]) : 0;
  if (disks < 1 || disks > 64) {
    fprintf(stderr, "usage: make_bench_image DISKS OUT   (DISKS 1 to 64)\n");
    return 1;
  }
  zelvrin_bench::Bytes image;
  size_t files = 0, compressed = 0, sectors = 0, outputBytes = 0, largest = 0;
  for (int d = 0; d < disks; ++d) {
    zelvrin_bench::DiskStats stats;
    zelvrin_bench::Bytes disk = zelvrin_bench::BuildBenchDisk((uint64_t)d, &stats);
    image.insert(image.end(), disk.begin(), disk.end());
    files += stats.files;
    compressed += stats.compressed;
    sectors += stats.sectors;
    outputBytes += stats.outputBytes;
    if (stats.largestFile > largest) largest = stats.largestFile;
  }
  if (!zelvrin_bench::WriteFile(argv[2], image)) {
    fprintf(stderr, "make_bench_image: cannot write %s\n", argv[2]);
    return 1;
  }
  printf(
      "%s: %d disks, %zu bytes; %zu files (%zu compressed) in %zu sectors; %zu bytes out, "
      "largest file %zu\n",
      argv[2], disks, image.size(), files, compressed, sectors, outputBytes, largest);
  return 0;
}
