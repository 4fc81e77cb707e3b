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

int ExpandLzss(const uint8_t* src, int fileSize, FILE* out) {
  InitLzssWindow();
  uint8_t* const window = g_lzssWindow;
  const uint8_t* in = src;
  unsigned pos = kLzssFirstWritePosition;
  int remaining = fileSize;
  while (remaining > 0) {
    unsigned flags = *in++;
    for (int token = 0; token < 8 && remaining > 0; ++token, flags >>= 1) {
      if (flags & 1) {
        uint8_t c = *in++;
        window[pos] = c;
        pos = (pos + 1) & 0xFFF;
        ZELVRIN_PUTC(c, out);
        --remaining;
      } else {
        unsigned b0 = in[0], b1 = in[1];
        in += 2;
        unsigned from = b0 | ((b1 & 0xF0) << 4);
        int length = (int)(b1 & 0x0F) + 3;
        if (length > remaining) length = remaining;
        remaining -= length;
        // Strictly one byte at a time: a source just behind the write
        // position reads back what this copy has just written.
        for (int k = 0; k < length; ++k) {
          uint8_t c = window[from];
          window[pos] = c;
          from = (from + 1) & 0xFFF;
          pos = (pos + 1) & 0xFFF;
          ZELVRIN_PUTC(c, out);
        }
      }
    }
  }
  return (int)(in - src);
}
