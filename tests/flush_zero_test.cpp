// A flush buffer too small to hold one word, on a C library whose malloc(0)
// answers null (as POSIX allows): the flush has nothing to read, so the
// measurement must run as usual and never report a failed allocation.
// Every malloc of this program goes through the wrapper below
// (-Wl,--wrap=malloc); it answers a request for zero bytes with null, and
// for one word on demand.

#include <gtest/gtest.h>
#include <stddef.h>

#include "bestof.h"

extern "C" void *__real_malloc(size_t size);
namespace {
int zero_requests = 0;
bool refuse_words = false;  // answer 4 bytes with null as well
}  // namespace
extern "C" void *__wrap_malloc(size_t size) {
  if (size == 4 && refuse_words)
    return nullptr;
  if (size == 0) {
    zero_requests++;
    return nullptr;
  }
  return __real_malloc(size);
}

namespace {

int runs = 0;
void count_run(int) { runs++; }

TEST(FlushBelowOneWord, ANullAnswerIsNoFailure) {
  set_bestof_clear_cache(1);
  set_bestof_maxsamples(4);
  set_bestof_k(100);  // never converges: exactly maxsamples runs, four flushes
  for (int bytes : {0, 3, 1, 0}) {
    set_bestof_cache_sizee(bytes);
    runs = 0;
    double count = bestof(count_run, 0);
    EXPECT_EQ(runs, 4) << bytes << " bytes";
    EXPECT_GE(count, 0) << bytes << " bytes";
  }
  EXPECT_GE(zero_requests, 2) << "the sizes of 0 bytes met a null answer";
  set_bestof_k(3);
}

TEST(FlushBelowOneWordDeathTest, FromOneWordOnANullAnswerIsStillFatal) {
  set_bestof_clear_cache(1);
  set_bestof_cache_sizee(4);
  refuse_words = true;
  EXPECT_EXIT(bestof(count_run, 0), testing::ExitedWithCode(1),
              "^Fatal error.  Malloc returned null when trying to clear cache\n$");
  refuse_words = false;
}

}  // namespace
