// What the kernel says about this machine: its caches, clocksource,
// frequency governor and turbo state, read from small files under /sys.

#include "machine.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

// The first line of root + path, without its newline; 0 if unreadable or
// empty.
static int first_line(const char *path, char *line, int size) {
  char full[sizeof root + 128];
  snprintf(full, sizeof full, "%s%s", root, path);
  FILE *f = fopen(full, "r");
  if (f == NULL)
    return 0;
  int ok = fgets(line, size, f) != NULL;
  fclose(f);
  if (ok)
    line[strcspn(line, "\n")] = '\0';
  return ok && line[0] != '\0';
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

// The kernel's view: cpu0's data or unified cache of the highest level, the
// largest if two share it.  0 if none is listed.
static long long sysfs_llc_bytes(void) {
  long long best = 0;
  long best_level = 0;
  for (int i = 0;; i++) {
    char path[96], type[32], level[16], size[32];
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/type", i);
    if (!first_line(path, type, sizeof type))
      break;
    if (strcmp(type, "Data") != 0 && strcmp(type, "Unified") != 0)
      continue;
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/level", i);
    if (!first_line(path, level, sizeof level))
      continue;
    snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/size", i);
    if (!first_line(path, size, sizeof size))
      continue;
    long long bytes = size_bytes(size);
    long lv = strtol(level, NULL, 10);
    if (bytes > 0 && (lv > best_level || (lv == best_level && bytes > best))) {
      best_level = lv;
      best = bytes;
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
