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

// Creates the output file `name` for binary writing, replacing a file that
// stood there before the run, and returns its stream. Returns null after
// reporting the problem when the name is not usable here, when it leads to a
// file that this run already wrote (on a file system that ignores case, a033
// and A033 are one file; files are compared by identity, not by name), or
// when the system refuses to create it.
FILE* CreateOutputFile(const char* name);

// Starts a new run: no file written yet.
void ForgetWrittenFiles();

#endif  // ZELVRIN_TOOL_OUTPUT_NAME_H_
