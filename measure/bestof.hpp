/*
 * cyclekit::bestof: the K-best driver for any C++ callable.
 *
 *   std::vector<int> v(n, 1);
 *   long sum = 0;
 *   double cycles = cyclekit::bestof([&] { sum = std::accumulate(v.begin(), v.end(), 0L); });
 *
 * The callable is run with the same driver and the same settings as the C
 * function bestof (set them with the set_bestof_ functions), and the result
 * is that driver's smallest cycle count.  Header-only; the libraries stay
 * plain C.
 *
 * The callable reaches the driver through one thread-local pointer and a
 * trampoline of the driver's own function type, into which the callable's
 * body is compiled.  The driver calls the trampoline through its function
 * pointer as it would a C function, so each timed run holds just one load
 * more, the same at every run (bench/adapter_overhead.cpp measures it).
 *
 * cyclekit::bestof_compare and cyclekit::bestof_cpe (below) do the same for
 * the questions of cyclekit/compare.h; cyclekit::keep and cyclekit::clobber
 * (cyclekit/keep.h) keep the measured work from being optimised away.
 *
 * Like the driver, this is not re-entrant: the callable must not measure
 * anything itself, or the driver ends the process.  Threads take turns as
 * they do with the driver: the callable's pointer is per thread, so a call
 * waiting for its turn leaves the running measurement's alone.  It must not
 * throw either; the driver cannot pass an exception on, so one that escapes
 * ends the program through std::terminate.
 */
#ifndef CYCLEKIT_BESTOF_HPP
#define CYCLEKIT_BESTOF_HPP

#if __cplusplus < 201703L
#error "cyclekit/bestof.hpp needs C++17 or later"
#endif

#include <memory>
#include <type_traits>

#include "bestof.h"
#include "compare.h"
#include "keep.h"

namespace cyclekit {

namespace detail {

// The callable of this thread's measurement in progress.  One per thread, so
// a second thread's call cannot redirect a running measurement to its own
// callable: it reaches the driver, which makes it wait for its turn.  The initial-exec model
// makes the read in each timed run the single load a plain global would
// cost, in a shared object as well (at the price of static TLS space there).
#if defined(__GNUC__)
inline thread_local const void *measured __attribute__((tls_model("initial-exec"))) = nullptr;
#else
inline thread_local const void *measured = nullptr;
#endif

template <class Fn>
void trampoline(int) noexcept {
  (*static_cast<Fn *>(const_cast<void *>(measured)))();
}

// The second callable of a comparison, reached by a trampoline of its own.
#if defined(__GNUC__)
inline thread_local const void *measured_second __attribute__((tls_model("initial-exec"))) =
    nullptr;
#else
inline thread_local const void *measured_second = nullptr;
#endif

template <class Fn>
void trampoline_second(int) noexcept {
  (*static_cast<Fn *>(const_cast<void *>(measured_second)))();
}

// For a callable that takes the size: the driver's int is passed on.
template <class Fn>
void trampoline_sized(int n) noexcept {
  (*static_cast<Fn *>(const_cast<void *>(measured)))(n);
}

template <class>
inline constexpr bool no_callable = false;

}  // namespace detail

// Measures f() by the K-best scheme and returns the smallest cycle count.
// f is used in place, never copied, so its captures may be large and it may
// keep state from run to run.  f may also be a function or a reference to
// one; it is then called through a pointer.
template <class F>
double bestof(F &&f) {
  using Fn = std::remove_reference_t<F>;
  if constexpr (std::is_function_v<Fn>) {
    // A function is not an object: measure a pointer to it instead.
    Fn *pointer = f;
    return cyclekit::bestof(pointer);
  } else if constexpr (std::is_invocable_v<Fn &>) {
    detail::measured = std::addressof(f);
    double cycles = ::bestof(&detail::trampoline<Fn>, 0);
    detail::measured = nullptr;
    return cycles;
  } else {
    static_assert(detail::no_callable<Fn>, "cyclekit::bestof needs a callable taking no arguments");
    return 0;
  }
}

// Compares g() against f() as the C function bestof_compare does, with the
// same settings and statistics, and returns the ratio g / f; fills *out
// unless it is null.  Each callable reaches the driver as f does in bestof,
// through a trampoline of its own, so each timed run holds one load more.
template <class F, class G>
double bestof_compare(F &&f, G &&g, bestof_comparison *out = nullptr) {
  using Fn = std::remove_reference_t<F>;
  using Gn = std::remove_reference_t<G>;
  if constexpr (std::is_function_v<Fn>) {
    Fn *pointer = f;
    return cyclekit::bestof_compare(pointer, g, out);
  } else if constexpr (std::is_function_v<Gn>) {
    Gn *pointer = g;
    return cyclekit::bestof_compare(f, pointer, out);
  } else if constexpr (std::is_invocable_v<Fn &> && std::is_invocable_v<Gn &>) {
    detail::measured = std::addressof(f);
    detail::measured_second = std::addressof(g);
    double ratio =
        ::bestof_compare(&detail::trampoline<Fn>, 0, &detail::trampoline_second<Gn>, 0, out);
    detail::measured = nullptr;
    detail::measured_second = nullptr;
    return ratio;
  } else {
    static_assert(detail::no_callable<Fn>,
                  "cyclekit::bestof_compare needs two callables taking no arguments");
    return 0;
  }
}

// Cycles per element of f(n) over [n_lo, n_hi], as the C function
// bestof_cpe finds them; f takes the size, an int.  Fills *out unless it is
// null.
template <class F>
double bestof_cpe(F &&f, int n_lo, int n_hi, bestof_fit *out = nullptr) {
  using Fn = std::remove_reference_t<F>;
  if constexpr (std::is_function_v<Fn>) {
    Fn *pointer = f;
    return cyclekit::bestof_cpe(pointer, n_lo, n_hi, out);
  } else if constexpr (std::is_invocable_v<Fn &, int>) {
    detail::measured = std::addressof(f);
    double slope = ::bestof_cpe(&detail::trampoline_sized<Fn>, n_lo, n_hi, out);
    detail::measured = nullptr;
    return slope;
  } else {
    static_assert(detail::no_callable<Fn>,
                  "cyclekit::bestof_cpe needs a callable taking the size (an int)");
    return 0;
  }
}

}  // namespace cyclekit

#endif /* CYCLEKIT_BESTOF_HPP */
