// The LZSS decoder. A group is one flag byte, least significant bit first,
// and up to eight tokens: a 1 bit is a literal byte, a 0 bit a pair b0 b1
// naming window position b0 | (b1 & 0xF0) << 4 and length (b1 & 0x0F) + 3.
#include "lzss/lzss.h"

#include <cstring>

// One put per output byte through the stream's own buffer; the unlocked form
// skips the stream lock, which is most of the cost of a locked putc.
#if defined(_WIN32)
#define ZELVRIN_PUTC(c, f) _fputc_nolock((c), (f))
#elif defined(__unix__) || defined(__APPLE__)
#define ZELVRIN_PUTC(c, f) putc_unlocked((c), (f))
#else
#define ZELVRIN_PUTC(c, f) putc((c), (f))
#endif

uint8_t g_lzssWindow[kLzssWindowSize];

void InitLzssWindow() {
  uint8_t* w = g_lzssWindow;
  for (int v = 0; v < 256; ++v) memset(w + 13 * v, v, 13);          // 0x000-0xCFF
  for (int v = 0; v < 256; ++v) w[0xD00 + v] = (uint8_t)v;          // ascending
  for (int v = 0; v < 256; ++v) w[0xE00 + v] = (uint8_t)(255 - v);  // descending
  memset(w + 0xF00, 0x00, 0x80);
  memset(w + 0xF80, 0x20, kLzssPrefillSize - 0xF80);
}

// A copy whose source and destination runs both end before position 4096:
// no position wraps, so plain pointers serve. Still one byte at a time, each
// stored before the next is loaded, so a source just behind the write
// position reads back what this copy has just written. Every copy has at
// least three bytes; spelling those out lets the compiler unroll the rest.
static inline void CopyRun(const uint8_t* from, uint8_t* to, int length, FILE* out) {
  uint8_t c = from[0];
  to[0] = c;
  ZELVRIN_PUTC(c, out);
  c = from[1];
  to[1] = c;
  ZELVRIN_PUTC(c, out);
  c = from[2];
  to[2] = c;
  ZELVRIN_PUTC(c, out);
  for (int k = 3; k < length; ++k) {
    c = from[k];
    to[k] = c;
    ZELVRIN_PUTC(c, out);
  }
}

// A copy whose source lies one behind the write position repeats the byte
// written last: every byte it reads is the one it has just stored, so that
// byte is kept at hand instead of being loaded back each time.
static inline void RepeatLast(uint8_t* to, int length, FILE* out) {
  const uint8_t c = to[-1];
  for (int k = 0; k < length; ++k) {
    to[k] = c;
    ZELVRIN_PUTC(c, out);
  }
}

// Any copy, also one whose runs pass position 4095 and go on at 0.
static inline void CopyWrapping(uint8_t* window, unsigned from, unsigned pos, int length,
                                FILE* out) {
  for (int k = 0; k < length; ++k) {
    uint8_t c = window[from];
    window[pos] = c;
    from = (from + 1) & 0xFFF;
    pos = (pos + 1) & 0xFFF;
    ZELVRIN_PUTC(c, out);
  }
}

// A literal: the byte goes to the window and out. Returns the next position.
static inline unsigned PutLiteral(uint8_t c, uint8_t* window, unsigned pos, FILE* out) {
  window[pos] = c;
  ZELVRIN_PUTC(c, out);
  return (pos + 1) & 0xFFF;
}

// A pair b0 b1: both bytes are consumed before any byte is copied. Returns
// the length, 3 to 18, and sets the source position.
static inline int ReadPair(const uint8_t** in, unsigned* from) {
  unsigned b0 = (*in)[0], b1 = (*in)[1];
  *in += 2;
  *from = b0 | ((b1 & 0xF0) << 4);
  return (int)(b1 & 0x0F) + 3;
}

int ExpandLzss(const uint8_t* src, int fileSize, FILE* out) {
  InitLzssWindow();
  uint8_t* const window = g_lzssWindow;
  const uint8_t* in = src;
  unsigned pos = kLzssFirstWritePosition;
  int remaining = fileSize;
  const int kLongestCopy = 18;
  const int kLongestGroup = 8 * kLongestCopy;
  const unsigned kLastRunStart = kLzssWindowSize - kLongestCopy;

  // While a whole group fits in what remains, no token of it can be cut
  // short and nothing needs counting down token by token. The flag byte
  // carries a ninth bit that reaches bit 0 when the eighth token is done.
  while (remaining >= kLongestGroup) {
    for (unsigned flags = *in++ | 0x100u; flags != 1; flags >>= 1) {
      if (flags & 1) {
        pos = PutLiteral(*in++, window, pos, out);
        --remaining;
      } else {
        unsigned from;
        int length = ReadPair(&in, &from);
        remaining -= length;
        if (from + 1 == pos && pos <= kLastRunStart)
          RepeatLast(window + pos, length, out);
        else if (from <= kLastRunStart && pos <= kLastRunStart)
          CopyRun(window + from, window + pos, length, out);
        else
          CopyWrapping(window, from, pos, length, out);
        pos = (pos + length) & 0xFFF;
      }
    }
  }

  // The last groups: the expansion may end at any token, or inside a copy.
  while (remaining > 0) {
    for (unsigned flags = *in++ | 0x100u; flags != 1 && remaining > 0; flags >>= 1) {
      if (flags & 1) {
        pos = PutLiteral(*in++, window, pos, out);
        --remaining;
      } else {
        unsigned from;
        int length = ReadPair(&in, &from);
        if (length > remaining) length = remaining;
        remaining -= length;
        CopyWrapping(window, from, pos, length, out);
        pos = (pos + length) & 0xFFF;
      }
    }
  }
  return (int)(in - src);
}
