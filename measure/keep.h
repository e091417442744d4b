/*
 * Keeping measured work from being optimised away.
 *
 * A measured function whose result is never used may be compiled to nothing,
 * and a store that nothing reads may be dropped.  Two statements prevent
 * that, each costing no instruction of its own:
 *
 *   CYCLEKIT_KEEP(x)    the value of the scalar expression x (an integer, a
 *                       floating-point number or a pointer) is computed, as
 *                       if something read it.  It says nothing about memory.
 *   CYCLEKIT_CLOBBER()  every store made before it is done and every load
 *                       after it is made again, as if unknown code read and
 *                       wrote all memory the program can reach.
 *
 * To keep an array or a structure, keep its address and then clobber:
 * CYCLEKIT_KEEP(buf); CYCLEKIT_CLOBBER();.  In C++, cyclekit::keep(x) and
 * cyclekit::clobber() do the same and keep takes an object of any type.
 *
 * With GCC and Clang (and compilers that define __GNUC__) both are an empty
 * inline assembly statement: x is its input, "memory" its clobber.
 * Elsewhere, or with CYCLEKIT_NO_INLINE_ASM defined, they fall back to a
 * store of (x) != 0 to a volatile int and to a call through a volatile
 * function pointer that the compiler cannot see through (cyclekit::keep
 * passes an object that is not a scalar to that call); both cost a few
 * instructions, so keep them out of the loops you measure there.
 */
#ifndef CYCLEKIT_KEEP_H
#define CYCLEKIT_KEEP_H

#if defined(__GNUC__) && !defined(CYCLEKIT_NO_INLINE_ASM)

#define CYCLEKIT_KEEP(x) __asm__ __volatile__("" : : "g"(x))
#define CYCLEKIT_CLOBBER() __asm__ __volatile__("" : : : "memory")

#else

/* One sink and one opaque function per translation unit.  The compiler
 * cannot know which function the volatile pointer holds when it is called,
 * so it must assume that the call reads and writes all reachable memory. */
static volatile int cyclekit_keep_sink_;
static void cyclekit_keep_nothing_(const void *p) { (void)p; }
static void (*volatile cyclekit_keep_opaque_)(const void *) = cyclekit_keep_nothing_;

#define CYCLEKIT_KEEP(x) (cyclekit_keep_sink_ = (x) != 0)
#define CYCLEKIT_CLOBBER() (cyclekit_keep_opaque_(0))

#endif

#ifdef __cplusplus
#include <type_traits>

namespace cyclekit {

// The value of x is computed, as if something read it.  An object that is
// not a scalar is taken as read in memory.
template <class T>
inline void keep(const T &x) noexcept {
#if defined(__GNUC__) && !defined(CYCLEKIT_NO_INLINE_ASM)
  if constexpr (std::is_scalar_v<T>)
    __asm__ __volatile__("" : : "g"(x));
  else
    __asm__ __volatile__("" : : "m"(x));
#else
  if constexpr (std::is_scalar_v<T>)
    CYCLEKIT_KEEP(x);
  else
    cyclekit_keep_opaque_(&x);
#endif
}

// Every earlier store is done and every later load made again.
inline void clobber() noexcept { CYCLEKIT_CLOBBER(); }

}  // namespace cyclekit
#endif

#endif /* CYCLEKIT_KEEP_H */
