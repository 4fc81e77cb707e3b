// The shared file buffer and the record of how much of it is dirty.
#include "tool/file_buffer.h"

#include <cstring>

uint8_t g_fileBuffer[kFileBufferSize];

static int g_fileBufferUsed = 0;

void MarkFileBufferUsed(int bytes) {
  if (bytes > kFileBufferSize) bytes = kFileBufferSize;
  if (bytes > g_fileBufferUsed) g_fileBufferUsed = bytes;
}

void ClearFileBuffer() {
  memset(g_fileBuffer, 0, (size_t)g_fileBufferUsed);
  g_fileBufferUsed = 0;
}
