// File extraction: name, create, read, write the body, close.
#include "tool/extract_file.h"

#include <cerrno>
#include <cstring>

#include "d88/d88_image.h"
#include "lzss/lzss.h"
#include "tool/file_buffer.h"
#include "tool/output_name.h"
#include "tool/problems.h"
#include "tool/volume.h"

// Writes the body and returns how many bytes of it the body needed after the
// header: fileSize when stored, the stream bytes the decoder read otherwise.
// On a failed write, *writeError holds its errno (EIO where none was set).
static int WriteBody(FILE* out, int packedSize, int fileSize, int* writeError) {
  const uint8_t* body = g_fileBuffer + kFileHeaderSize;
  errno = 0;  // not a failure left over from creating the file
  if (packedSize == fileSize) {
    if (fileSize > 0 && fwrite(body, 1, (size_t)fileSize, out) != (size_t)fileSize)
      *writeError = errno != 0 ? errno : EIO;
    return fileSize;
  }
  int streamBytes = ExpandLzss(body, fileSize, out);
  if (ferror(out)) *writeError = errno != 0 ? errno : EIO;
  return streamBytes;
}

void ExtractFile(D88Image& image, int diskIndex, int slot, int track, int cylinder, int head,
                 int sector, int byteLength, int packedSize, int fileSize, int headerBytes) {
  char name[kOutputNameSize];
  FormatOutputName(name, diskIndex, slot);
  FILE* out = CreateOutputFile(name);
  if (!out) return;

  int got =
      image.ReadSectors(track, cylinder, head, sector, kVolumeSizeCode, g_fileBuffer, byteLength);
  // The sector that ended a short run may have placed up to one more sector.
  MarkFileBufferUsed(got + kVolumeSectorSize < byteLength ? got + kVolumeSectorSize : byteLength);
  if (got < byteLength)
    ReportProblem(name,
                  "read %d of %d bytes (track %d, sector %d onward); the rest is written as zeros",
                  got, byteLength, track, sector);

  int writeError = 0;
  int bodyBytes = WriteBody(out, packedSize, fileSize, &writeError);
  int delivered = got > headerBytes ? got : headerBytes;
  if (bodyBytes > 0 && kFileHeaderSize + bodyBytes > delivered)
    ReportProblem(name, "content runs past the sectors read; the rest is written as zeros");

  errno = 0;
  if (fclose(out) != 0 && writeError == 0) writeError = errno != 0 ? errno : EIO;
  if (writeError != 0) ReportProblem(name, "cannot write file: %s", strerror(writeError));
}
