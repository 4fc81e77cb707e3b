// Builds D88 images for tests: sectors by ID and data, tracks, disks packed end
// to end, and any header field set wrong on purpose. Also lays out the game's
// volume (directory and files) on a disk.
#ifndef ZELVRIN_TESTS_SUPPORT_IMAGE_BUILDER_H_
#define ZELVRIN_TESTS_SUPPORT_IMAGE_BUILDER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelvrin_test {

using Bytes = std::vector<uint8_t>;

struct SectorRecord {
  uint8_t c = 0, h = 0, r = 1, n = 3;
  Bytes data;
  // Wrong on purpose where set: the sector count every record carries, and
  // the data size the header announces (the real data stays as it is).
  std::optional<uint16_t> sectorCount;
  std::optional<uint16_t> dataSize;
};

// One disk: a 688-byte header, then its tracks in ascending track order.
class DiskBuilder {
 public:
  DiskBuilder& SetName(const std::string& name);  // at most 16 bytes, written as given
  DiskBuilder& SetMediaType(uint8_t type);
  // Appends a record to track t (0-163); records stay in the order added.
  DiskBuilder& AddSector(int track, uint8_t c, uint8_t h, uint8_t r, uint8_t n, Bytes data);
  // The record last added to `track`, or record `index` of it, for corrupting.
  SectorRecord& Record(int track, int index);
  int RecordCount(int track) const;
  // Overrides of computed fields.
  DiskBuilder& SetTrackOffset(int track, uint32_t offset);
  DiskBuilder& SetDiskSize(uint32_t size);
  // Raw header bytes, patched after everything else (e.g. the name terminator).
  DiskBuilder& PatchHeader(int offset, uint8_t value);

  Bytes Build() const;

 private:
  std::string name_;
  uint8_t mediaType_ = 0;
  std::map<int, std::vector<SectorRecord>> tracks_;
  std::map<int, uint32_t> trackOffsets_;
  std::optional<uint32_t> diskSize_;
  std::map<int, uint8_t> patches_;
};

// Packs disks end to end, as a D88 file holds them.
Bytes Concat(const std::vector<Bytes>& disks);

// The game's volume on one disk: five 1024-byte sectors (R 1-5, N 3) on every
// track side up to the last one used (at least track 1, which holds the
// directory), track t on cylinder t >> 1, head t & 1.
class VolumeBuilder {
 public:
  VolumeBuilder();
  // Makes all 164 tracks present, as on a full disk.
  VolumeBuilder& FullDisk();
  // Directory entry bytes of a slot, as they stand (FF FF FF is empty).
  VolumeBuilder& SetEntry(int slot, uint8_t b0, uint8_t b1, uint8_t b2);
  // Writes header + body into consecutive sectors from linear sector `start`
  // and points slot at them; the length is the sectors the bytes need unless
  // `sectors` is given. Returns the linear sector after the file.
  int AddFile(int slot, int start, const Bytes& headerAndBody, int sectors = -1);
  int AddStoredFile(int slot, int start, const Bytes& content);
  int AddCompressedFile(int slot, int start, const Bytes& content);  // packs with the test encoder
  // Puts data into one linear sector (1024 bytes, zero-padded).
  VolumeBuilder& WriteSector(int linear, const Bytes& data);
  // Leaves a linear sector out of the image, or gives it a wrong length.
  VolumeBuilder& RemoveSector(int linear);
  VolumeBuilder& SetSectorDataSize(int linear, uint16_t dataSize, size_t actualBytes);
  // The directory sector's raw bytes (1024).
  Bytes& Directory() { return sectors_[5]; }

  // The disk, before Build(), for further wrong fields.
  DiskBuilder ToDisk() const;
  Bytes Build() const { return ToDisk().Build(); }

 private:
  std::map<int, Bytes> sectors_;  // linear sector -> 1024 bytes
  std::map<int, size_t> shortSectors_;
  std::map<int, uint16_t> dataSizes_;
  std::map<int, bool> removed_;
  int lastTrack_ = 1;
};

// 8-byte file header: packedSize, 0, fileSize, 0 (little-endian 16-bit each).
Bytes FileHeaderBytes(uint16_t packedSize, uint16_t fileSize);

// A width x height 24-bit BMP picture (a gradient with a diagonal band), the
// kind of file game disks carry.
Bytes BmpPicture(int width, int height);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace zelvrin_test

#endif  // ZELVRIN_TESTS_SUPPORT_IMAGE_BUILDER_H_
