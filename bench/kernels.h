// The functions the benchmark report measures.
//
// The chains are the pure computations, testable for their results; the
// run_ forms take bestof's int argument and leave their result in a volatile
// sink, so the compiler cannot drop the work.  x86-64 only: the latency
// chains are inline assembly.
#ifndef CYCLEKIT_BENCH_KERNELS_H
#define CYCLEKIT_BENCH_KERNELS_H

#include <stddef.h>
#include <stdint.h>

#if !defined(__x86_64__)
#error "the benchmark kernels are x86-64 assembly"
#endif

// Instructions in one block of the assembly chains.
const int CHAIN_BLOCK = 100;

// x plus blocks * CHAIN_BLOCK, one dependent ADD at a time.
uint64_t add_chain(uint64_t x, int blocks);
// x times k to the power blocks * CHAIN_BLOCK (mod 2^64), one dependent
// 64-bit IMUL at a time.
uint64_t imul_chain(uint64_t x, uint64_t k, int blocks);
// The same in blocks of 10, for chains of a few dozen IMULs.
uint64_t imul_tens(uint64_t x, uint64_t k, int tens);
// x times MUL_CHAIN_FACTOR n times, a compiled loop of dependent multiplies.
const uint64_t MUL_CHAIN_FACTOR = 0x9E3779B97F4A7C15ull;
uint64_t mul_chain(uint64_t x, int n);

// A ring of `slots` indices, one per 64-byte line, forming a single cycle in
// random order, so that following it touches every line before repeating.
// Returns the ring; the caller frees it.
uint32_t *make_ring(uint32_t slots, uint32_t seed);
// Follows the ring `hops` times from `pos`; returns where it stopped.
uint32_t follow_ring(const uint32_t *ring, uint32_t pos, int hops);
// Words of one ring slot: one index per cache line.
const uint32_t RING_STRIDE = 16;

// Sum of the first n words.
uint64_t sum_words(const uint64_t *p, size_t n);

// The memory the run_ forms use: a ring of ring_bytes, a ring of LAP_BYTES
// and an array of array_bytes (written, so every page is real).  Call once before them.
void setup_kernels(size_t ring_bytes, size_t array_bytes);
void run_add_chain(int blocks);
void run_imul_chain(int blocks);
void run_imul_tens(int tens);
void run_mul_chain(int n);
// Continues along the ring where the last call stopped: every call reaches
// lines the previous calls left behind.
void run_ring(int hops);
// Follows a ring of LAP_BYTES from its first slot: the same loads at every
// call, each waiting for the one before.
void run_ring_lap(int hops);
const size_t LAP_BYTES = 128 * 1024;
// The same along a ring of SMALL_RING_BYTES, which L1d holds.
void run_ring_small(int hops);
const size_t SMALL_RING_BYTES = 16 * 1024;
// Reads the first `bytes` bytes of the array.
void run_read(int bytes);
// Does nothing; what is left is the driver's and the flush's own cost.
void run_nothing(int);
// Two copies of one function, n dependent IMULs in a compiled loop: two
// distinct functions whose machine code is the same byte for byte (kept
// apart, not merged by the compiler), for comparisons of code that does not
// differ.
void imul_copy_a(int n);
void imul_copy_b(int n);
// A loop of n iterations of one register ADD, for a fit over a few sizes.
void run_add_loop(int n);
// What the last run_ form computed: its chain's or sum's result, or the
// ring slot where it stopped.
uint64_t last_result(void);

// A child that spins on the processors this process may run on, until
// stop_hog.  Returns its pid, or -1 if none could be started.
int start_hog(void);
void stop_hog(int pid);

#endif
