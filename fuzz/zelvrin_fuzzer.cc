// Property: whatever image it is given, the tool finishes its walk with status
// 0 or 2, and every file it creates is a plain file in its working directory
// under a name of the naming rule: four characters, the disk character (code
// 65 to 128) and the slot number 000 to 335.
//
// The input is the image. The tool runs in-process in a scratch folder that
// holds only the image and an empty working folder; afterwards the scratch
// folder must hold nothing else and the working folder only such names, which
// are then removed for the next input.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tool/zelvrin.h"

#if !defined(ZELVRIN_LIBFUZZER)
// Present when a sanitizer runtime is linked in.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));
#endif

namespace {

const char kImageName[] = "image.d88";
const char kWorkName[] = "out";

std::string g_root, g_image, g_work;

void RemoveScratch() {
  unlink(g_image.c_str());
  rmdir(g_work.c_str());
  rmdir(g_root.c_str());
}

void MakeScratch() {
  const char* tmp = getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvrin-fuzz-XXXXXX";
  FUZZ_CHECK(mkdtemp(root.data()) != nullptr, "cannot create a scratch folder %s", root.c_str());
  g_root = root;
  g_image = root + "/" + kImageName;
  g_work = root + "/" + kWorkName;
  FUZZ_CHECK(mkdir(g_work.c_str(), 0700) == 0, "cannot create %s", g_work.c_str());
  atexit(RemoveScratch);
}

// Discards the tool's standard output and error, where every run prints its
// report lines and problems, and keeps a stream for broken invariants.
void SilenceTool(int* argc, char*** argv) {
  int kept = dup(2);
  FILE* report = kept >= 0 ? fdopen(kept, "w") : nullptr;
  if (report) FuzzReportStream() = report;
#if defined(ZELVRIN_LIBFUZZER)
  // libFuzzer does the silencing itself and keeps its own messages and the
  // sanitizers' reports on a copy of standard error. Flags given on the
  // command line come later and win.
  static char closeFds[] = "-close_fd_mask=3";
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + 1, closeFds);
  args.push_back(nullptr);
  *argc = (int)args.size() - 1;
  *argv = args.data();
#else
  (void)argc;
  (void)argv;
  if (__sanitizer_set_report_fd && kept >= 0)
    __sanitizer_set_report_fd(reinterpret_cast<void*>((intptr_t)kept));
  FUZZ_CHECK(freopen("/dev/null", "w", stdout) && freopen("/dev/null", "w", stderr),
             "cannot send the tool's output to /dev/null");
#endif
}

void WriteImage(const uint8_t* data, size_t size) {
  FILE* f = fopen(g_image.c_str(), "wb");
  FUZZ_CHECK(f != nullptr, "cannot write %s", g_image.c_str());
  bool ok = size == 0 || fwrite(data, 1, size, f) == size;
  ok = fclose(f) == 0 && ok;
  FUZZ_CHECK(ok, "cannot write %s", g_image.c_str());
}

bool IsOutputName(const char* name) {
  if (strlen(name) != 4) return false;
  unsigned first = (unsigned char)name[0];
  if (first < 65 || first > 128) return false;
  for (int i = 1; i < 4; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return atoi(name + 1) <= 335;
}

std::string Hex(const char* name) {
  std::string out;
  char cell[4];
  for (const char* p = name; *p; ++p) {
    snprintf(cell, sizeof(cell), "%02x", (unsigned)(unsigned char)*p);
    out += cell;
  }
  return out;
}

std::vector<std::string> List(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  FUZZ_CHECK(d != nullptr, "cannot list %s", dir.c_str());
  while (const dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  return names;
}

// The scratch folder holds only what this target put there; every file of the
// working folder has a name of the rule and is a plain file. Removes them.
void CheckAndClearOutput() {
  for (const std::string& name : List(g_root))
    FUZZ_CHECK(name == kImageName || name == kWorkName, "file outside the working folder: %s (%s)",
               name.c_str(), Hex(name.c_str()).c_str());
  for (const std::string& name : List(g_work)) {
    FUZZ_CHECK(IsOutputName(name.c_str()), "output name outside the rule: %s",
               Hex(name.c_str()).c_str());
    std::string path = g_work + "/" + name;
    struct stat st;
    FUZZ_CHECK(lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode), "%s is not a plain file",
               name.c_str());
    FUZZ_CHECK(unlink(path.c_str()) == 0, "cannot remove %s", path.c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  SilenceTool(argc, argv);
  MakeScratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteImage(data, size);
  // The fuzzer's own paths (corpus, artifacts) may be relative: come back.
  int home = open(".", O_RDONLY | O_DIRECTORY);
  FUZZ_CHECK(home >= 0 && chdir(g_work.c_str()) == 0, "cannot enter %s", g_work.c_str());
  char tool[] = "zelvrin";
  std::string image = g_image;
  char* args[] = {tool, image.data(), nullptr};
  int status = RunZelvrin(2, args);
  FUZZ_CHECK(fchdir(home) == 0, "cannot return to the starting folder");
  close(home);

  FUZZ_CHECK(status == 0 || status == 2, "status %d", status);
  CheckAndClearOutput();
  return 0;
}
