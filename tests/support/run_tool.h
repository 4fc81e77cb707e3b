// Runs the built zelvrin binary in a folder and captures what it printed.
#ifndef ZELVRIN_TESTS_SUPPORT_RUN_TOOL_H_
#define ZELVRIN_TESTS_SUPPORT_RUN_TOOL_H_

#include <string>
#include <vector>

namespace zelvrin_test {

struct ToolRun {
  int status = -1;  // exit status; -1 when the process did not exit normally
  std::string out;  // standard output bytes
  std::string err;  // standard error bytes
};

// The binary under test: ZELVRIN_TEST_BINARY from the environment when set,
// else the path the build compiled in. ZELVRIN_TEST_LAUNCHER (for example
// "wine") runs it through another program.
std::string ToolBinary();

// Runs the binary with `args` in `workDir`, standard input empty.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& workDir);

// A fresh empty folder under the system's temporary folder, removed by the
// destructor with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the folder, sorted.
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

// Where ../shared of the workplace lies, or "" when it is absent.
std::string SharedDir();

}  // namespace zelvrin_test

#endif  // ZELVRIN_TESTS_SUPPORT_RUN_TOOL_H_
