// Problems met along the walk: one line each on standard error, and a count
// that turns the exit status from 0 into 2.
#ifndef ZELVRIN_TOOL_PROBLEMS_H_
#define ZELVRIN_TOOL_PROBLEMS_H_

#if defined(__GNUC__)
#define ZELVRIN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ZELVRIN_PRINTF(f, a)
#endif

// Writes "zelvrin: SUBJECT: TEXT\n"; subject is "disk N" or an output name.
void ReportProblem(const char* subject, const char* format, ...) ZELVRIN_PRINTF(2, 3);
int GetProblemCount();
void ResetProblems();

#endif  // ZELVRIN_TOOL_PROBLEMS_H_
