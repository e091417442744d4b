// The cache flush: before a run, read through a buffer larger than the
// caches, outside the timed interval; and the size that evicts them.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

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

extern "C" int bestof_flush_bytes(void) {
  int llc = bestof_llc_bytes();
  if (llc <= 0)
    return BESTOF_FLUSH_FALLBACK_BYTES;
  // Doubled after the comparison, so a cache above 1 GiB cannot overflow.
  return llc > INT_MAX / 2 ? INT_MAX : 2 * llc;
}

}  // namespace bestof_internal
