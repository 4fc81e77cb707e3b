// Test image builder: computes track tables, counts and sizes unless a test
// overrides them.
#include "tests/support/image_builder.h"

#include <cstdio>
#include <stdexcept>

#include "tests/support/lzss_encoder.h"

namespace zelvrin_test {
namespace {

const size_t kHeaderSize = 0x2B0;
const int kTracks = 164;

void PutLE16(Bytes& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}

void PutLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}

}  // namespace

DiskBuilder& DiskBuilder::SetName(const std::string& name) {
  name_ = name.substr(0, 16);
  return *this;
}

DiskBuilder& DiskBuilder::SetMediaType(uint8_t type) {
  mediaType_ = type;
  return *this;
}

DiskBuilder& DiskBuilder::AddSector(int track, uint8_t c, uint8_t h, uint8_t r, uint8_t n,
                                    Bytes data) {
  if (track < 0 || track >= kTracks) throw std::out_of_range("track");
  SectorRecord rec;
  rec.c = c;
  rec.h = h;
  rec.r = r;
  rec.n = n;
  rec.data = std::move(data);
  tracks_[track].push_back(std::move(rec));
  return *this;
}

SectorRecord& DiskBuilder::Record(int track, int index) {
  return tracks_.at(track).at(index);
}

int DiskBuilder::RecordCount(int track) const {
  auto it = tracks_.find(track);
  return it == tracks_.end() ? 0 : (int)it->second.size();
}

DiskBuilder& DiskBuilder::SetTrackOffset(int track, uint32_t offset) {
  trackOffsets_[track] = offset;
  return *this;
}

DiskBuilder& DiskBuilder::SetDiskSize(uint32_t size) {
  diskSize_ = size;
  return *this;
}

DiskBuilder& DiskBuilder::PatchHeader(int offset, uint8_t value) {
  patches_[offset] = value;
  return *this;
}

Bytes DiskBuilder::Build() const {
  Bytes out(kHeaderSize, 0);
  for (size_t i = 0; i < name_.size(); ++i) out[i] = (uint8_t)name_[i];
  out[0x1B] = mediaType_;
  for (const auto& [track, records] : tracks_) {
    if (records.empty()) continue;
    PutLE32(out, 0x20 + 4 * track, (uint32_t)out.size());
    for (const SectorRecord& rec : records) {
      size_t at = out.size();
      out.resize(at + 16, 0);
      out[at] = rec.c;
      out[at + 1] = rec.h;
      out[at + 2] = rec.r;
      out[at + 3] = rec.n;
      PutLE16(out, at + 4, rec.sectorCount.value_or((uint16_t)records.size()));
      PutLE16(out, at + 14, rec.dataSize.value_or((uint16_t)rec.data.size()));
      out.insert(out.end(), rec.data.begin(), rec.data.end());
    }
  }
  for (const auto& [track, offset] : trackOffsets_) PutLE32(out, 0x20 + 4 * track, offset);
  PutLE32(out, 0x1C, diskSize_.value_or((uint32_t)out.size()));
  for (const auto& [offset, value] : patches_) out.at(offset) = value;
  return out;
}

Bytes Concat(const std::vector<Bytes>& disks) {
  Bytes out;
  for (const Bytes& d : disks) out.insert(out.end(), d.begin(), d.end());
  return out;
}

VolumeBuilder::VolumeBuilder() {
  sectors_[5] = Bytes(1024, 0xFF);
}

VolumeBuilder& VolumeBuilder::FullDisk() {
  lastTrack_ = kTracks - 1;
  return *this;
}

VolumeBuilder& VolumeBuilder::SetEntry(int slot, uint8_t b0, uint8_t b1, uint8_t b2) {
  Bytes& dir = Directory();
  dir.at(16 + 3 * slot) = b0;
  dir.at(16 + 3 * slot + 1) = b1;
  dir.at(16 + 3 * slot + 2) = b2;
  return *this;
}

VolumeBuilder& VolumeBuilder::WriteSector(int linear, const Bytes& data) {
  Bytes s(1024, 0);
  for (size_t i = 0; i < data.size() && i < 1024; ++i) s[i] = data[i];
  sectors_[linear] = s;
  if (linear / 5 > lastTrack_) lastTrack_ = linear / 5;
  return *this;
}

