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
 *
 *     s.run_range("copy", [&](int n) { copy(buf, n); }, 64, 1 << 20, 8);
 *     s.throughput_per_arg("copy", 1);  // bytes/s for copy/64 ... copy/1048576
 *     s.run_each("sort", [&] { sort(v); }, [&] { shuffle(v); }, [] {});
 *
 *     s.run_product("walk", [&](const int64_t *v) { walk(list, v[0], v[1]); },
 *                   {"size", "stride"}, {cyclekit::params_range(64, 4096, 8), {1, 16}});
 *
 * run_args and run_range take a callable of an int, one copy for the whole
 * family; run_params and run_product a callable of the member's values
 * (const int64_t *), named and ordered as cyclekit_suite_run_params and
 * cyclekit_suite_run_product name and order them; run_each a callable with a setup and a teardown
 * around every timed run; set and throughput are cyclekit_suite_set's and
 * cyclekit_suite_throughput's.
 */
#ifndef CYCLEKIT_SUITE_HPP
#define CYCLEKIT_SUITE_HPP

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <initializer_list>
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

// A callable with its setup and teardown around every timed run.  The
// setup binds the trampoline to the callable first: it runs before every
// run, so no answer's binding is needed.
template <class Fn, class Setup, class Teardown>
struct suite_each final : suite_callable {
  suite_each(Fn f, Setup s, Teardown t)
      : fn(std::move(f)), setup(std::move(s)), teardown(std::move(t)) {}
  Fn fn;
  Setup setup;
  Teardown teardown;
  static void before(const void *self) {
    auto *e = static_cast<suite_each *>(const_cast<void *>(self));
    measured = std::addressof(e->fn);
    e->setup();
  }
  static void after(const void *self) {
    static_cast<suite_each *>(const_cast<void *>(self))->teardown();
  }
};

// A member's values passed on to the family's callable, its context.
template <class Fn>
void params_call(const int64_t *values, const void *callable) noexcept {
  (*static_cast<Fn *>(const_cast<void *>(callable)))(values);
}

// As the C suite ends a misused call: a message and status 1.
[[noreturn]] inline void suite_misuse(const char *what, const char *why, const char *name) {
  fprintf(stderr, "Fatal error.  cyclekit::suite::%s: %s: %s\n", what, why, name ? name : "");
  exit(1);
}

}  // namespace detail

