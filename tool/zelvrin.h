// The tool's entry: command line, disk walk and report.
#ifndef ZELVRIN_TOOL_ZELVRIN_H_
#define ZELVRIN_TOOL_ZELVRIN_H_

// Runs the tool as `zelvrin IMAGE` would, in the current directory: 0 after a
// clean walk, 1 after a wrong call or an image that cannot be opened, 2 when
// any problem was reported along the walk. Each call starts from the state of
// a fresh process, so it may be called again in one process.
int RunZelvrin(int argc, char* argv[]);

#endif  // ZELVRIN_TOOL_ZELVRIN_H_
