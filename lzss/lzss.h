// The LZSS decoder of the game's compressed files: a 4096-byte ring buffer
// pre-filled with a fixed pattern, 12-bit absolute positions, lengths 3 to 18.
#ifndef ZELVRIN_LZSS_LZSS_H_
#define ZELVRIN_LZSS_LZSS_H_

#include <cstdint>
#include <cstdio>

const int kLzssWindowSize = 4096;
const int kLzssFirstWritePosition = 4078;  // 4096 - 18: the longest copy fits before the end
const int kLzssPrefillSize = 4078;         // positions 0-4077; 4078-4095 carry over

// The ring buffer. Positions 4078-4095 hold zero at start and afterwards what
// the last expansion stored there; nothing else touches it.
extern uint8_t g_lzssWindow[kLzssWindowSize];

// Writes the pre-fill pattern into positions 0-4077 of g_lzssWindow:
// 256 runs of 13 bytes of each value 0..255, the values 0..255 ascending,
// 255..0 descending, 128 zeros, 110 spaces.
void InitLzssWindow();

// Expands the token stream at src into exactly fileSize bytes (0 to 65535),
// put one at a time to out, which it neither flushes nor closes. Every stream
// is valid; the stream's end follows from fileSize alone. Returns the number
// of stream bytes read, never more than n + 1 + ceil(n / 8) for fileSize n, so
// the caller bounds every read by making that many bytes readable at src.
int ExpandLzss(const uint8_t* src, int fileSize, FILE* out);

#endif  // ZELVRIN_LZSS_LZSS_H_
