// make_fuzz_seeds OUT [REALWORLD]: writes the seed corpora of the fuzz targets
// into OUT/d88_image, OUT/lzss_decoder and OUT/zelvrin: images in the game's
// volume layout, whole and damaged, and LZSS streams; plus the *.d88 images of
// REALWORLD when that folder exists. Every run writes the same bytes.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/lzss_encoder.h"

namespace {

namespace fs = std::filesystem;
using zelvrin_test::Bytes;
using zelvrin_test::DiskBuilder;
using zelvrin_test::EncodeLzss;
using zelvrin_test::FileHeaderBytes;
using zelvrin_test::VolumeBuilder;

Bytes Text(int lines, const std::string& what) {
  std::string s;
  for (int i = 1; i <= lines; ++i) s += "Line " + std::to_string(i) + ": " + what + "\r\n";
  return Bytes(s.begin(), s.end());
}

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (uint8_t& v : b) v = (uint8_t)rng();
  return b;
}

// Runs and ramps, which the encoder turns into pairs of every length.
Bytes Ramps(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = (uint8_t)(i % 300 < 150 ? i / 64 : i % 7);
  return b;
}

// Disk 1 of the volumes below: stored and compressed files, one that runs from
// sector 4 of track 2 over head 1 into cylinder 2, an empty one, and a
// compressed one of no bytes.
VolumeBuilder FirstVolume() {
  VolumeBuilder v;
  v.AddStoredFile(0, 6, Text(3, "a stored file in one sector"));
  v.AddCompressedFile(1, 7, Text(60, "the inn, the road north, the inn again"));
  int next = v.AddStoredFile(2, 13, Ramps(9000));
  next = v.AddCompressedFile(5, next, Noise(1500, 1));
  next = v.AddStoredFile(7, next, Bytes());
  Bytes packedEmpty = FileHeaderBytes(5, 0);
  packedEmpty.resize(16, 0xFF);
  v.AddFile(9, next, packedEmpty);
  return v;
}

VolumeBuilder SecondVolume() {
  VolumeBuilder v;
  int next = v.AddCompressedFile(0, 18, Ramps(12000));
  next = v.AddCompressedFile(3, next, Bytes(6000, 0));
  v.AddStoredFile(335, next, Text(2, "the last slot"));
  return v;
}

VolumeBuilder ThirdVolume() {
  VolumeBuilder v;
  int next = v.AddStoredFile(1, 6, Noise(3000, 2));
  v.AddCompressedFile(2, next, Text(200, "a long text that crosses tracks"));
  return v;
}

Bytes ThreeDisks() {
  return zelvrin_test::Concat(
      {FirstVolume().Build(), SecondVolume().Build(), ThirdVolume().Build()});
}

Bytes Cut(Bytes b, size_t size) {
  b.resize(size);
  return b;
}

// A disk that holds only the directory and one file, both on track 1: small
// enough to pack 65 of them, so that names run past 'Z', 'a', '\' and 0x80.
Bytes TinyDisk(int index) {
  Bytes dir(1024, 0xFF);
  dir[16] = 6;  // slot 0: linear sector 6 = track 1, sector 2, one sector long
  dir[17] = 0;
  dir[18] = 1;
  std::string text = "disk " + std::to_string(index + 1);
  Bytes file = FileHeaderBytes((uint16_t)text.size(), (uint16_t)text.size());
  file.insert(file.end(), text.begin(), text.end());
  file.resize(1024, 0);
  DiskBuilder d;
  d.AddSector(1, 0, 1, 1, 3, dir).AddSector(1, 0, 1, 2, 3, file);
  return d.Build();
}

