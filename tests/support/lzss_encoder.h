// An LZSS encoder of the game's token format, for tests and sample images:
// flag bytes least significant bit first, 1 = literal, 0 = pair b0 b1 naming
// window position b0 | (b1 & 0xF0) << 4 and length (b1 & 0x0F) + 3.
#ifndef ZELVRIN_TESTS_SUPPORT_LZSS_ENCODER_H_
#define ZELVRIN_TESTS_SUPPORT_LZSS_ENCODER_H_

#include <cstdint>
#include <vector>

namespace zelvrin_test {

struct LzssEncodeOptions {
  bool literalsOnly = false;  // every token a literal: the longest stream for a size
  int maxCandidates = 64;     // matches tried per position
};

// Encodes `content` so that the decoder, starting from its pre-filled window
// with unknown bytes at positions 4078-4095, expands it back exactly. Pairs may
// point into the pre-fill and overlap the bytes they write; positions 4078-4095
// are used only after this stream has written them.
std::vector<uint8_t> EncodeLzss(const std::vector<uint8_t>& content,
                                const LzssEncodeOptions& options = LzssEncodeOptions());

}  // namespace zelvrin_test

#endif  // ZELVRIN_TESTS_SUPPORT_LZSS_ENCODER_H_
