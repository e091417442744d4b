// The registration macros of <benchmark/benchmark.h>.  Each one defines a
// file-local pointer whose initialiser registers a family before main, so
// a suite may register from any number of files.
#ifndef CYCLEKIT_COMPAT_BENCHMARK_MACROS_H
#define CYCLEKIT_COMPAT_BENCHMARK_MACROS_H
// Treated as benchmark.h is, for the same reason.
#ifndef CYCLEKIT_BENCHMARK_OWN_BUILD
#pragma GCC system_header
#endif

#define CYCLEKIT_BM_JOIN2(a, b, c) a##b##c
#define CYCLEKIT_BM_JOIN(a, b, c) CYCLEKIT_BM_JOIN2(a, b, c)
#define BENCHMARK_PRIVATE_UNIQUE_ID __COUNTER__
#define BENCHMARK_PRIVATE_CONCAT(a, b, c) CYCLEKIT_BM_JOIN(a, b, c)
#define BENCHMARK_PRIVATE_CONCAT2(a, b, c) CYCLEKIT_BM_JOIN2(a, b, c)
#define BENCHMARK_PRIVATE_NAME(...) CYCLEKIT_BM_JOIN(cyclekit_bm_, __COUNTER__, __VA_ARGS__)
#define BENCHMARK_PRIVATE_CONCAT_NAME(BaseClass, Method) BaseClass##_##Method##_Benchmark
#define BENCHMARK_PRIVATE_DECLARE(n) \
  BENCHMARK_UNUSED static ::benchmark::internal::Benchmark *BENCHMARK_PRIVATE_NAME(n)
#define CYCLEKIT_BM_FUNCTION(name, ...)             \
  ::benchmark::internal::RegisterBenchmarkInternal( \
      new ::benchmark::internal::FunctionBenchmark(name, __VA_ARGS__))

