// A string and formatting library's suite, as such libraries write theirs:
// one function per operation, BENCHMARK_CAPTURE for the inputs, templates
// over the string and character types, bytes per second throughout.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string make_text(size_t n) {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i)
    s.push_back(static_cast<char>('a' + i % 26));
  return s;
}

}  // namespace

static void BM_FormatInt(benchmark::State &state, const char *format, int value) {
  char buf[64];
  for (auto _ : state) {
    int n = std::snprintf(buf, sizeof buf, format, value);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK_CAPTURE(BM_FormatInt, decimal, "%d", 123456);
BENCHMARK_CAPTURE(BM_FormatInt, hex, "%x", 0xbeef);
BENCHMARK_CAPTURE(BM_FormatInt, padded, "%08d", -42)->Unit(benchmark::kNanosecond);

static void BM_Concat(benchmark::State &state, std::string a, std::string b) {
  for (auto _ : state) {
    std::string c = a + b;
    benchmark::DoNotOptimize(c);  // a non-trivial object, by reference
  }
  state.SetBytesProcessed(state.iterations() * int64_t(a.size() + b.size()));
}
BENCHMARK_CAPTURE(BM_Concat, short_strings, std::string("abc"), std::string("def"));
BENCHMARK_CAPTURE(BM_Concat, long_strings, make_text(200), make_text(300))->MinTime(0.01);

// The character type as a template argument, the length as the argument.
template <class Char>
static void BM_Find(benchmark::State &state) {
  std::basic_string<Char> hay(static_cast<size_t>(state.range(0)), Char('x'));
  hay.back() = Char('y');
  for (auto _ : state) {
    auto pos = hay.find(Char('y'));
    benchmark::DoNotOptimize(pos);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * int64_t(sizeof(Char)));
  state.SetLabel(sizeof(Char) == 1 ? "narrow" : "wide");
}
BENCHMARK_TEMPLATE(BM_Find, char)->Range(8, 4 << 10);
BENCHMARK_TEMPLATE(BM_Find, wchar_t)->RangeMultiplier(4)->Range(16, 1024);
BENCHMARK_TEMPLATE1(BM_Find, char16_t)->Arg(64)->Unit(benchmark::kMicrosecond);

// Two template arguments: the container and a size fixed at compile time.
template <class Str, size_t N>
static void BM_Compare(benchmark::State &state) {
  std::string text = make_text(N);
  Str a(text), b(text);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    bool eq = a == b;
    benchmark::DoNotOptimize(eq);
  }
}
BENCHMARK_TEMPLATE2(BM_Compare, std::string, 16);
BENCHMARK_TEMPLATE2(BM_Compare, std::string_view, 256);
BENCHMARK_TEMPLATE(BM_Compare, std::string, 1024)->Name("BM_Compare_1k");

static void BM_Strlen(benchmark::State &state) {
  std::string s = make_text(static_cast<size_t>(state.range(0)));
  const char *p = s.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(p);
    size_t n = std::strlen(p);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
// The older spellings some projects still use.
BENCHMARK_RANGE(BM_Strlen, 16, 256);
BENCHMARK_WITH_ARG(BM_Strlen, 4096);
BENCHMARK_WITH_UNIT(BM_Strlen, benchmark::kMicrosecond)->Arg(1 << 16);

static void BM_StreamFormat(benchmark::State &state) {
  for (auto _ : state) {
    std::ostringstream os;
    os << state.range(0) << ':' << 3.25;
    benchmark::DoNotOptimize(os.str());  // an rvalue
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamFormat)->Arg(7)->Arg(-123456789)->ArgName("value");

static void BM_Split(benchmark::State &state) {
  std::string line;
  for (int64_t i = 0; i < state.range(0); ++i)
    line += "field,";
  std::vector<std::string_view> parts;
  for (auto _ : state) {
    parts.clear();
    std::string_view rest(line);
    for (size_t comma; (comma = rest.find(',')) != rest.npos; rest.remove_prefix(comma + 1))
      parts.push_back(rest.substr(0, comma));
    benchmark::DoNotOptimize(parts.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["fields"] = static_cast<double>(parts.size());
}
BENCHMARK(BM_Split)->DenseRange(1, 9, 4)->Unit(benchmark::kMicrosecond);

static void BM_ArrayCopy(benchmark::State &state) {
  const std::array<char, 256> src{};
  std::array<char, 256> dst;
  for (auto _ : state) {
    benchmark::DoNotOptimize(src);  // a const lvalue larger than a register
    dst = src;
    benchmark::DoNotOptimize(dst);
  }
  state.SetBytesProcessed(state.iterations() * int64_t(src.size()));
}
BENCHMARK(BM_ArrayCopy);

BENCHMARK_MAIN();
