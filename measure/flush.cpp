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

void clear(uint32_t bytes, uint32_t block) {
  uint32_t sum = buffer.sink;
  uint32_t stride = block / 4;
  size_t nwords = bytes / 4;
  if (buffer.words == NULL) {
    buffer.words = static_cast<uint32_t *>(malloc(bytes));
    if (buffer.words == NULL) {
      // Below one word nothing is read, so no buffer is needed: a C library
      // may answer malloc(0) with null, and that is no failure.
      if (nwords == 0)
        return;
      fatal("Fatal error.  Malloc returned null when trying to clear cache\n");
    }
    // A fresh allocation maps every page to the shared zero page until it is
    // written; reading that would evict almost nothing.  Write a non-zero
    // pattern (a zero fill may be turned into calloc) so every page is real.
    memset(buffer.words, 0x01, bytes);
    buffer.bytes = bytes;
  }
  // Volatile: each read must reach memory even though the words never change.
  const volatile uint32_t *words = buffer.words;
  for (size_t i = 0; i < nwords; i += stride)
    sum += words[i];
  buffer.sink = sum;
}

void drop_stale_buffer(uint32_t wanted_bytes) {
  if (buffer.words != NULL && buffer.bytes != wanted_bytes) {
    free(buffer.words);
    buffer.words = NULL;
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
