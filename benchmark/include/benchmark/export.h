// The visibility and deprecation markers suites may put on their own
// reporters and helpers.  The front end is a static library, so export and
// no-export mark nothing; a suite's own definitions win.
#ifndef BENCHMARK_EXPORT_H
#define BENCHMARK_EXPORT_H
// Treated as benchmark.h is, for the same reason.
#ifndef CYCLEKIT_BENCHMARK_OWN_BUILD
#pragma GCC system_header
#endif

#ifndef BENCHMARK_EXPORT
#define BENCHMARK_EXPORT
#endif
#ifndef BENCHMARK_NO_EXPORT
#define BENCHMARK_NO_EXPORT
#endif
#ifndef BENCHMARK_DEPRECATED
#define BENCHMARK_DEPRECATED __attribute__((__deprecated__))
#endif
#ifndef BENCHMARK_DEPRECATED_EXPORT
#define BENCHMARK_DEPRECATED_EXPORT BENCHMARK_EXPORT BENCHMARK_DEPRECATED
#endif
#ifndef BENCHMARK_DEPRECATED_NO_EXPORT
#define BENCHMARK_DEPRECATED_NO_EXPORT BENCHMARK_NO_EXPORT BENCHMARK_DEPRECATED
#endif

#endif
