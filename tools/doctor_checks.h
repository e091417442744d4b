// cyclekit-doctor's decisions: which facts about the machine call for a
// warning, apart from how the facts were found, so they can be checked on
// facts made up for the purpose.
#ifndef CYCLEKIT_DOCTOR_CHECKS_H
#define CYCLEKIT_DOCTOR_CHECKS_H

// What the doctor found; each "unknown" value gives no warning unless said.
struct doctor_facts {
  double core_per_tick;  // 0: unknown
  double step;           // 0 or less: the counter did not advance (a warning)
  const char *counter;   // the counter's short name ("TSC" on x86)
  int invariant;         // 1 yes, 0 no, -1 unknown
  int hypervisor;        // 1 yes, 0 no, -1 unknown
  const char *governor;  // null: unknown
  int turbo;             // 1 on, 0 off, -1 unknown
  // The kernel's clocksource (null: unknown) and the one that reads the
  // counter (null: none expected).
  const char *clocksource;
  const char *counter_clocksource;
  // The words of the kernel command line that chose the clocksource (null:
  // none).
  const char *cmdline_clocksource;
  int llc_bytes;     // 0: unknown (a warning)
  double load;       // one-minute load average; negative: unknown
  long ncpu;         // online CPUs; 0 or less: unknown
  int cpus_allowed;  // CPUs the process may run on; 0 or less: unknown
};

// Called once per problem, in the order the facts are printed.
typedef void (*doctor_warn_fn)(const char *problem, const char *remedy);

void doctor_check(const struct doctor_facts *facts, doctor_warn_fn warn);

#endif
