// Process running for the end-to-end tests (POSIX).
#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/support/image_builder.h"

#ifndef ZELVRIN_BINARY
#define ZELVRIN_BINARY ""
#endif
#ifndef ZELVRIN_SHARED_DIR
#define ZELVRIN_SHARED_DIR ""
#endif

namespace zelvrin_test {

std::string ToolBinary() {
  const char* env = getenv("ZELVRIN_TEST_BINARY");
  return env && *env ? env : ZELVRIN_BINARY;
}

ToolRun RunTool(const std::vector<std::string>& args, const std::string& workDir) {
  TempDir capture;
  std::string outPath = capture.File("stdout"), errPath = capture.File("stderr");
  std::vector<std::string> argv;
  const char* launcher = getenv("ZELVRIN_TEST_LAUNCHER");
  if (launcher && *launcher) argv.push_back(launcher);
  argv.push_back(ToolBinary());
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(workDir.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(cargv[0], cargv.data());
    _exit(127);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  ToolRun run;
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  Bytes out = ReadFileBytes(outPath), err = ReadFileBytes(errPath);
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelvrin-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Folders a test made read-only must be writable again to be removed.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string SharedDir() {
  const char* env = getenv("ZELVRIN_SHARED_DIR");
  std::string dir = env && *env ? env : ZELVRIN_SHARED_DIR;
  std::error_code ec;
  return !dir.empty() && std::filesystem::is_directory(dir, ec) ? dir : "";
}

}  // namespace zelvrin_test
