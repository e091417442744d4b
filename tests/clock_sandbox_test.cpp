// The counter and hertzle where a sandbox forbids times() or sleeping, for
// real: a forked child installs a seccomp filter that answers EPERM or
// ENOSYS for those system calls, as sandboxes do, and the C library fails
// as it really does (glibc's times() returns 0 or -38, errno untouched, the
// structure unwritten).  Where no filter can be installed (another
// processor, or qemu-user, which refuses seccomp) the tests say so and skip.

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "clock.h"

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

struct Outcome {
  int status;  // exit status; 128 + signal if killed (SIGALRM: it hung)
  std::string out, err;
};
const int kNoFilter = 77;

std::string drain(int fd) {
  std::string s;
  char buf[256];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    s.append(buf, n > 0 ? (size_t)n : 0);
  close(fd);
  return s;
}

// Runs before(), then body() under a filter forbidding calls, in a child
// that an alarm ends if it hangs.
Outcome sandboxed(const std::vector<long> &calls, int err, const std::function<void()> &before,
                  const std::function<void()> &body) {
  int out[2], errs[2];
  EXPECT_EQ(pipe(out) | pipe(errs), 0);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(errs[1], 2);
    close(out[0]), close(out[1]), close(errs[0]), close(errs[1]);
    alarm(60);  // the calibration may take seconds
    before();
    if (!forbid(calls, err))
      _exit(kNoFilter);
    body();
    fflush(stdout);
    _exit(0);
  }
  close(out[1]), close(errs[1]);
  Outcome r{-1, drain(out[0]), drain(errs[0])};
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

void run_hertzle() {
  execl(HERTZLE_PATH, HERTZLE_PATH, (char *)nullptr);
  _exit(126);
}

struct Case {
  const char *what;
  std::function<void()> before, body;
  // Checks the child's outcome; reason is strerror of the errno forbidden.
  std::function<void(const Outcome &, const std::string &reason)> check;
};

void run_cases(const std::vector<long> &calls, const std::vector<Case> &cases) {
  for (int err : {EPERM, ENOSYS}) {
    for (const Case &c : cases) {
      Outcome r = sandboxed(calls, err, c.before, c.body);
      if (r.status == kNoFilter)
        GTEST_SKIP() << "no seccomp filter takes effect here (another processor, or qemu-user)";
      SCOPED_TRACE(std::string(c.what) + ", " + strerror(err) + ": stderr " + r.err);
      c.check(r, strerror(err));
    }
  }
}

TEST(Sandboxed, TimesForbidden) {
  auto nothing = [] {};
  run_cases(kTimes,
            {{"the calibration ends with its message", nothing, [] { start_comp_counter(); },
              [](const Outcome &r, const std::string &reason) {
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err, "Fatal error.  times() failed while calibrating cyc_per_tick: " +
                                     reason + "\n");
              }},
             {"a read after a start that had times() charges nothing", start_comp_counter,
              [] {
                double comp = get_comp_counter(), plain = get_counter();
                printf("\n%.17g %.17g", comp, plain);
              },
              [](const Outcome &r, const std::string &) {
                double comp = 0, plain = -1;
                ASSERT_EQ(sscanf(r.out.c_str() + r.out.rfind('\n'), "%lf %lf", &comp, &plain), 2)
                    << r.out;
                EXPECT_GE(comp, 0.0);
                EXPECT_LE(comp, plain);
                EXPECT_LT(plain - comp, 1e6) << "charged for ticks times() never gave";
              }},
             {"hertzle exits 1 with its message and prints nothing", nothing, run_hertzle,
              [](const Outcome &r, const std::string &reason) {
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.out, "");
                EXPECT_EQ(r.err, "hertzle: times() failed: " + reason + "\n");
              }}});
}

TEST(Sandboxed, SleepingForbidden) {
  double free_rate = mhz(0, 1);
  run_cases(kSleeps, {{"mhz waits out its second on the monotonic clock", [] {},
                       [] { printf("%.17g", mhz(0, 1)); },
                       [free_rate](const Outcome &r, const std::string &) {
                         EXPECT_EQ(r.status, 0);
                         EXPECT_NEAR(atof(r.out.c_str()), free_rate, free_rate * 0.03)
                             << "against " << free_rate << " MHz unfiltered";
                       }},
                      {"hertzle counts a whole second", [] {}, run_hertzle,
                       [](const Outcome &r, const std::string &) {
                         EXPECT_EQ(r.status, 0);
                         int ticks = 0;
                         EXPECT_EQ(sscanf(r.out.c_str(), "%d ticks/second", &ticks), 1) << r.out;
                         EXPECT_GE(ticks, 95) << r.out;
                         EXPECT_LT(ticks, 150) << r.out;
                       }}});
}

}  // namespace
