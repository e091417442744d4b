// What the kernel says about this machine: its caches, clocksource,
// frequency governor and turbo state, read from small files under /sys, its
// command line from /proc, and the CPUs the process may run on.

#include "machine.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// Prefixed to every absolute path read; empty for the real root.
static char root[256] = "";

extern "C" void set_machine_root(const char *dir) {
  if (dir == NULL)
    dir = "";
  size_t n = strlen(dir);
  if (n >= sizeof root)
    return;
  memcpy(root, dir, n + 1);
}

// Up to size - 1 bytes of fd's start, up to and with the first newline;
// the number read, or -1.
static int read_start(int fd, char *text, int size) {
  int n = 0;
  while (n < size - 1) {
    ssize_t r = read(fd, text + n, (size_t)(size - 1 - n));
    if (r < 0 && errno == EINTR)
      continue;
    if (r < 0)
      return -1;
    if (r == 0 || memchr(text + n, '\n', (size_t)r) != NULL)
      return n + (int)r;
    n += (int)r;
  }
  return n;
}

// root + path opened for reading if it is a regular file, else -1.  A FIFO
// or a device where a file belongs would block the open or the read for
// ever: the open does not wait (O_NONBLOCK), and the type is checked on what
// was opened, so nothing can be swapped in between.
static int open_regular(const char *path) {
  char full[sizeof root + 128];
  snprintf(full, sizeof full, "%s%s", root, path);
  int fd = open(full, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return -1;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    return fd;
  close(fd);
  return -1;
}

// The first line of root + path, without its newline; 0 if unreadable,
// empty or not a regular file.
static int first_line(const char *path, char *line, int size) {
  if (size < 2)
    return 0;
  int fd = open_regular(path);
  if (fd < 0)
    return 0;
  int n = read_start(fd, line, size);
  close(fd);
  if (n <= 0)
    return 0;
  line[n] = '\0';
  line[strcspn(line, "\n")] = '\0';
  return line[0] != '\0';
}

// The value of a "key : value" line of /proc/cpuinfo, or null.
static const char *cpuinfo_value(const char *line, const char *key) {
  size_t n = strlen(key);
  if (strncmp(line, key, n) != 0)
    return NULL;
  const char *p = line + n + strspn(line + n, " \t");
  return *p == ':' ? p + 1 + strspn(p + 1, " \t") : NULL;
}

extern "C" int machine_cpu_model(char *name, int size) {
  // x86 says "model name", MIPS and SPARC "cpu model", POWER "cpu".
  static const char *const keys[] = {"model name", "cpu model", "cpu"};
  int fd = open_regular("/proc/cpuinfo");
  FILE *f = fd < 0 ? NULL : fdopen(fd, "r");
  if (f == NULL) {
    if (fd >= 0)
      close(fd);
    return 0;
  }
  char line[512];
  int rank = 3;  // the best key found so far; 3: none
  while (size > 1 && fgets(line, sizeof line, f)) {
    for (int k = 0; k < rank; k++) {
      const char *v = cpuinfo_value(line, keys[k]);
      if (v) {
        snprintf(name, (size_t)size, "%.*s", (int)strcspn(v, "\n"), v);
        rank = k;
        break;
      }
    }
  }
  fclose(f);
  return rank < 3;
}

extern "C" int machine_clocksource(char *name, int size) {
  return first_line("/sys/devices/system/clocksource/clocksource0/current_clocksource", name, size);
}

extern "C" int machine_governor(char *name, int size) {
  return first_line("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", name, size);
}

extern "C" int machine_turbo(void) {
  char line[32];
  if (first_line("/sys/devices/system/cpu/intel_pstate/no_turbo", line, sizeof line))
    return line[0] == '0';
  if (first_line("/sys/devices/system/cpu/cpufreq/boost", line, sizeof line))
    return line[0] == '1';
  return -1;
}

// A word of the kernel command line that chooses the clocksource.
static int chooses_clocksource(const char *word, size_t n) {
  static const char CLOCKSOURCE[] = "clocksource=";
  if (n > sizeof CLOCKSOURCE - 1 && strncmp(word, CLOCKSOURCE, sizeof CLOCKSOURCE - 1) == 0)
    return 1;
  return (n == 12 && strncmp(word, "tsc=unstable", n) == 0) ||
         (n == 12 && strncmp(word, "tsc=reliable", n) == 0);
}

extern "C" int machine_cmdline_clocksource(char *words, int size) {
  char line[4096];
  if (size < 1 || !first_line("/proc/cmdline", line, sizeof line))
    return 0;
  int used = 0;
  words[0] = '\0';
  for (const char *p = line; *p != '\0';) {
    size_t n = strcspn(p, " \t");
    if (n > 0 && chooses_clocksource(p, n) && used + (int)n + 1 < size) {
      used += snprintf(words + used, (size_t)(size - used), "%s%.*s", used ? " " : "", (int)n, p);
    }
    p += n;
    p += strspn(p, " \t");
  }
  return used > 0;
}

extern "C" int machine_cpus_allowed(void) {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
}

// ---- The last-level cache's size ---------------------------------------------

// The bytes of a sysfs size (digits, then K, M or G or nothing), at most
// INT_MAX however many digits it has; 0 if it starts with no digit.
static long long size_bytes(const char *text) {
  long long n = 0;
  const char *p = text;
  for (; *p >= '0' && *p <= '9'; p++)
    if (n <= INT_MAX)  // one step past INT_MAX is enough to clamp below
      n = n * 10 + (*p - '0');
  if (p == text)
    return 0;
  int shift = *p == 'K' ? 10 : *p == 'M' ? 20 : *p == 'G' ? 30 : 0;
  if (n > (long long)(INT_MAX >> shift))
    return INT_MAX;
  return n << shift;
}

// The CPUs of a list such as "0-3,8,10-11": how many it names, 0 for none
// or for text that is not such a list.
static int cpus_in_list(const char *text) {
  long count = 0;
  const char *p = text;
  while (*p >= '0' && *p <= '9') {
    char *end;
    long lo = strtol(p, &end, 10), hi = lo;
    if (*end == '-')
      hi = strtol(end + 1, &end, 10);
    if (hi < lo || count > INT_MAX - (hi - lo + 1))
      return 0;
    count += hi - lo + 1;
    p = *end == ',' ? end + 1 : end;
  }
  return *p == '\0' ? (int)count : 0;
}

extern "C" int machine_caches(struct machine_cache *out, int room) {
  int listed = 0;
  for (int i = 0;; i++) {
    char path[112], type[32], level[16], size[32], shared[256];
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/type", i);
    if (!first_line(path, type, sizeof type))
      break;
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/level", i);
    if (!first_line(path, level, sizeof level))
      continue;
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/size", i);
    if (!first_line(path, size, sizeof size) || size_bytes(size) <= 0)
      continue;
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/shared_cpu_list", i);
    if (listed < room && out != NULL) {
      struct machine_cache *c = &out[listed];
      snprintf(c->type, sizeof c->type, "%.15s", type);
      c->level = (int)strtol(level, NULL, 10);
      c->size = size_bytes(size);
      c->num_sharing = first_line(path, shared, sizeof shared) ? cpus_in_list(shared) : 0;
    }
    listed++;
  }
  return listed;
}

// The kernel's view: cpu0's data or unified cache of the highest level, the
// largest if two share it.  0 if none is listed.
static long long sysfs_llc_bytes(void) {
  struct machine_cache listed[32];
  int n = machine_caches(listed, 32);
  long long best = 0;
  int best_level = 0;
  for (int i = 0; i < n && i < 32; i++) {
    const struct machine_cache *c = &listed[i];
    if (strcmp(c->type, "Data") != 0 && strcmp(c->type, "Unified") != 0)
      continue;
    if (c->level > best_level || (c->level == best_level && c->size > best)) {
      best_level = c->level;
      best = c->size;
    }
  }
  return best;
}

// Where the figure that bestof_llc_bytes gave last came from: 0 none yet or
// none found, 1 sysfs, 2 sysconf.
static int llc_source = 0;

extern "C" int bestof_llc_bytes(void) {
  // sysfs first: on some virtual machines sysconf reports the whole
  // package's cache (every core complex's together), eight times what one
  // core can fill.
  long long bytes = sysfs_llc_bytes();
  int source = bytes > 0 ? 1 : 0;
#if defined(_SC_LEVEL4_CACHE_SIZE) && defined(_SC_LEVEL3_CACHE_SIZE) && \
    defined(_SC_LEVEL2_CACHE_SIZE)
  const int levels[] = {_SC_LEVEL4_CACHE_SIZE, _SC_LEVEL3_CACHE_SIZE, _SC_LEVEL2_CACHE_SIZE};
  for (int i = 0; i < 3 && bytes <= 0; i++)
    bytes = sysconf(levels[i]);
  if (source == 0 && bytes > 0)
    source = 2;
#endif
  __atomic_store_n(&llc_source, source, __ATOMIC_RELAXED);
  if (bytes <= 0)
    return 0;
  return bytes > INT_MAX ? INT_MAX : (int)bytes;
}

extern "C" const char *machine_llc_source(void) {
  static const char *const names[] = {NULL, "sysfs", "sysconf"};
  return names[__atomic_load_n(&llc_source, __ATOMIC_RELAXED)];
}
