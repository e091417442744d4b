/*
 * cyclekit::suite: the named suite of cyclekit/suite.h for any C++ callable.
 *
 *   int main(int argc, char **argv) {
 *     std::vector<int> v(1000, 1);
 *     cyclekit::suite s("sums", argc, argv);
 *     s.run("accumulate", [&] { cyclekit::keep(std::accumulate(v.begin(), v.end(), 0)); });
 *     s.run("sum 4000", sum_to, 4000);  // a C function and its argument
 *     return s.close();
 *   }
 *
 * Each callable is copied (moved) into the suite and kept until close, which
 * measures every name as cyclekit_suite_close does.  Before each answer the
 * suite binds the driver to the callable, outside every timed interval, so
 * each timed run holds the one load more that cyclekit::bestof's do.  Like
 * cyclekit::bestof the callable takes no arguments, must not throw and must
 * not measure anything itself.  A suite that is destroyed without close is
 * closed (measured) then, and its status is lost.
 */
#ifndef CYCLEKIT_SUITE_HPP
#define CYCLEKIT_SUITE_HPP

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "bestof.hpp"
#include "suite.h"

namespace cyclekit {

namespace detail {

struct suite_callable {
  virtual ~suite_callable() = default;
};

template <class Fn>
struct suite_holder final : suite_callable {
  explicit suite_holder(Fn &&f) : fn(std::move(f)) {}
  explicit suite_holder(const Fn &f) : fn(f) {}
  Fn fn;
};

// The setup of every callable's name: what the trampoline will call.
inline void suite_bind(const void *callable) { measured = callable; }

}  // namespace detail

class suite {
 public:
  suite(const char *title, int argc, char **argv) : s_(cyclekit_suite_open(title, argc, argv)) {}
  suite(const suite &) = delete;
  suite &operator=(const suite &) = delete;
  ~suite() {
    if (s_)
      close();
  }

  // Registers f() under name; f is copied or moved into the suite.
  template <class F>
  void run(const char *name, F &&f) {
    using Fn = std::decay_t<F>;
    static_assert(std::is_invocable_v<Fn &>,
                  "cyclekit::suite::run needs a callable taking no arguments");
    auto holder = std::make_unique<detail::suite_holder<Fn>>(std::forward<F>(f));
    const void *callable = std::addressof(holder->fn);
    callables_.push_back(std::move(holder));
    cyclekit_suite_run_setup(s_, name, &detail::trampoline<Fn>, 0, &detail::suite_bind, callable);
  }

  // Registers the C function f(arg) under name.
  void run(const char *name, bestof_test_fn f, int arg) { cyclekit_suite_run(s_, name, f, arg); }

  // Measures, prints and writes; returns the exit status (see
  // cyclekit_suite_close).  Once only.
  int close() {
    int status = cyclekit_suite_close(s_);
    s_ = nullptr;
    detail::measured = nullptr;
    callables_.clear();
    return status;
  }

 private:
  cyclekit_suite *s_;
  std::vector<std::unique_ptr<detail::suite_callable>> callables_;
};

}  // namespace cyclekit

#endif /* CYCLEKIT_SUITE_HPP */
