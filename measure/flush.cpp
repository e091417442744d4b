// The cache flush: before a run, read through a buffer larger than the
// caches, outside the timed interval; and the size that evicts them.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"
#include "machine.h"
#include "stats.h"

namespace bestof_internal {

// The buffer, allocated and written by the first flush and kept until the
// size wanted changes, and the running sum of every word the flushes read,
// which keeps the reads live.
static struct {
  uint32_t *words;
  uint32_t bytes;  // the size words was allocated at
  uint32_t sink;
} buffer = {NULL, 0, 0};

// A child forked while another thread flushes keeps the buffer as it finds
// it (see forked_child in settings.cpp): so the pointer is stored last,
// once the buffer is written and its size noted, and taken away first.
static void publish(uint32_t *words) { __atomic_store_n(&buffer.words, words, __ATOMIC_RELEASE); }

void clear(uint32_t bytes, uint32_t block) {
  uint32_t sum = buffer.sink;
  uint32_t stride = block / 4;
  size_t nwords = bytes / 4;
  if (buffer.words == NULL) {
    uint32_t *fresh = static_cast<uint32_t *>(malloc(bytes));
    if (fresh == NULL) {
      // Below one word nothing is read, so no buffer is needed: a C library
      // may answer malloc(0) with null, and that is no failure.
      if (nwords == 0)
        return;
      fatal("Fatal error.  Malloc returned null when trying to clear cache\n");
    }
    // A fresh allocation maps every page to the shared zero page until it is
    // written; reading that would evict almost nothing.  Write a non-zero
    // pattern (a zero fill may be turned into calloc) so every page is real.
    memset(fresh, 0x01, bytes);
    buffer.bytes = bytes;
    publish(fresh);
  }
  // Volatile: each read must reach memory even though the words never change.
  const volatile uint32_t *words = buffer.words;
  for (size_t i = 0; i < nwords; i += stride)
    sum += words[i];
  buffer.sink = sum;
}

void drop_stale_buffer(uint32_t wanted_bytes) {
  if (buffer.words != NULL && buffer.bytes != wanted_bytes) {
    uint32_t *stale = buffer.words;
    publish(NULL);
    free(stale);
  }
}

// ---- The default flush's size -------------------------------------------------

// A last-level cache whose size only the C library gives (on x86 from CPUID
// alone: no sysfs listing, as under hypervisors that hide the cache's
// topology, AMD guests in particular) is taken at its word up to
// plausible_llc: 32 MiB, the cache of one AMD core complex, which is all
// that one core can fill there.  Such guests have been seen to report the
// whole package's caches (508 MiB), and a flush of twice that takes 0.67 s a
// run.  Above it, the flush is measured: the least of 64, 128 and 192 MiB
// (twice the 96 MiB of the largest one-core cache made, a stacked one) that
// leaves a walk as slow as evicting its lines one by one does.  A figure
// from sysfs is the kernel's own and is kept whatever its size: a 2-vCPU
// guest of a large Intel part lists its host's 480 MiB, and a walk over
// 4 MiB there is only as slow as memory after a flush of 512 MiB.
static const long long plausible_llc = 32LL << 20;
static const long long measured_step = 64LL << 20;
static const long long measured_most = 192LL << 20;
// A flush that leaves the walk within this share of its cost with every line
// evicted has evicted it: the rest is noise and the odd line another flush
// would not move either.
static const double evicted_share = 0.85;

long long evicting_flush(const struct eviction_probe *p, long long most) {
  for (long long bytes = measured_step; bytes <= most; bytes += measured_step) {
    double share = p->evicted_share(p->state, (uint32_t)bytes);
    if (share < 0)
      return 0;
    if (share >= evicted_share)
      return bytes;
  }
  return -1;
}

int flush_size_rule(int llc, const char *source, const struct eviction_probe *p, const char **why) {
  if (llc <= 0) {
    *why = "fallback";
    return BESTOF_FLUSH_FALLBACK_BYTES;
  }
  // Doubled after the comparison, so that no figure can overflow.
  int twice = llc > INT_MAX / 2 ? INT_MAX : 2 * llc;
  int unconfirmed = source != NULL && strcmp(source, "sysconf") == 0;
  // A figure of no known source (bestof_llc_bytes replaced) is taken as
  // the kernel's.
  if (!unconfirmed || llc <= plausible_llc) {
    *why = unconfirmed ? "sysconf" : "sysfs";
    return twice;
  }
  long long most = twice < measured_most ? twice : measured_most;
  long long found = evicting_flush(p, most);
  if (found > 0) {
    *why = "measured";
    return (int)found;
  }
  // No size up to the largest one-core cache evicted: trust the figure as
  // far as that cache, no further.  Nothing measured: the fixed size.
  *why = found < 0 ? "sysconf" : "fallback";
  return found < 0 ? (int)most : BESTOF_FLUSH_FALLBACK_BYTES;
}

// ---- Measuring it: a walk over 4 MiB, timed after each kind of eviction -----

// The walk visits every line of the probe once in an order that no
// prefetcher follows (a full-period congruential sequence) and each load
// waits for the one before, through the value it loads: its cost per line
// is the latency of wherever the line was.
static const size_t probe_lines = (4 << 20) / 64;
static const uint64_t probe_pattern = 0x0101010101010101ULL;

struct probe_state {
  uint64_t *probe;  // probe_lines lines of 8 words
  uint32_t *flush;  // the flush's buffer, written up to touched bytes
  size_t touched;
  uint32_t sink;
};

static double walk(struct probe_state *s) {
  const volatile uint64_t *words = s->probe;
  size_t i = 0;
  start_counter();
  for (size_t n = 0; n < probe_lines; n++)
    i = (i * 5 + 1 + (size_t)(words[i * 8] - probe_pattern)) & (probe_lines - 1);
  double ticks = get_counter();
  s->sink += (uint32_t)i;
  return ticks / probe_lines;
}

// ---- Platform: evicting one line (x86 only) ----
#if defined(__x86_64__) || defined(__i386__)
static const int can_evict_lines = 1;
static void evict_probe(struct probe_state *s) {
  for (size_t i = 0; i < probe_lines; i++)
    __asm__ volatile("clflush %0" : "+m"(s->probe[i * 8]));
  __asm__ volatile("mfence" ::: "memory");
}
#else
static const int can_evict_lines = 0;
static void evict_probe(struct probe_state *) {}
#endif
// ---- end of platform code ----

// One walk after the lines were evicted one by one and one after a flush of
// bytes, try after try, each try from a warm probe.  Other guests, other
// processes and the host move memory's latency by half or more from one
// moment to the next, so the two walks of a try, tens of milliseconds
// apart, are compared with each other, and the median of the tries' ratios
// is the answer.
static const int probe_tries = 5;

static double probe_share(void *state, uint32_t bytes) {
  struct probe_state *s = static_cast<struct probe_state *>(state);
  if (!can_evict_lines || s->probe == NULL || s->flush == NULL)
    return -1;
  if (bytes > s->touched) {
    memset(reinterpret_cast<char *>(s->flush) + s->touched, 0x01, bytes - s->touched);
    s->touched = bytes;
  }
  double ratios[probe_tries];
  for (int t = 0; t < probe_tries; t++) {
    walk(s);
    evict_probe(s);
    double evicted = walk(s);
    walk(s);
    const volatile uint32_t *words = s->flush;
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes / 4; i += 8)
      sum += words[i];
    s->sink += sum;
    double flushed = walk(s);
    ratios[t] = evicted > 0 ? flushed / evicted : 0;
  }
  return cyclekit_median(ratios, probe_tries);
}

