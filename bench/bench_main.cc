// Runs the benchmarks and then sets each against its baseline: ExpandLzss
// against the plain getc/putc decoder on the same stream, ReadSectors against
// one fread of the disk.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

// Keeps each benchmark's output rate and its times_faster counter, the median
// when there are repetitions.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  explicit RateReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      for (const char* counter : {"bytes_per_second", "times_faster"}) {
        auto it = run.counters.find(counter);
        if (it == run.counters.end()) continue;
        std::string name = run.run_name.str() + ":" + counter;
        if (run.run_type == Run::RT_Aggregate) {
          if (run.aggregate_name == "median") medians_[name] = it->second.value;
        } else {
          singles_[name] = it->second.value;
        }
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The counter of benchmark `name`, or 0 when it did not run.
  double Get(const std::string& name, const char* counter) const {
    std::string key = name + ":" + counter;
    auto it = medians_.find(key);
    if (it != medians_.end()) return it->second;
    it = singles_.find(key);
    return it == singles_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, double> singles_;
};

void PrintRatio(const RateReporter& rates, const std::string& name, const std::string& baseline,
                const char* target) {
  double a = rates.Get(name, "bytes_per_second"), b = rates.Get(baseline, "bytes_per_second");
  if (a > 0 && b > 0)
    printf("%-26s %6.2fx %-24s (%s)\n", name.c_str(), a / b, baseline.c_str(), target);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Colours only on a terminal, so that saved output stays plain text.
  RateReporter reporter(isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_ColorTabular
                                               : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  fflush(stdout);
  printf("\nOutput rate against the baseline, same run:\n");
  for (const char* kind : {"text", "binary", "zeros", "random"})
    PrintRatio(reporter, std::string("BM_ExpandLzss/") + kind,
               std::string("BM_PlainGetcPutc/") + kind,
               std::string(kind) == "text" ? "target: at least 5x" : "");
  PrintRatio(reporter, "BM_ReadSectors", "BM_FreadDisk", "one fread is the floor");
  printf("\nExpandLzss against the plain decoder, back to back in each iteration:\n");
  for (const char* kind : {"text", "binary", "zeros", "random"}) {
    double paired = reporter.Get(std::string("BM_ExpandLzssOverPlain/") + kind, "times_faster");
    if (paired > 0) printf("%-26s %6.2fx\n", kind, paired);
  }
  return 0;
}
