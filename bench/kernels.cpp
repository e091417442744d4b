#include "kernels.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static volatile uint64_t sink;

uint64_t add_chain(uint64_t x, int blocks) {
  // Assembly, so the compiler can neither fold the chain nor widen it.  The
  // addend sits in a register: recent cores retire chains of small-immediate
  // ADDs faster than one per cycle, which would not be the ADD latency.
  uint64_t one = 1;
  for (int b = 0; b < blocks; b++)
    __asm__(".rept 100\n\taddq %1, %0\n\t.endr" : "+r"(x) : "r"(one));
  return x;
}

uint64_t imul_chain(uint64_t x, uint64_t k, int blocks) {
  for (int b = 0; b < blocks; b++)
    __asm__(".rept 100\n\timulq %1, %0\n\t.endr" : "+r"(x) : "r"(k));
  return x;
}

uint64_t imul_tens(uint64_t x, uint64_t k, int tens) {
  for (int b = 0; b < tens; b++)
    __asm__(".rept 10\n\timulq %1, %0\n\t.endr" : "+r"(x) : "r"(k));
  return x;
}

uint64_t mul_chain(uint64_t x, int n) {
  for (int i = 0; i < n; i++) {
    x *= MUL_CHAIN_FACTOR;
    // Hides x's history, so the loop stays n dependent multiplies.
    __asm__("" : "+r"(x));
  }
  return x;
}

uint32_t *make_ring(uint32_t slots, uint32_t seed) {
  uint32_t *order = (uint32_t *)malloc(slots * sizeof(uint32_t));
  uint32_t *ring = (uint32_t *)calloc((size_t)slots * RING_STRIDE, sizeof(uint32_t));
  for (uint32_t i = 0; i < slots; i++)
    order[i] = i;
  // Sattolo's shuffle: a uniformly random permutation with one cycle only.
  // A plain shuffle leaves short cycles that a cache could hold whole.
  uint64_t state = seed | 1;
  for (uint32_t i = slots - 1; i > 0; i--) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    uint32_t j = (uint32_t)((state >> 33) % i);
    uint32_t t = order[i];
    order[i] = order[j];
    order[j] = t;
  }
  for (uint32_t i = 0; i < slots; i++)
    ring[(size_t)order[i] * RING_STRIDE] = order[(i + 1) % slots];
  free(order);
  return ring;
}

uint32_t follow_ring(const uint32_t *ring, uint32_t pos, int hops) {
  for (int i = 0; i < hops; i++)
    pos = ring[(size_t)pos * RING_STRIDE];
  return pos;
}

// Four sums, so the adds do not limit the reads on the fastest caches.
static uint64_t sum_words_plain(const uint64_t *p, size_t n) {
  uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += p[i];
    s1 += p[i + 1];
    s2 += p[i + 2];
    s3 += p[i + 3];
  }
  for (; i < n; i++)
    s0 += p[i];
  return s0 + s1 + s2 + s3;
}

// 32-byte reads, two per cycle: only reads this wide outrun L2, so only they
// show where L1 ends.  Built for AVX2 alone and chosen at run time.
typedef uint64_t words4 __attribute__((vector_size(32)));

__attribute__((target("avx2"))) static uint64_t sum_words_avx2(const uint64_t *p, size_t n) {
  words4 s0 = {0, 0, 0, 0}, s1 = s0, s2 = s0, s3 = s0;
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    words4 a, b, c, d;
    memcpy(&a, p + i, sizeof a);
    memcpy(&b, p + i + 4, sizeof b);
    memcpy(&c, p + i + 8, sizeof c);
    memcpy(&d, p + i + 12, sizeof d);
    s0 += a;
    s1 += b;
    s2 += c;
    s3 += d;
  }
  words4 s = s0 + s1 + s2 + s3;
  uint64_t sum = s[0] + s[1] + s[2] + s[3];
  return sum + sum_words_plain(p + i, n - i);
}

uint64_t sum_words(const uint64_t *p, size_t n) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 ? sum_words_avx2(p, n) : sum_words_plain(p, n);
}

static uint32_t *ring;
static uint32_t ring_pos;
static uint32_t *lap;
static uint32_t *small_ring;
static uint64_t *array;
static size_t array_words;

void setup_kernels(size_t ring_bytes, size_t array_bytes) {
  free(ring);
  free(lap);
  free(small_ring);
  free(array);
  small_ring = make_ring((uint32_t)(SMALL_RING_BYTES / (RING_STRIDE * sizeof(uint32_t))), 777);
  lap = make_ring((uint32_t)(LAP_BYTES / (RING_STRIDE * sizeof(uint32_t))), 54321);
  ring = make_ring((uint32_t)(ring_bytes / (RING_STRIDE * sizeof(uint32_t))), 12345);
  ring_pos = 0;
  array_words = array_bytes / sizeof(uint64_t);
  array = (uint64_t *)malloc(array_words * sizeof(uint64_t));
  memset(array, 0x01, array_words * sizeof(uint64_t));
}

void run_add_chain(int blocks) { sink = add_chain(1, blocks); }
void run_imul_chain(int blocks) { sink = imul_chain(1, 3, blocks); }
void run_mul_chain(int n) { sink = mul_chain(1, n); }
void run_ring(int hops) { sink = ring_pos = follow_ring(ring, ring_pos, hops); }
void run_ring_lap(int hops) { sink = follow_ring(lap, 0, hops); }
void run_ring_small(int hops) { sink = follow_ring(small_ring, 0, hops); }
void run_imul_tens(int tens) { sink = imul_tens(1, 3, tens); }
void run_read(int bytes) {
  size_t n = (size_t)bytes / sizeof(uint64_t);
  sink = sum_words(array, n < array_words ? n : array_words);
}
void run_nothing(int) {}
uint64_t last_result(void) { return sink; }

// noipa keeps the compiler from folding one copy into the other (identical
// code folding) and from inlining either; the bodies are the same source,
// so the same code, and only their addresses differ.  The result stays in
// a register: a store to a variable would be addressed relative to each
// copy, and the bytes would differ.
#define IMUL_COPY(name)                               \
  __attribute__((noinline, noipa)) void name(int n) { \
    uint64_t x = 0x12345, k = MUL_CHAIN_FACTOR;       \
    for (int i = 0; i < n; i++)                       \
      __asm__("imul %1, %0" : "+r"(x) : "r"(k));      \
    __asm__ volatile("" : : "r"(x));                  \
  }
IMUL_COPY(imul_copy_a)
IMUL_COPY(imul_copy_b)

void run_add_loop(int n) {
  uint64_t x = 0, one = 1;
  for (int i = 0; i < n; i++)
    __asm__("addq %1, %0" : "+r"(x) : "r"(one));
  sink = x;
}

int start_hog(void) {
  pid_t pid = fork();
  if (pid == 0) {
    volatile unsigned long spin = 0;
    for (;;)
      spin = spin + 1;
  }
  return (int)pid;
}

void stop_hog(int pid) {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
  }
}
