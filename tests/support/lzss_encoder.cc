// Greedy LZSS encoder. It keeps a copy of the decoder's window and checks
// every candidate match by replaying the copy byte by byte, so whatever it
// emits decodes exactly, overlapping copies and a wrapped window included.
#include "tests/support/lzss_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace zelvrin_test {
namespace {

const unsigned kMask = 0xFFF;
const unsigned kFirstWrite = 4078;
const int kMaxLength = 18;
const int kMinLength = 3;

class Window {
 public:
  Window() {
    // The decoder's pre-fill, laid out independently of the decoder's code.
    for (int v = 0; v < 256; ++v)
      for (int k = 0; k < 13; ++k) bytes_[13 * v + k] = (uint8_t)v;
    for (int v = 0; v < 256; ++v) bytes_[3328 + v] = (uint8_t)v;
    for (int v = 0; v < 256; ++v) bytes_[3584 + v] = (uint8_t)(255 - v);
    for (int p = 3840; p < 3968; ++p) bytes_[p] = 0x00;
    for (int p = 3968; p < 4078; ++p) bytes_[p] = 0x20;
    for (int p = 0; p < 4096; ++p) known_[p] = p < 4078;
  }
  uint8_t At(unsigned p) const { return bytes_[p & kMask]; }
  bool Known(unsigned p) const { return known_[p & kMask]; }
  void Put(unsigned p, uint8_t b) {
    bytes_[p & kMask] = b;
    known_[p & kMask] = true;
  }

 private:
  uint8_t bytes_[4096];
  bool known_[4096];
};

uint32_t Key(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
}

}  // namespace

std::vector<uint8_t> EncodeLzss(const std::vector<uint8_t>& in, const LzssEncodeOptions& options) {
  Window window;
  const size_t n = in.size();

  // Where each 3-byte sequence stands in the pre-fill, and where it last
  // appeared in the output (with a chain to earlier appearances).
  std::unordered_map<uint32_t, std::vector<unsigned>> prefill;
  for (unsigned p = 0; p + 2 < 4078; ++p) {
    uint8_t seq[3] = {window.At(p), window.At(p + 1), window.At(p + 2)};
    auto& list = prefill[Key(seq)];
    if (list.size() < 8) list.push_back(p);
  }
  std::unordered_map<uint32_t, size_t> lastSeen;
  std::vector<size_t> previous(n, SIZE_MAX);

  std::vector<uint8_t> out;
  size_t flagAt = 0;
  int tokens = 8;
  unsigned pos = kFirstWrite;
  size_t i = 0;

  // Length of the match at window position `from`, copying as the decoder does.
  auto matchLength = [&](unsigned from, int limit) {
    int len = 0;
    for (; len < limit; ++len) {
      unsigned src = (from + len) & kMask;
      unsigned written = (src - pos) & kMask;  // steps of this copy before src was written
      uint8_t b;
      if (written < (unsigned)len)
        b = in[i + written];
      else if (window.Known(src))
        b = window.At(src);
      else
        break;
      if (b != in[i + len]) break;
    }
    return len;
  };

  while (i < n) {
    if (tokens == 8) {
      flagAt = out.size();
      out.push_back(0);
      tokens = 0;
    }
    int limit = (int)std::min<size_t>(kMaxLength, n - i);
    int bestLen = 0;
    unsigned bestFrom = 0;
    if (!options.literalsOnly && limit >= kMinLength) {
      uint32_t key = Key(&in[i]);
      int tried = 0;
      auto seen = lastSeen.find(key);
      for (size_t j = seen == lastSeen.end() ? SIZE_MAX : seen->second;
           j != SIZE_MAX && tried < options.maxCandidates && bestLen < limit; j = previous[j]) {
        ++tried;
        unsigned from = (unsigned)((kFirstWrite + j) & kMask);
        int len = matchLength(from, limit);
        if (len > bestLen) bestLen = len, bestFrom = from;
      }
      auto pre = prefill.find(key);
      if (pre != prefill.end())
        for (unsigned from : pre->second) {
          int len = matchLength(from, limit);
          if (len > bestLen) bestLen = len, bestFrom = from;
        }
    }
    int step;
    if (bestLen >= kMinLength) {
      out.push_back((uint8_t)(bestFrom & 0xFF));
      out.push_back((uint8_t)(((bestFrom >> 4) & 0xF0) | (bestLen - kMinLength)));
      step = bestLen;
    } else {
      out[flagAt] |= (uint8_t)(1u << tokens);
      out.push_back(in[i]);
      step = 1;
    }
    ++tokens;
    for (int k = 0; k < step; ++k, ++i) {
      window.Put(pos, in[i]);
      pos = (pos + 1) & kMask;
      if (i + 2 < n) {
        uint32_t key = Key(&in[i]);
        auto it = lastSeen.find(key);
        previous[i] = it == lastSeen.end() ? SIZE_MAX : it->second;
        lastSeen[key] = i;
      }
    }
  }
  return out;
}

}  // namespace zelvrin_test