int VolumeBuilder::AddFile(int slot, int start, const Bytes& headerAndBody, int sectors) {
  int needed = (int)((headerAndBody.size() + 1023) / 1024);
  if (sectors < 0) sectors = needed;
  for (int i = 0; i < needed; ++i) {
    size_t from = (size_t)i * 1024;
    size_t to = std::min(headerAndBody.size(), from + 1024);
    WriteSector(start + i, Bytes(headerAndBody.begin() + from, headerAndBody.begin() + to));
  }
  SetEntry(slot, (uint8_t)start, (uint8_t)(start >> 8), (uint8_t)sectors);
  return start + (needed > sectors ? needed : sectors);
}

int VolumeBuilder::AddStoredFile(int slot, int start, const Bytes& content) {
  Bytes file = FileHeaderBytes((uint16_t)content.size(), (uint16_t)content.size());
  file.insert(file.end(), content.begin(), content.end());
  return AddFile(slot, start, file);
}

int VolumeBuilder::AddCompressedFile(int slot, int start, const Bytes& content) {
  Bytes stream = EncodeLzss(content);
  // packedSize only has to differ from fileSize to mark the body compressed.
  uint16_t packed = (uint16_t)stream.size();
  if (packed == (uint16_t)content.size()) ++packed;
  Bytes file = FileHeaderBytes(packed, (uint16_t)content.size());
  file.insert(file.end(), stream.begin(), stream.end());
  return AddFile(slot, start, file);
}

VolumeBuilder& VolumeBuilder::RemoveSector(int linear) {
  removed_[linear] = true;
  if (linear / 5 > lastTrack_) lastTrack_ = linear / 5;
  return *this;
}

VolumeBuilder& VolumeBuilder::SetSectorDataSize(int linear, uint16_t dataSize, size_t actualBytes) {
  dataSizes_[linear] = dataSize;
  shortSectors_[linear] = actualBytes;
  if (linear / 5 > lastTrack_) lastTrack_ = linear / 5;
  return *this;
}

DiskBuilder VolumeBuilder::ToDisk() const {
  DiskBuilder disk;
  for (int track = 0; track <= lastTrack_; ++track) {
    for (int r = 1; r <= 5; ++r) {
      int linear = track * 5 + r - 1;
      if (removed_.count(linear)) continue;
      auto it = sectors_.find(linear);
      Bytes data = it == sectors_.end() ? Bytes(1024, 0) : it->second;
      auto shortIt = shortSectors_.find(linear);
      if (shortIt != shortSectors_.end()) data.resize(shortIt->second, 0);
      disk.AddSector(track, (uint8_t)(track >> 1), (uint8_t)(track & 1), (uint8_t)r, 3, data);
      auto sizeIt = dataSizes_.find(linear);
      if (sizeIt != dataSizes_.end())
        disk.Record(track, disk.RecordCount(track) - 1).dataSize = sizeIt->second;
    }
  }
  return disk;
}

Bytes FileHeaderBytes(uint16_t packedSize, uint16_t fileSize) {
  Bytes h(8, 0);
  PutLE16(h, 0, packedSize);
  PutLE16(h, 4, fileSize);
  return h;
}

Bytes BmpPicture(int width, int height) {
  const int row = (width * 3 + 3) & ~3, pixels = row * height, size = 54 + pixels;
  Bytes b((size_t)size, 0);
  PutLE16(b, 0, 0x4D42);  // "BM"
  PutLE32(b, 2, (uint32_t)size);
  PutLE32(b, 10, 54);  // pixel data offset
  PutLE32(b, 14, 40);  // info header size
  PutLE32(b, 18, (uint32_t)width);
  PutLE32(b, 22, (uint32_t)height);
  PutLE16(b, 26, 1);   // planes
  PutLE16(b, 28, 24);  // bits per pixel
  PutLE32(b, 34, (uint32_t)pixels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &b[(size_t)(54 + y * row + x * 3)];
      bool band = (x - y) / 4 == 2;
      p[0] = band ? 255 : (uint8_t)(x * 5);
      p[1] = band ? 255 : (uint8_t)(y * 8);
      p[2] = band ? 255 : (uint8_t)(128 + x + y);
    }
  return b;
}

Bytes ReadFileBytes(const std::string& path) {
  Bytes out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  uint8_t buf[65536];
  size_t got;
  while ((got = fread(buf, 1, sizeof(buf), f)) > 0) out.insert(out.end(), buf, buf + got);
  fclose(f);
  return out;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    throw std::runtime_error("cannot write " + path);
  if (fclose(f) != 0) throw std::runtime_error("cannot close " + path);
}

}  // namespace zelvrin_test
