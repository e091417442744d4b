/* A sum over an array read at a stride, over three sizes and three
 * strides: one family of two named arguments, every combination of a
 * range of sizes and a list of strides, with each member's rate in bytes
 * spanned per second.  Run it with --filter stride:16 for one stride. */
#include <cyclekit/keep.h>
#include <cyclekit/suite.h>
#include <stdint.h>

#define MOST (1 << 20)
static unsigned char bytes[MOST];

/* values[0] bytes read, one every values[1]. */
static void strided_sum(const int64_t *values, const void *context) {
  const unsigned char *data = (const unsigned char *)context;
  unsigned sum = 0;
  for (int64_t i = 0; i < values[0]; i += values[1])
    sum += data[i];
  CYCLEKIT_KEEP(sum);
}

int main(int argc, char **argv) {
  int64_t sizes[CYCLEKIT_PARAMS_RANGE_MOST];
  const int64_t strides[] = {1, 16, 64};
  const int64_t *lists[] = {sizes, strides};
  const int lengths[] = {cyclekit_params_range(4096, MOST, 16, sizes, CYCLEKIT_PARAMS_RANGE_MOST),
                         3};
  const char *names[] = {"size", "stride"};
  struct cyclekit_suite *s = cyclekit_suite_open("strides", argc, argv);
  cyclekit_suite_run_product(s, "sum", strided_sum, bytes, 2, names, lists, lengths);
  cyclekit_suite_throughput_per_arg(s, "sum", 1, 0);
  return cyclekit_suite_close(s);
}
