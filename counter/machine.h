/*
 * machine: the facts about this machine that decide how far a count of the
 * clock module can be trusted.  Part of the clock library; none of these is
 * meant for a timed interval (each reads files or asks the processor).
 *
 * Files are read under a root directory, "/" unless set_machine_root names
 * another (a copy of a machine's /sys, say).  Only regular files are read:
 * a FIFO or a device in a file's place is not waited for.  What cannot be
 * read is reported as unknown: -1, 0 or a null pointer as each call says.
 */
#ifndef CYCLEKIT_MACHINE_H
#define CYCLEKIT_MACHINE_H

#ifdef __cplusplus
extern "C" {
#endif

/* What the clock module's counter is, e.g. "x86 time-stamp counter (RDTSC)". */
const char *machine_counter_name(void);

/* Its short name, as the doctor's lines use it: "TSC" on x86, else e.g.
 * "CNTVCT_EL0", "time base". */
const char *machine_counter_short_name(void);

/* The name of the kernel clocksource that reads the same counter ("tsc" on
 * x86), or null where none is expected. */
const char *machine_counter_clocksource(void);

/* 1 if the counter is known to tick at one rate in every frequency and sleep
 * state (x86: CPUID's invariant TSC), 0 if known not to, -1 unknown. */
int machine_counter_invariant(void);

/* 1 if running under a hypervisor (x86: CPUID's hypervisor bit), 0 if not,
 * -1 unknown. */
int machine_hypervisor(void);

/* Each copies a line of /sys/devices/system/... into name (at most size
 * bytes, terminated) and returns 1, or returns 0 if the file is missing or
 * empty: the kernel's current clocksource (clocksource0), and cpu0's
 * frequency governor. */
int machine_clocksource(char *name, int size);
int machine_governor(char *name, int size);

/* 1 if turbo/boost is on, 0 if off, -1 if the system does not say
 * (intel_pstate/no_turbo, else cpufreq/boost). */
int machine_turbo(void);

/* Copies the words of the kernel command line (/proc/cmdline) that choose
 * the clocksource, clocksource=... and tsc=unstable or tsc=reliable, into
 * words (at most size bytes, separated by spaces, terminated; a word that
 * does not fit is left out) and returns 1, or returns 0 if there are none. */
int machine_cmdline_clocksource(char *words, int size);

/* Copies the processor's model as /proc/cpuinfo names it ("model name" on
 * x86, "cpu model" on MIPS and SPARC, "cpu" on POWER) into name (at most
 * size bytes, terminated) and returns 1, or returns 0 if it names none. */
int machine_cpu_model(char *name, int size);

/* The number of CPUs this process may run on (its affinity), 0 if unknown. */
int machine_cpus_allowed(void);

/* The size of the last-level cache in bytes; see bestof.h. */
int bestof_llc_bytes(void);

/* Where the figure that bestof_llc_bytes() gave last came from: "sysfs"
 * (the kernel's listing of cpu0's caches), "sysconf" (the C library's,
 * which on x86 asks CPUID alone: under a hypervisor it may be the whole
 * package's cache, not what one core can fill), or null before the first
 * call and where neither said. */
const char *machine_llc_source(void);

/* One of cpu0's caches as the kernel lists it: its type ("Data",
 * "Instruction", "Unified"), level, size in bytes, and how many CPUs share
 * it (shared_cpu_list; 0 if that is not listed). */
struct machine_cache {
  char type[16];
  int level;
  long long size;
  int num_sharing;
};

/* Copies up to room of cpu0's caches, in the kernel's order, into out and
 * returns how many are listed (0 for none; an index whose type, level or
 * size cannot be read is left out). */
int machine_caches(struct machine_cache *out, int room);

/* Reads every file above under dir instead of "/" (null or "" restores "/").
 * A dir longer than 255 bytes is refused and the previous root kept. */
void set_machine_root(const char *dir);

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_MACHINE_H */
