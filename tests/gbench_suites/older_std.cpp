// A suite as projects on an older standard write theirs: built as C++11,
// with warnings a project turns on for its own code and -Werror.  The
// header must not bring C++17 into such a build, nor warnings of its own.
#include <benchmark/benchmark.h>

#include <map>

#if defined(BENCHMARK_HAS_CXX17) && __cplusplus < 201703L
#error "a C++11 build is told it has C++17"
#endif

namespace older {

// Overrides one SetUp of the two, which -Woverloaded-virtual reports as
// hiding the other wherever the fixture's header is not a system header.
template <class Map>
class Filled : public benchmark::Fixture {
 public:
  void SetUp(const benchmark::State &state) override {
    for (int64_t i = 0; i < state.range(0); ++i)
      map_[static_cast<int>(i)] = 1;
  }
  void TearDown(const benchmark::State &) override { map_.clear(); }
  Map map_;
};

// The type argument carries a comma of its own.
BENCHMARK_TEMPLATE_DEFINE_F(Filled, Find, std::map<int, int>)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(map_.find(1));
}
BENCHMARK_REGISTER_F(Filled, Find)->Arg(8)->Arg(64);

}  // namespace older

BENCHMARK_MAIN();
