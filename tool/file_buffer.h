// g_fileBuffer: the file being extracted, from its first sector on.
#ifndef ZELVRIN_TOOL_FILE_BUFFER_H_
#define ZELVRIN_TOOL_FILE_BUFFER_H_

#include <cstdint>

// 400 KiB: the largest file (255 sectors, 261,120 bytes) and the furthest the
// decoder can read (8 + 73,728 bytes for 65,535 bytes out) both fit.
const int kFileBufferSize = 409600;
extern uint8_t g_fileBuffer[kFileBufferSize];

// Every byte that the current entry takes from the buffer is one its own reads
// placed there, or zero: a short read must never expose an earlier file. Reads
// note how far they may have written, and the next entry clears only that.
void MarkFileBufferUsed(int bytes);
void ClearFileBuffer();

#endif  // ZELVRIN_TOOL_FILE_BUFFER_H_