// The rule's last answer: the figure and source it was for, the flush size
// and where that came from.  Written under the lock (see decide); why is
// also read without it, by bestof_flush_source, so it is stored atomically.
static struct {
  int llc;  // the figure the answer is for; 0: none yet
  const char *source;
  int bytes;
  const char *why;
} answer = {0, NULL, 0, NULL};

// The rule on this machine's figure, its buffers allocated only when the
// figure needs measuring.  Under the lock, so that it neither meets another
// thread's measurement nor runs twice at once.

static double decide(void) {
  int llc = bestof_llc_bytes();
  const char *source = machine_llc_source();
  if (llc > 0 && llc == answer.llc && source == answer.source)
    return answer.bytes;
  struct probe_state s = {NULL, NULL, 0, 0};
  struct eviction_probe p = {probe_share, &s};
  if (source != NULL && strcmp(source, "sysconf") == 0 && llc > plausible_llc) {
    s.probe = static_cast<uint64_t *>(malloc(probe_lines * 64));
    s.flush = static_cast<uint32_t *>(malloc((size_t)measured_most));
    if (s.probe != NULL)
      memset(s.probe, 0x01, probe_lines * 64);
  }
  const char *why;
  int bytes = flush_size_rule(llc, source, &p, &why);
  __atomic_store_n(&answer.why, why, __ATOMIC_RELEASE);
  free(s.probe);
  free(s.flush);
  answer.llc = llc;
  answer.source = source;
  answer.bytes = bytes;
  return bytes;
}

extern "C" int bestof_flush_bytes(void) { return (int)under_lock(decide); }

extern "C" const char *bestof_flush_source(void) {
  return __atomic_load_n(&answer.why, __ATOMIC_ACQUIRE);
}

}  // namespace bestof_internal