#define BENCHMARK(...) \
  BENCHMARK_PRIVATE_DECLARE(_f) = CYCLEKIT_BM_FUNCTION(#__VA_ARGS__, &__VA_ARGS__)
#define BENCHMARK_WITH_ARG(n, a) BENCHMARK(n)->Arg((a))
#define BENCHMARK_WITH_ARG2(n, a1, a2) BENCHMARK(n)->Args({(a1), (a2)})
#define BENCHMARK_WITH_UNIT(n, t) BENCHMARK(n)->Unit((t))
#define BENCHMARK_RANGE(n, lo, hi) BENCHMARK(n)->Range((lo), (hi))
#define BENCHMARK_RANGE2(n, l1, h1, l2, h2) BENCHMARK(n)->RangePair((l1), (h1), (l2), (h2))

#define BENCHMARK_CAPTURE(func, test_case_name, ...)    \
  BENCHMARK_PRIVATE_DECLARE(_c) = CYCLEKIT_BM_FUNCTION( \
      #func "/" #test_case_name, [](::benchmark::State &st) { func(st, __VA_ARGS__); })

#define BENCHMARK_TEMPLATE1(n, a) \
  BENCHMARK_PRIVATE_DECLARE(_t) = CYCLEKIT_BM_FUNCTION(#n "<" #a ">", n<a>)
#define BENCHMARK_TEMPLATE2(n, a, b) \
  BENCHMARK_PRIVATE_DECLARE(_t) = CYCLEKIT_BM_FUNCTION(#n "<" #a "," #b ">", n<a, b>)
#define BENCHMARK_TEMPLATE(n, ...) \
  BENCHMARK_PRIVATE_DECLARE(_t) = CYCLEKIT_BM_FUNCTION(#n "<" #__VA_ARGS__ ">", n<__VA_ARGS__>)

// A fixture's benchmark is a class derived from the fixture; its name is
// Fixture/Method, with the template arguments after the fixture's name.
// The base comes last, as variadic arguments, since a template argument
// such as std::map<int, int> carries commas of its own.
#define CYCLEKIT_BM_FIXTURE_CLASS(BaseClass, Method, title, ...) \
  class BaseClass##_##Method##_Benchmark : public __VA_ARGS__ {  \
   public:                                                       \
    BaseClass##_##Method##_Benchmark() { this->SetName(title); } \
                                                                 \
   protected:                                                    \
    void BenchmarkCase(::benchmark::State &) override;           \
  };
#define BENCHMARK_PRIVATE_DECLARE_F(BaseClass, Method) \
  CYCLEKIT_BM_FIXTURE_CLASS(BaseClass, Method, #BaseClass "/" #Method, BaseClass)
#define BENCHMARK_TEMPLATE1_PRIVATE_DECLARE_F(BaseClass, Method, a) \
  CYCLEKIT_BM_FIXTURE_CLASS(BaseClass, Method, #BaseClass "<" #a ">/" #Method, BaseClass<a>)
#define BENCHMARK_TEMPLATE2_PRIVATE_DECLARE_F(BaseClass, Method, a, b)                \
  CYCLEKIT_BM_FIXTURE_CLASS(BaseClass, Method, #BaseClass "<" #a "," #b ">/" #Method, \
                            BaseClass<a, b>)
#define BENCHMARK_TEMPLATE_PRIVATE_DECLARE_F(BaseClass, Method, ...)                     \
  CYCLEKIT_BM_FIXTURE_CLASS(BaseClass, Method, #BaseClass "<" #__VA_ARGS__ ">/" #Method, \
                            BaseClass<__VA_ARGS__>)

#define CYCLEKIT_BM_CASE(BaseClass, Method) \
  void BENCHMARK_PRIVATE_CONCAT_NAME(BaseClass, Method)::BenchmarkCase
#define BENCHMARK_DEFINE_F(BaseClass, Method) \
  BENCHMARK_PRIVATE_DECLARE_F(BaseClass, Method) CYCLEKIT_BM_CASE(BaseClass, Method)
#define BENCHMARK_TEMPLATE1_DEFINE_F(BaseClass, Method, a) \
  BENCHMARK_TEMPLATE1_PRIVATE_DECLARE_F(BaseClass, Method, a) CYCLEKIT_BM_CASE(BaseClass, Method)
#define BENCHMARK_TEMPLATE2_DEFINE_F(BaseClass, Method, a, b)    \
  BENCHMARK_TEMPLATE2_PRIVATE_DECLARE_F(BaseClass, Method, a, b) \
  CYCLEKIT_BM_CASE(BaseClass, Method)
#define BENCHMARK_TEMPLATE_DEFINE_F(BaseClass, Method, ...)            \
  BENCHMARK_TEMPLATE_PRIVATE_DECLARE_F(BaseClass, Method, __VA_ARGS__) \
  CYCLEKIT_BM_CASE(BaseClass, Method)

#define BENCHMARK_PRIVATE_REGISTER_F(TestName) \
  BENCHMARK_PRIVATE_DECLARE(TestName) =        \
      ::benchmark::internal::RegisterBenchmarkInternal(new TestName())
#define BENCHMARK_REGISTER_F(BaseClass, Method) \
  BENCHMARK_PRIVATE_REGISTER_F(BENCHMARK_PRIVATE_CONCAT_NAME(BaseClass, Method))

#define BENCHMARK_F(BaseClass, Method)           \
  BENCHMARK_PRIVATE_DECLARE_F(BaseClass, Method) \
  BENCHMARK_REGISTER_F(BaseClass, Method);       \
  CYCLEKIT_BM_CASE(BaseClass, Method)
#define BENCHMARK_TEMPLATE1_F(BaseClass, Method, a)           \
  BENCHMARK_TEMPLATE1_PRIVATE_DECLARE_F(BaseClass, Method, a) \
  BENCHMARK_REGISTER_F(BaseClass, Method);                    \
  CYCLEKIT_BM_CASE(BaseClass, Method)
#define BENCHMARK_TEMPLATE2_F(BaseClass, Method, a, b)           \
  BENCHMARK_TEMPLATE2_PRIVATE_DECLARE_F(BaseClass, Method, a, b) \
  BENCHMARK_REGISTER_F(BaseClass, Method);                       \
  CYCLEKIT_BM_CASE(BaseClass, Method)
#define BENCHMARK_TEMPLATE_F(BaseClass, Method, ...)                   \
  BENCHMARK_TEMPLATE_PRIVATE_DECLARE_F(BaseClass, Method, __VA_ARGS__) \
  BENCHMARK_REGISTER_F(BaseClass, Method);                             \
  CYCLEKIT_BM_CASE(BaseClass, Method)

#define BENCHMARK_MAIN()                                      \
  int main(int argc, char **argv) {                           \
    char cyclekit_bm_arg0[] = "benchmark";                    \
    char *cyclekit_bm_argv0 = cyclekit_bm_arg0;               \
    if (!argv) {                                              \
      argc = 1;                                               \
      argv = &cyclekit_bm_argv0;                              \
    }                                                         \
    ::benchmark::Initialize(&argc, argv);                     \
    if (::benchmark::ReportUnrecognizedArguments(argc, argv)) \
      return 1;                                               \
    ::benchmark::RunSpecifiedBenchmarks();                    \
    ::benchmark::Shutdown();                                  \
    return 0;                                                 \
  }                                                           \
  int main(int, char **)

#endif
