// cyclekit::bestof with what is callable but no object: a plain function and
// a reference to one must compile and run that very function.

#include <gtest/gtest.h>

#include "bestof.hpp"

namespace {

int plain_runs = 0;
void plain() { plain_runs++; }

int other_runs = 0;
void other() { other_runs++; }

TEST(AdapterFunction, PlainFunctionAndReferenceRunThatFunction) {
  set_bestof_maxsamples(5);
  set_bestof_k(100);  // never converges: exactly five runs

  EXPECT_GE(cyclekit::bestof(plain), 0);
  EXPECT_EQ(plain_runs, 5);

  void (&ref)() = other;
  EXPECT_GE(cyclekit::bestof(ref), 0);
  EXPECT_EQ(other_runs, 5);
  EXPECT_EQ(plain_runs, 5);

  // The pointer forms went through before and still do.
  void (*pointer)() = plain;
  cyclekit::bestof(pointer);
  cyclekit::bestof(&other);
  EXPECT_EQ(plain_runs, 10);
  EXPECT_EQ(other_runs, 10);
  set_bestof_k(3);
  set_bestof_maxsamples(20);
}

}  // namespace
