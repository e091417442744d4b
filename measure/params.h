/*
 * params: the integer arguments of a parameterised name, shared by the
 * native suite and the C++ micro-benchmark front end, so that one family
 * gets the same values, in the same order and under the same names in both.
 *
 *   int64_t sizes[CYCLEKIT_PARAMS_RANGE_MOST];
 *   int n = cyclekit_params_range(8, 1000, 8, sizes, CYCLEKIT_PARAMS_RANGE_MOST);
 *   // 8, 64, 512, 1000
 *
 * A list is written into the caller's buffer as snprintf writes a string:
 * the function returns how many values the whole list has and writes at
 * most room of them, so a call with room 0 (out may then be null) sizes
 * the buffer.  Arguments no list can come from give -1 and write nothing.
 * Plain C linkage; nothing here allocates, reads the counter or takes the
 * driver's lock.
 */
#ifndef CYCLEKIT_PARAMS_H
#define CYCLEKIT_PARAMS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* No range has more values than this: 64 negative, 0, 64 positive. */
#define CYCLEKIT_PARAMS_RANGE_MOST 129

/*
 * The range from lo to hi, ascending: lo, the powers of multiplier strictly
 * between lo and hi, and hi.  Where it crosses 0 it is mirrored: the
 * negative values are the negated powers between 1 (or -hi) and -lo, then
 * comes 0, then 1, the powers and hi.  So 8, 1000, 8 give 8 64 512 1000;
 * -10, 10, 2 give -10 -8 -4 -2 -1 0 1 2 4 8 10; 0, 0, 2 gives 0.  Every
 * value of int64_t is a bound: INT64_MIN mirrors INT64_MIN + 1 ... as
 * -2^63, and no power is formed past hi, so nothing overflows.
 * lo > hi: an empty range, 0.  A multiplier below 2 (which would never
 * reach hi): -1.
 */
int cyclekit_params_range(int64_t lo, int64_t hi, int multiplier, int64_t *out, size_t room);

/*
 * start, start + step, ... while not above limit.  start > limit: 0.  A
 * step below 1: -1.  Nothing is formed past limit, so a limit near
 * INT64_MAX does not overflow.  A list of more than INT64_MAX values (a
 * step of 1 across the whole of int64_t) is counted as INT64_MAX.
 */
int64_t cyclekit_params_dense(int64_t start, int64_t limit, int64_t step, int64_t *out,
                              size_t room);

/*
 * The product of nargs lists: every tuple of one value from each,
 * lists[i] holding lengths[i] values, the first argument changing fastest
 * (index 0 takes the first value of every list, index 1 the second of the
 * first list).  Returns how many tuples there are, and when 0 <= index <
 * that and tuple is not null writes the index-th one, nargs values, into
 * tuple.  A length of 0, or nargs below 1: 0.  Null lists or lengths with
 * nargs of 1 or more, a negative length, a null list of a positive length
 * or more than INT64_MAX tuples: -1, nothing written.
 */
int64_t cyclekit_params_product(int nargs, const int64_t *const *lists, const int *lengths,
                                int64_t index, int64_t *tuple);

/*
 * The name of one member of family: the family's name, then each of the
 * nargs values as "argname:value", or just "value" where its name is null
 * or empty (or arg_names is null), joined by "/": "copy/size:64/8".  An
 * empty (or null) family leaves out the first "/": "size:64/8".  Returns
 * the length of the whole name, without the terminating null byte, and
 * writes at most room bytes of it, that byte included (nothing when room
 * is 0), as snprintf does.  Null values: no values, whatever nargs says.
 */
size_t cyclekit_params_name(char *out, size_t room, const char *family, int nargs,
                            const char *const *arg_names, const int64_t *values);

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_PARAMS_H */
