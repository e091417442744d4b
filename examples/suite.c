/* A suite of eight small kernels, each a different limit of the processor:
 * a chain of dependent multiplies (latency) beside four independent chains
 * (throughput), a chain of floating-point additions, pointer walks within
 * the L1 cache and through 64 MiB of memory, a loop whose branches follow
 * random data beside the same loop over sorted data, and calls through a
 * pointer.  It prints a table; run it with --help for its command line, or
 * with --json FILE to keep the answers for cyclekit-compare.  Build it
 * against an installed cyclekit with
 *   cc suite.c $(pkg-config --cflags --libs cyclekit) */
#include <cyclekit/keep.h>
#include <cyclekit/suite.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* The dependent chain's length; a build with another one is a changed
 * version of this suite, for trying cyclekit-compare. */
#ifndef SUITE_IMULS
#define SUITE_IMULS 1000
#endif

#define OPS 1000
#define L1_BYTES (16 << 10)
/* Past the last-level cache of most processors.  (A virtual machine may
 * report its host's whole L3, hundreds of MiB; a walk past that would take
 * seconds to set up.) */
#define WALK_BYTES (64 << 20)
#define LINE 64

static volatile uint64_t seed = 0x9e3779b97f4a7c15u;
static volatile double fseed = 1.0000001;

/* Each multiply waits for the one before: the multiplier's latency. */
static void imul_chain(int n) {
  uint64_t x = seed, m = seed | 1;
  for (int i = 0; i < n; i++)
    x *= m;
  CYCLEKIT_KEEP(x);
}

/* The same number of multiplies in four independent chains: as many in
 * flight as the multiplier takes. */
static void imul_four_chains(int n) {
  uint64_t a = seed, b = seed + 1, c = seed + 2, d = seed + 3, m = seed | 1;
  for (int i = 0; i < n; i += 4) {
    a *= m;
    b *= m;
    c *= m;
    d *= m;
  }
  CYCLEKIT_KEEP(a ^ b ^ c ^ d);
}

/* Floating-point additions may not be reordered, so each waits. */
static void fadd_chain(int n) {
  double x = 0, y = fseed;
  for (int i = 0; i < n; i++)
    x += y;
  CYCLEKIT_KEEP(x);
}

/* A pointer walk: each load's address is the previous load's value, over
 * one random cycle through every cache line of a buffer, so the hardware
 * cannot guess the next line.  Each walk goes on from where the last one
 * stopped, so the big one keeps finding lines it has not touched lately. */
struct walk {
  void **at;
};
static struct walk l1_walk, memory_walk;

static void walk(struct walk *w, int n) {
  void **p = w->at;
  for (int i = 0; i < n; i++)
    p = (void **)*p;
  w->at = p;
}
static void walk_l1(int n) { walk(&l1_walk, n); }
static void walk_memory(int n) { walk(&memory_walk, n); }

static uint64_t random_state = 88172645463325252u;
static uint64_t next_random(void) {
  random_state ^= random_state << 13;
  random_state ^= random_state >> 7;
  random_state ^= random_state << 17;
  return random_state;
}

/* Links the lines of a new buffer of the given size into one random cycle
 * (Sattolo's shuffle) and starts the walk at its first line. */
static void make_walk(struct walk *w, size_t bytes) {
  size_t lines = bytes / LINE;
  char *buffer = malloc(bytes);
  size_t *order = malloc(lines * sizeof *order);
  if (!buffer || !order) {
    fprintf(stderr, "suite: cannot allocate %zu bytes for a walk\n", bytes);
    exit(1);
  }
  for (size_t i = 0; i < lines; i++)
    order[i] = i;
  for (size_t i = lines - 1; i > 0; i--) {
    size_t j = next_random() % i, t = order[i];
    order[i] = order[j];
    order[j] = t;
  }
  for (size_t i = 0; i < lines; i++)
    *(void **)(buffer + order[i] * LINE) = buffer + order[(i + 1) % lines] * LINE;
  w->at = (void **)buffer;
  free(order);
}

/* Values split by a comparison into two arrays.  The stores keep the
 * compiler from turning the branch into a conditional move, so over random
 * values about every other branch is mispredicted; over sorted ones almost
 * none is.  A predictor learns a short sequence that comes back at every
 * run, so each run takes the next OPS values of a much longer one. */
#define VALUES (64 << 10)
static unsigned char random_bytes[VALUES + OPS], sorted_bytes[VALUES + OPS];
/* Not static: stores to arrays that no other file could read would go. */
unsigned char suite_low[OPS], suite_high[OPS];
static int offset;

static void split(const unsigned char *all, int n) {
  const unsigned char *v = all + offset;
  offset = (offset + n) % VALUES;
  int nlow = 0, nhigh = 0;
  for (int i = 0; i < n; i++) {
    if (v[i] < 128)
      suite_low[nlow++] = v[i];
    else
      suite_high[nhigh++] = v[i];
  }
  CYCLEKIT_KEEP(nlow);
}
static void branch_random(int n) { split(random_bytes, n); }
static void branch_sorted(int n) { split(sorted_bytes, n); }

/* Calls the compiler cannot see through: the pointer is read anew each
 * time. */
static void add_one(uint64_t *x) { *x += 1; }
static void (*volatile target)(uint64_t *) = add_one;

static void call_through_pointer(int n) {
  uint64_t x = 0;
  for (int i = 0; i < n; i++)
    target(&x);
  CYCLEKIT_KEEP(x);
}

static int compare_bytes(const void *a, const void *b) {
  return *(const unsigned char *)a - *(const unsigned char *)b;
}

int main(int argc, char **argv) {
  struct cyclekit_suite *s = cyclekit_suite_open("example", argc, argv);
  for (int i = 0; i < VALUES + OPS; i++)
    random_bytes[i] = sorted_bytes[i] = (unsigned char)next_random();
  qsort(sorted_bytes, VALUES + OPS, 1, compare_bytes);
  make_walk(&l1_walk, L1_BYTES);
  make_walk(&memory_walk, WALK_BYTES);

  cyclekit_suite_run(s, "imul chain", imul_chain, SUITE_IMULS);
  cyclekit_suite_run(s, "imul 4 chains", imul_four_chains, OPS);
  cyclekit_suite_run(s, "fadd chain", fadd_chain, OPS);
  cyclekit_suite_run(s, "walk 16 KiB", walk_l1, OPS);
  cyclekit_suite_run(s, "walk 64 MiB", walk_memory, OPS);
  cyclekit_suite_run(s, "branch random", branch_random, OPS);
  cyclekit_suite_run(s, "branch sorted", branch_sorted, OPS);
  cyclekit_suite_run(s, "call via pointer", call_through_pointer, OPS);
  return cyclekit_suite_close(s);
}
