// The flush size that evicts the last-level cache.  A file of its own: it
// asks bestof_llc_bytes by name, like any caller.

#include <limits.h>

#include "bestof.h"

extern "C" int bestof_flush_bytes(void) {
  int llc = bestof_llc_bytes();
  if (llc <= 0)
    return BESTOF_FLUSH_FALLBACK_BYTES;
  // Doubled after the comparison, so a cache above 1 GiB cannot overflow.
  return llc > INT_MAX / 2 ? INT_MAX : 2 * llc;
}
