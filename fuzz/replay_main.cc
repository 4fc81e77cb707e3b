// Runs a fuzz target without libFuzzer: every file named on the command line,
// and every file under every folder named there, in sorted order. CTest
// replays the seed corpora through each target this way with any compiler, and
// a crash file that the fuzzer saved replays under a debugger the same way.
// Arguments that begin with '-' are libFuzzer flags and are ignored.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

bool CollectInputs(const std::string& arg, std::vector<std::string>* inputs, FILE* log) {
  std::error_code ec;
  if (fs::is_directory(arg, ec)) {
    for (const auto& e : fs::recursive_directory_iterator(arg, ec))
      if (e.is_regular_file()) inputs->push_back(e.path().string());
    if (!ec) return true;
  } else if (fs::is_regular_file(arg, ec)) {
    inputs->push_back(arg);
    return true;
  }
  fprintf(log, "replay: cannot read %s\n", arg.c_str());
  return false;
}

// The input in a heap block of exactly its size, so that a read past its end
// is caught by AddressSanitizer as libFuzzer's own copy would be.
bool Replay(const std::string& path, FILE* log) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    fprintf(log, "replay: cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  bool ok = !ferror(f);
  fclose(f);
  if (!ok) {
    fprintf(log, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
  if (!bytes.empty()) memcpy(input.get(), bytes.data(), bytes.size());
  fprintf(log, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
  fflush(log);
  LLVMFuzzerTestOneInput(input.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  // A target may silence standard error; the replay's own lines stay visible.
  int kept = dup(2);
  FILE* log = kept >= 0 ? fdopen(kept, "w") : nullptr;
  if (!log) log = stderr;
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);

  std::vector<std::string> inputs;
  bool ok = true;
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') ok = CollectInputs(argv[i], &inputs, log) && ok;
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    fprintf(log, "usage: %s FILE_OR_FOLDER... (no input found)\n", argv[0]);
    return 1;
  }
  for (const std::string& path : inputs) ok = Replay(path, log) && ok;
  fprintf(log, "replay: %zu inputs%s\n", inputs.size(), ok ? "" : ", some unreadable");
  return ok ? 0 : 1;
}
