// The whole tool on one full disk: the walk, the report lines (to the null
// device) and the extraction of all 336 files into a scratch folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "bench/bench_data.h"
#include "tool/zelvrin.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#define chdir _chdir
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

void BM_WalkFullDisk(benchmark::State& state) {
  zelvrin_bench::ScratchDir image;
  zelvrin_bench::ScratchDir work;
  zelvrin_bench::DiskStats stats;
  std::string path = image.File("disk.d88");
  if (!zelvrin_bench::WriteFile(path, zelvrin_bench::BuildBenchDisk(0, &stats))) {
    state.SkipWithError("cannot write the image");
    return;
  }
  const std::filesystem::path home = std::filesystem::current_path();
  char arg0[] = "zelvrin";
  char* argv[] = {arg0, &path[0], nullptr};

  // The report lines go to the null device; the benchmark's own report
  // needs standard output back afterwards.
  fflush(stdout);
  const int savedOut = dup(fileno(stdout));
  FILE* null = fopen(zelvrin_bench::kNullDevice, "w");
  dup2(fileno(null), fileno(stdout));
  std::filesystem::current_path(work.path());
  int status = 0;
  for (auto _ : state) {
    status |= RunZelvrin(2, argv);
    state.PauseTiming();
    work.Empty();
    state.ResumeTiming();
  }
  std::filesystem::current_path(home);
  fflush(stdout);
  dup2(savedOut, fileno(stdout));
  fclose(null);
  if (status != 0) state.SkipWithError("the tool reported a problem");
  state.SetItemsProcessed(state.iterations() * stats.files);
  state.SetBytesProcessed(state.iterations() * (int64_t)stats.outputBytes);
}

}  // namespace

BENCHMARK(BM_WalkFullDisk)->Unit(benchmark::kMillisecond);
