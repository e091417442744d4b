// DoNotOptimize on an object larger than a register: the compiled function
// must leave the object where it is, not copy it (no_copy.cmake reads the
// assembly).
#include <benchmark/benchmark.h>

#include <array>

void keep_big(const std::array<char, 4096> &a) { benchmark::DoNotOptimize(a); }
void keep_big_mutable(std::array<char, 4096> &a) { benchmark::DoNotOptimize(a); }
