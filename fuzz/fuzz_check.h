// Invariant checks for the fuzz targets. A broken invariant prints what broke
// and aborts, which libFuzzer and the replay driver both report as a crash,
// together with the input that caused it.
#ifndef ZELVRIN_FUZZ_FUZZ_CHECK_H_
#define ZELVRIN_FUZZ_FUZZ_CHECK_H_

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// Where check failures are printed: standard error unless a target that
// silences standard error points it at a stream of its own.
inline FILE*& FuzzReportStream() {
  static FILE* stream = stderr;
  return stream;
}

#if defined(__GNUC__)
[[noreturn]] inline void FuzzFail(const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
#endif

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* format, ...) {
  FILE* out = FuzzReportStream();
  fprintf(out, "%s:%d: invariant broken: ", file, line);
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
  fputc('\n', out);
  fflush(out);
  abort();
}

#define FUZZ_CHECK(condition, ...)                               \
  do {                                                           \
    if (!(condition)) FuzzFail(__FILE__, __LINE__, __VA_ARGS__); \
  } while (0)

#endif  // ZELVRIN_FUZZ_FUZZ_CHECK_H_
