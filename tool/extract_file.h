// ExtractFile: one used directory entry becomes one file in the working directory.
#ifndef ZELVRIN_TOOL_EXTRACT_FILE_H_
#define ZELVRIN_TOOL_EXTRACT_FILE_H_

class D88Image;

// Names the file after its disk and slot, creates it, reads the whole file into
// g_fileBuffer and writes the body, stored or expanded, exactly fileSize bytes.
// On entry g_fileBuffer holds the first sector as the walk read it, headerBytes
// of it. Whatever could not be read is written as zeros and reported; a file
// that cannot be created or written is reported too, and the walk goes on.
void ExtractFile(D88Image& image, int diskIndex, int slot, int track, int cylinder, int head,
                 int sector, int byteLength, int packedSize, int fileSize, int headerBytes);

#endif  // ZELVRIN_TOOL_EXTRACT_FILE_H_
