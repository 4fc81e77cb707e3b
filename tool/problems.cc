// Problem lines on standard error.
#include "tool/problems.h"

#include <cstdarg>
#include <cstdio>

static int g_problemCount = 0;

void ReportProblem(const char* subject, const char* format, ...) {
  ++g_problemCount;
  fprintf(stderr, "zelvrin: %s: ", subject);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

int GetProblemCount() {
  return g_problemCount;
}

void ResetProblems() {
  g_problemCount = 0;
}
