// Google Benchmark's answers reach the report: one per repetition, from the
// function asked for, however many measurements ran before.
#include <gtest/gtest.h>

#include "bench.h"

static int calls_a, calls_b;
static void count_a(int n) { calls_a += n; }
static void count_b(int n) { calls_b += n; }

TEST(BenchPeer, GivesOneAnswerPerRepetitionOfTheFunctionAsked) {
  calls_a = calls_b = 0;
  peer_answers a = peer_measure("count_a", count_a, 1, 3, 0.001);
  ASSERT_EQ(a.ns.size(), 3u);
  for (double ns : a.ns)
    EXPECT_GT(ns, 0);
  EXPECT_GT(a.wall_seconds, 0);
  EXPECT_GT(calls_a, 0);

  // A second measurement runs the new function only, not the first again.
  int before = calls_a;
  peer_answers b = peer_measure("count_b", count_b, 2, 2, 0.001);
  EXPECT_EQ(b.ns.size(), 2u);
  EXPECT_EQ(calls_a, before);
  EXPECT_GT(calls_b, 0);
  EXPECT_EQ(calls_b % 2, 0);  // the argument reaches the function unchanged
}
