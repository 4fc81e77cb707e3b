// Output file names and the checks that keep every file in the working
// directory and every file this run wrote intact.
#ifndef ZELVRIN_TOOL_OUTPUT_NAME_H_
#define ZELVRIN_TOOL_OUTPUT_NAME_H_

#include <cstdio>

const int kOutputNameSize = 16;

// "%c%03d": the character of code 65 + diskIndex, then the slot. Disks past
// the 26th run on past 'Z': '[' for the 27th, 'a' for the 33rd, code 128 for
// the 64th.
void FormatOutputName(char* name, int diskIndex, int slot);

// False when the system would read the name as more than a plain file name:
// on Windows the 28th disk's backslash is a path separator.
bool IsUsableOutputName(const char* name);

// On a file system that ignores case, a033 and A033 are one file. Before a
// file is created, this tells whether the name already leads to a file that
// this run wrote (compared by file identity) and, if so, the name it was
// written under.
bool FindFileWrittenEarlier(const char* name, char* earlierName);
void RememberWrittenFile(FILE* file, const char* name);
void ForgetWrittenFiles();

#endif  // ZELVRIN_TOOL_OUTPUT_NAME_H_
