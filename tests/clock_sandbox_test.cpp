// The counter and hertzle where a sandbox forbids times() or sleeping, for
// real: a forked child installs a seccomp filter that answers EPERM or
// ENOSYS for those system calls (or EINTR for every sleep, as if signals
// never stopped), and the C library fails as it really does
// (glibc's times() returns 0 or -38, errno untouched, the structure
// unwritten).  Where no filter takes effect (a processor without one here,
// or qemu-user, which refuses seccomp) the tests say so and skip.

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <math.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "clock.h"
#include "support/child.h"

namespace {

#if defined(__x86_64__)
const unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__i386__)
const unsigned kArch = AUDIT_ARCH_I386;
#elif defined(__aarch64__)
const unsigned kArch = AUDIT_ARCH_AARCH64;
#else
const unsigned kArch = 0;  // no filter written for this processor
#endif

const std::vector<long> kTimes = {SYS_times};
const std::vector<long> kSleeps = {
    SYS_clock_nanosleep,
#ifdef SYS_nanosleep
    SYS_nanosleep,
#endif
#ifdef SYS_clock_nanosleep_time64
    SYS_clock_nanosleep_time64,
#endif
};

// Makes each of calls fail with err from now on, in this process and what
// it runs; false if the filter could not be installed or does not act.
bool forbid(const std::vector<long> &calls, int err) {
  std::vector<sock_filter> f = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
                                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
                                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  for (long nr : calls) {
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)nr, 0, 1));
    f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (unsigned)err));
  }
  f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  sock_fprog prog = {(unsigned short)f.size(), f.data()};
  if (kArch == 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &prog) != 0)
    return false;
  // Null arguments: times(NULL) succeeds, clock_nanosleep fails with EFAULT.
  return syscall(calls[0], 0, 0, 0, 0) == -1 && errno == err;
}

void nothing() {}
void hertzle() { child::exec(HERTZLE_PATH); }
void calibrate() { start_comp_counter(); }
// After a start that had times(): the plain count against the same start
// exceeds the compensated one only by the time between the two reads.
void read_compensated() {
  double comp = get_comp_counter(), plain = get_counter();
  printf(comp >= 0 && comp <= plain && plain - comp < 1e6 ? "nothing charged" : "%g", comp);
}
// The counter's rate, for the rates under the filter to be held against:
// the most of five short measurements, unfiltered, in the test's process.
// counter_mhz divides by the interval the clock saw, so load can only lower
// its answer (a preemption between the counter's read and the clock's),
// never raise it.
double free_rate;
const int kTries = 5;
bool near_free(double rate) { return rate >= 0.97 * free_rate && rate <= 1.03 * free_rate; }
void say_rate(double rate, const char *cut_short) {
  printf("%.0f%% of the free rate%s", 100 * rate / free_rate, cut_short);
}
// mhz(0, 1) under the filter: the least of up to five.  It divides by the
// second asked for, so load, which only makes the wait end late, can only
// raise its answer; a wait cut short would lower every one.
void rate() {
  double least = HUGE_VAL;
  for (int i = 0; i < kTries && !near_free(least); i++)
    least = fmin(least, mhz(0, 1));
  say_rate(least, "");
}
// A fifth of a second, waited whole each time: the most of up to five, as
// for the free rate.
void short_rate() {
  double most = 0;
  const char *cut_short = "";
  for (int i = 0; i < kTries && !near_free(most); i++) {
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    most = fmax(most, counter_mhz(0.2));
    clock_gettime(CLOCK_MONOTONIC, &t1);
    if ((double)(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) * 1e-9 < 0.2)
      cut_short = ", cut short";
  }
  say_rate(most, cut_short);
}

struct Case {
  const std::vector<long> &calls;
  void (*before)(), (*body)();  // before and under the filter
  int status;                   // 128 + SIGALRM: it hung
  const char *out, *err;        // regular expressions; REASON: strerror
};
const int kNoFilter = 77;

void run(const Case &c, int err) {
  child::Result r = child::run([&] {
    alarm(60);  // the calibration may take seconds
    c.before();
    if (!forbid(c.calls, err))
      _exit(kNoFilter);
    c.body();
  });
  if (r.status == kNoFilter)
    GTEST_SKIP() << "no seccomp filter takes effect here (another processor, or qemu-user)";
  std::string reason = strerror(err), want = c.err;
  if (want.find("REASON") != std::string::npos)
    want.replace(want.find("REASON"), 6, reason);
  EXPECT_EQ(r.status, c.status) << reason << "; stderr: " << r.err;
  EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << reason << "; stdout: " << r.out;
  EXPECT_TRUE(std::regex_match(r.err, std::regex(want))) << reason << "; stderr: " << r.err;
}

const Case kTimesForbidden[] = {
    {kTimes, nothing, calibrate, 1, "",
     "Fatal error\\.  times\\(\\) failed while calibrating cyc_per_tick: REASON\n"},
    {kTimes, calibrate, read_compensated, 0, "Setting cyc_per_tick to .*\nnothing charged", ""},
    {kTimes, nothing, hertzle, 1, "", "hertzle: times\\(\\) failed: REASON\n"},
};
const Case kSleepingForbidden[] = {
    {kSleeps, nothing, rate, 0, "(9[7-9]|10[0-3])% of the free rate", ""},
    {kSleeps, nothing, short_rate, 0, "(9[7-9]|10[0-3])% of the free rate", ""},
    {kSleeps, nothing, hertzle, 0, "(9[5-9]|1[0-4][0-9]) ticks/second\n", ""},
};

TEST(Sandboxed, TimesForbidden) {
  for (int err : {EPERM, ENOSYS})
    for (const Case &c : kTimesForbidden)
      run(c, err);
}

TEST(Sandboxed, SleepingForbidden) {
  for (int i = 0; i < kTries; i++)
    free_rate = fmax(free_rate, counter_mhz(0.2));
  for (int err : {EPERM, ENOSYS, EINTR})  // EINTR: a sleep cut short every time
    for (const Case &c : kSleepingForbidden)
      run(c, err);
}

}  // namespace