std::vector<std::pair<std::string, Bytes>> Images() {
  std::vector<std::pair<std::string, Bytes>> images;
  images.emplace_back("one_volume.d88", FirstVolume().Build());
  Bytes three = ThreeDisks();
  images.emplace_back("three_volumes.d88", three);
  images.emplace_back("cut_in_second_disk.d88", Cut(three, three.size() / 2));
  images.emplace_back("cut_in_directory.d88",
                      Cut(FirstVolume().Build(), 688 + 5 * 1040 + 16 + 500));

  VolumeBuilder missing = FirstVolume();
  missing.RemoveSector(15);  // the long stored file's third sector
  images.emplace_back("missing_sector.d88", missing.Build());

  VolumeBuilder shortData = FirstVolume();
  shortData.SetSectorDataSize(14, 600, 600);
  images.emplace_back("short_sector.d88", shortData.Build());

  DiskBuilder counts = FirstVolume().ToDisk();
  counts.Record(2, 0).sectorCount = 2;  // the scan of track 2 ends early
  counts.Record(3, 1).sectorCount = 0;
  counts.Record(1, 0).dataSize = 2000;  // the directory's record swallows the next
  images.emplace_back("bad_counts.d88", counts.Build());

  DiskBuilder beyond = SecondVolume().ToDisk();
  beyond.SetTrackOffset(4, 0x7FFFFFF0).SetTrackOffset(5, 0xFFFFFFF0);
  images.emplace_back("tracks_beyond_disk.d88",
                      zelvrin_test::Concat({beyond.Build(), FirstVolume().Build()}));

  DiskBuilder tooSmall = ThirdVolume().ToDisk();
  tooSmall.SetDiskSize(100);  // smaller than its own header
  images.emplace_back(
      "disk_size_too_small.d88",
      zelvrin_test::Concat({FirstVolume().Build(), tooSmall.Build(), ThirdVolume().Build()}));

  VolumeBuilder zeros = FirstVolume();
  std::fill(zeros.Directory().begin(), zeros.Directory().end(), 0);
  images.emplace_back("zero_directory.d88", zeros.Build());

  VolumeBuilder overrun;
  overrun.AddFile(0, 6, FileHeaderBytes(100, 60000));  // a stream far shorter than its size
  overrun.AddFile(1, 7, FileHeaderBytes(65535, 65535), 255);
  overrun.SetEntry(2, 0xFF, 0xFF, 0xFE);
  images.emplace_back("sizes_beyond_data.d88", overrun.Build());

  DiskBuilder mixed = FirstVolume().ToDisk();
  mixed.AddSector(2, 1, 0, 3, 2, Bytes(512, 0x33));   // a second R 3 of another size
  mixed.AddSector(2, 1, 0, 1, 3, Bytes(1024, 0x11));  // a duplicate of R 1, found second
  mixed.SetName("MIXED-SECTORS-16").PatchHeader(0x10, 'X').SetMediaType(0x20);
  images.emplace_back("mixed_sectors.d88", mixed.Build());

  std::vector<Bytes> tiny;
  for (int i = 0; i < 65; ++i) tiny.push_back(TinyDisk(i));
  images.emplace_back("sixty_five_disks.d88", zelvrin_test::Concat(tiny));

  images.emplace_back("header_only.d88", Bytes(688, 0));
  images.emplace_back("shorter_than_header.d88", Bytes(100, 0));
  images.emplace_back("empty.d88", Bytes());
  return images;
}

// fileSize, low byte first, then the stream.
Bytes DecoderInput(uint16_t fileSize, const Bytes& stream) {
  Bytes b(2 + stream.size());
  b[0] = (uint8_t)fileSize;
  b[1] = (uint8_t)(fileSize >> 8);
  std::copy(stream.begin(), stream.end(), b.begin() + 2);
  return b;
}

Bytes Encoded(const Bytes& content, bool literalsOnly = false) {
  zelvrin_test::LzssEncodeOptions options;
  options.literalsOnly = literalsOnly;
  return DecoderInput((uint16_t)content.size(), EncodeLzss(content, options));
}

std::vector<std::pair<std::string, Bytes>> Streams() {
  std::vector<std::pair<std::string, Bytes>> streams;
  streams.emplace_back("text.lzss", Encoded(Text(40, "words that repeat and repeat")));
  streams.emplace_back("ramps.lzss", Encoded(Ramps(20000)));
  streams.emplace_back("zeros.lzss", Encoded(Bytes(9000, 0)));
  streams.emplace_back("noise.lzss", Encoded(Noise(3000, 3)));
  streams.emplace_back("literals_only.lzss", Encoded(Text(10, "every token a literal"), true));
  streams.emplace_back("window_wraps.lzss", Encoded(Text(300, "past position 4095 and round")));
  streams.emplace_back("size_zero.lzss", DecoderInput(0, Noise(16, 4)));
  streams.emplace_back("stream_runs_short.lzss", DecoderInput(4000, Noise(10, 5)));
  streams.emplace_back("largest_size.lzss", DecoderInput(65535, Bytes()));
  streams.emplace_back("pairs_only.lzss", DecoderInput(400, Bytes(64, 0)));
  return streams;
}

void Write(const fs::path& dir, const std::vector<std::pair<std::string, Bytes>>& files) {
  for (const auto& [name, bytes] : files)
    zelvrin_test::WriteFileBytes((dir / name).string(), bytes);
}

// Images that other tools made: real layouts, though none holds this volume.
void CopyRealImages(const fs::path& from, const std::vector<fs::path>& to) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return;
  for (const auto& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file() || e.path().extension() != ".d88") continue;
    for (const fs::path& dir : to) {
      fs::path copy = dir / ("realworld_" + e.path().filename().string());
      fs::copy_file(e.path(), copy, fs::copy_options::overwrite_existing);
      // The originals may be read-only; the fuzzer may rewrite its corpus.
      fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: make_fuzz_seeds OUT [REALWORLD]\n");
    return 1;
  }
  try {
    fs::path out = argv[1];
    fs::path images = out / "d88_image", streams = out / "lzss_decoder", tool = out / "zelvrin";
    for (const fs::path& dir : {images, streams, tool}) {
      fs::remove_all(dir);
      fs::create_directories(dir);
    }
    std::vector<std::pair<std::string, Bytes>> imageSeeds = Images();
    Write(images, imageSeeds);
    Write(tool, imageSeeds);
    Write(streams, Streams());
    if (argc == 3) CopyRealImages(argv[2], {images, tool});
  } catch (const std::exception& e) {
    fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