// The lists of cyclekit_params_range and cyclekit_params_dense; empty where
// they give -1.
inline std::vector<int64_t> params_range(int64_t lo, int64_t hi, int multiplier) {
  int n = cyclekit_params_range(lo, hi, multiplier, nullptr, 0);
  std::vector<int64_t> out(n > 0 ? static_cast<size_t>(n) : 0);
  cyclekit_params_range(lo, hi, multiplier, out.data(), out.size());
  return out;
}
inline std::vector<int64_t> params_dense(int64_t start, int64_t limit, int64_t step) {
  int64_t n = cyclekit_params_dense(start, limit, step, nullptr, 0);
  std::vector<int64_t> out(n > 0 ? static_cast<size_t>(n) : 0);
  cyclekit_params_dense(start, limit, step, out.data(), out.size());
  return out;
}

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

  // Registers f(n) as "name/n" for each n of args; f takes an int.  One
  // copy of f serves every member.
  template <class F>
  void run_args(const char *name, F &&f, std::initializer_list<int> args) {
    const void *callable = keep_sized(std::forward<F>(f));
    cyclekit_suite_run_args_setup(s_, name, &detail::trampoline_sized<std::decay_t<F>>,
                                  args.begin(), (int)args.size(), &detail::suite_bind, callable);
  }

  // Registers f(n) as "name/n" for n from lo to hi (see cyclekit_suite_run_range).
  template <class F>
  void run_range(const char *name, F &&f, int lo, int hi, int multiplier) {
    const void *callable = keep_sized(std::forward<F>(f));
    cyclekit_suite_run_range_setup(s_, name, &detail::trampoline_sized<std::decay_t<F>>, lo, hi,
                                   multiplier, &detail::suite_bind, callable);
  }

  // Registers f(values) for each tuple, its values named by arg_names in
  // their order ("" or fewer names: shown by value alone); see
  // cyclekit_suite_run_params.  Fatal: tuples of different lengths, or
  // more names than values.
  template <class F>
  void run_params(const char *name, F &&f, std::initializer_list<const char *> arg_names,
                  std::initializer_list<std::initializer_list<int64_t>> tuples) {
    size_t nargs = tuples.size() ? tuples.begin()->size() : arg_names.size();
    std::vector<int64_t> values;
    for (auto &t : tuples) {
      if (t.size() != nargs)
        detail::suite_misuse("run_params", "tuples of different lengths", name);
      values.insert(values.end(), t.begin(), t.end());
    }
    std::vector<const char *> names = padded_names("run_params", name, arg_names, nargs);
    cyclekit_suite_run_params(s_, name, &detail::params_call<std::decay_t<F>>,
                              keep_params(std::forward<F>(f)), (int)nargs, names.data(),
                              values.data(), (int)tuples.size());
  }

  // Registers f(values) for every tuple of one value from each list; see
  // cyclekit_suite_run_product.  Names as run_params.
  template <class F>
  void run_product(const char *name, F &&f, std::initializer_list<const char *> arg_names,
                   const std::vector<std::vector<int64_t>> &lists) {
    std::vector<const int64_t *> starts;
    std::vector<int> lengths;
    for (auto &l : lists) {
      starts.push_back(l.data());
      lengths.push_back((int)l.size());
    }
    std::vector<const char *> names = padded_names("run_product", name, arg_names, lists.size());
    cyclekit_suite_run_product(s_, name, &detail::params_call<std::decay_t<F>>,
                               keep_params(std::forward<F>(f)), (int)lists.size(), names.data(),
                               starts.data(), lengths.data());
  }

  // Registers f() under name, with setup() before and teardown() after every
  // timed run, outside the timed interval (see cyclekit_suite_run_each).
  template <class F, class Setup, class Teardown>
  void run_each(const char *name, F &&f, Setup &&setup, Teardown &&teardown) {
    using Each = detail::suite_each<std::decay_t<F>, std::decay_t<Setup>, std::decay_t<Teardown>>;
    static_assert(std::is_invocable_v<std::decay_t<F> &> &&
                      std::is_invocable_v<std::decay_t<Setup> &> &&
                      std::is_invocable_v<std::decay_t<Teardown> &>,
                  "cyclekit::suite::run_each needs three callables taking no arguments");
    auto each = std::make_unique<Each>(std::forward<F>(f), std::forward<Setup>(setup),
                                       std::forward<Teardown>(teardown));
    const void *self = each.get();
    callables_.push_back(std::move(each));
    cyclekit_suite_run_each(s_, name, &detail::trampoline<std::decay_t<F>>, 0, &Each::before,
                            &Each::after, self);
  }

  // A name's (or a family's) own settings; see cyclekit_suite_set.
  void set(const char *name, const bestof_settings &settings) {
    cyclekit_suite_set(s_, name, &settings);
  }

  // Bytes and items per call, or per call and unit of the argument; see
  // cyclekit_suite_throughput.
  void throughput(const char *name, double bytes, double items = 0) {
    cyclekit_suite_throughput(s_, name, bytes, items);
  }
  void throughput_per_arg(const char *name, double bytes, double items = 0) {
    cyclekit_suite_throughput_per_arg(s_, name, bytes, items);
  }

  // A counter of the user's, per call; see cyclekit_suite_counter.
  void counter(const char *name, const char *label, double per_call) {
    cyclekit_suite_counter(s_, name, label, per_call);
  }

  // The C function's families, f(n) called directly.
  void run_args(const char *name, bestof_test_fn f, std::initializer_list<int> args) {
    cyclekit_suite_run_args(s_, name, f, args.begin(), (int)args.size());
  }
  void run_range(const char *name, bestof_test_fn f, int lo, int hi, int multiplier) {
    cyclekit_suite_run_range(s_, name, f, lo, hi, multiplier);
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
  template <class F>
  const void *keep_sized(F &&f) {
    using Fn = std::decay_t<F>;
    static_assert(std::is_invocable_v<Fn &, int>,
                  "cyclekit::suite::run_args and run_range need a callable taking an int");
    auto holder = std::make_unique<detail::suite_holder<Fn>>(std::forward<F>(f));
    const void *callable = std::addressof(holder->fn);
    callables_.push_back(std::move(holder));
    return callable;
  }

  template <class F>
  const void *keep_params(F &&f) {
    using Fn = std::decay_t<F>;
    static_assert(std::is_invocable_v<Fn &, const int64_t *>,
                  "cyclekit::suite::run_params and run_product need a callable taking a "
                  "const int64_t *");
    auto holder = std::make_unique<detail::suite_holder<Fn>>(std::forward<F>(f));
    const void *callable = std::addressof(holder->fn);
    callables_.push_back(std::move(holder));
    return callable;
  }

  // One name a value, null past the names given.
  static std::vector<const char *> padded_names(const char *what, const char *name,
                                                std::initializer_list<const char *> given,
                                                size_t nargs) {
    if (given.size() > nargs)
      detail::suite_misuse(what, "more names than values", name);
    std::vector<const char *> names(given);
    names.resize(nargs, nullptr);
    return names;
  }

  cyclekit_suite *s_;
  std::vector<std::unique_ptr<detail::suite_callable>> callables_;
};

}  // namespace cyclekit

#endif /* CYCLEKIT_SUITE_HPP */
