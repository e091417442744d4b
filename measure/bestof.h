/*
 * bestof: measure a function in cycles by the K-best scheme.
 *
 * bestof(f, arg) calls f(arg) again and again, each call timed on its own,
 * keeps the K smallest cycle counts, and stops as soon as the smallest and
 * the K-th smallest agree within a relative tolerance or once a maximum
 * number of runs has been made.  It returns the smallest count.
 *
 * The module contains no counter: it calls start_counter/get_counter,
 * start_comp_counter/get_comp_counter, start_fenced_counter/
 * get_fenced_counter, core_per_tick and counter_step by name, so programs
 * link the clock library as well.
 *
 * Settings hold for every later measurement until set again.  Each
 * measurement copies them when it starts and keeps its copy to the end.
 *
 * Threads: one measurement runs at a time in the whole process, and calls
 * from different threads take turns in the order they were made: a thread
 * that measures again and again cannot pass one that was already waiting,
 * so a call waits for at most one measurement (or setter) per thread ahead
 * of it.  A bestof called while another thread measures waits for that
 * measurement to end, then makes its own; each call gets its own answer,
 * and bestof_last gives each thread the report of its own last
 * measurement.  A setter or bestof_last called from another thread
 * while a measurement runs waits for it to end.  A setter called from the
 * test function itself takes effect at the next measurement; nothing the
 * running measurement uses (its array, the flush buffer) is freed under it.
 * The module is not re-entrant: a bestof from the test function is fatal
 * (see bestof).  Every fatal exit waits until no other thread is inside a
 * measurement, so exit handlers and global destructors never run under one.
 *
 * fork: a child forked while another thread measures (or is in a setter)
 * may measure and change settings at once: it starts with the lock free,
 * the settings, the flush buffer and the counter's step as they were.  The
 * child of a test function that forks is still inside that measurement,
 * as its parent is, and may call only what a test function may; the
 * threads that waited in line in the parent are not waited for in it.
 *
 * Signal handlers: no function of this module may be called from a signal
 * handler.  They take a lock, allocate, and print; a handler that interrupts
 * a measurement, a setter or the C library's allocator would deadlock or
 * corrupt it.
 */
#ifndef CYCLEKIT_BESTOF_H
#define CYCLEKIT_BESTOF_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A function to measure; it gets bestof's int argument at every run. */
typedef void (*bestof_test_fn)(int);

/*
 * Returns the smallest cycle count observed over the runs of f(arg).  At
 * least one run is made.  With the compensated counter on, the count may be
 * fractional or negative.  The K least agree when (1 + tolerance) x least
 * >= K-th least; for a negative least that holds only under a tolerance of
 * 0 or below (with a positive one, (1 + tolerance) x least lies below
 * least), so with the default tolerance the run limit ends such a
 * measurement.
 *
 * Called while another thread measures, it waits for that measurement to
 * end.
 *
 * Fatal: each of these prints its line to standard error and exits with
 * status 1:
 *  - f is null: "Fatal error.  bestof called with a null test function\n";
 *  - the array of K counts cannot be allocated:
 *    "Fatal error.  Calloc returned null when allocating the sample array\n";
 *  - bestof is called from inside a test function, which would free the
 *    running measurement's array:
 *    "Fatal error.  bestof called from inside a measurement\n";
 *  - the test function called bestof_abandon, ending its own measurement:
 *    "Fatal error.  bestof_abandon called from inside a measurement\n".
 */
double bestof(bestof_test_fn f, int arg);

/*
 * The way out after a test function has left by longjmp (say, from a timeout
 * handler) instead of returning: the measurement it belonged to never ends,
 * so every later bestof would be refused in that thread (as nested) and
 * would wait for ever in any other.  bestof_abandon frees that
 * measurement's array and ends it without a result; bestof may then be
 * called again.  It must be called from the thread that called bestof,
 * after the longjmp and before any other function of this module; it is
 * the only call allowed in that state.  Elsewhere (no measurement, or
 * another thread's) it does nothing.  Called from the test function itself,
 * it ends the measurement all the same, and when the function returns the
 * driver ends the process with the message given under bestof.
 */
void bestof_abandon(void);

/* K, how many smallest counts must agree (default 3).  Values below 1 are
 * refused and the previous K is kept.  Takes effect at the next bestof. */
void set_bestof_k(int k);

/* The run limit (default 20).  Any value is accepted; at least one run is
 * always made. */
void set_bestof_maxsamples(int maxsamples);

/* The relative tolerance between the smallest and the K-th smallest count
 * (default 0.01).  0 asks for K equal counts; a negative tolerance never lets
 * positive counts agree, so the run limit ends the measurement.  A value
 * that is not a finite number (NaN, an infinity) is refused and the
 * previous one kept. */
void set_bestof_epsilon(double epsilon);

/* Non-zero: time each run with the tick-compensated counter (default 0). */
void set_bestof_compensate(int compensate);

/* Non-zero: flush the caches before each run by reading through a buffer of
 * the cache size, one 32-bit word every block bytes (default 0).  The flush
 * is not timed.  Fatal: if the buffer cannot be allocated, prints
 * "Fatal error.  Malloc returned null when trying to clear cache\n" to
 * standard error and exits with status 1. */
void set_bestof_clear_cache(int clear_cache);

/* The flush buffer's size in bytes (default 524288).  A new size frees the
 * current buffer; the next flush allocates one of the new size and writes it
 * once, so every later flush reads resident, distinct memory.  A negative
 * size is refused and the previous size kept.  A size below 4 makes no
 * reads; its buffer is still requested, but a null answer (malloc(0) may
 * give one) is then no failure. */
void set_bestof_cache_sizee(int bytes);

/* Bytes between two reads of the flush (default 32), rounded down to a
 * multiple of 4.  A value from 0 to 3 is taken as 4 (one word), so the flush
 * always advances; a negative value is refused and the previous one kept. */
void set_bestof_cache_block(int bytes);

/*
 * What a count means.  By default a count is in ticks of the counter (on x86
 * the time-stamp counter, which runs at a fixed reference rate, not at the
 * core's own clock), read with bare reads that the processor may overlap
 * with the measured code, and it includes the counter pair's own cost.  For
 * how many core cycles one call takes, set_bestof_precise(1) (below) is the
 * answer.  Its parts, and batching, are settings of their own, each off (or
 * 1) by default, each read once at the start of a measurement:
 *
 *  - fence: the fenced pair, whose start read waits for earlier work and
 *    whose closing read waits for the measured code to finish.  A bare
 *    closing read runs ahead of any code still in flight, loads and plain
 *    computation alike: a chain of a few hundred dependent multiplies reads
 *    short by a couple of hundred core cycles.
 *  - compensate (above): the tick-compensated pair.  It has no fenced form:
 *    with both on, the compensated pair is used and the fence is ignored
 *    (the report's flags say which pair ran).
 *  - core cycles: counts in the core's cycles, whichever pair runs.
 *  - net: the pair's own cost taken off.
 *  - batch: n calls per timed run, counts per call.  Independent calls then
 *    overlap in the processor, so a batch measures throughput (calls per
 *    cycle, inverted), not one call's latency.
 */

/* Non-zero: time each run with start_fenced_counter/get_fenced_counter
 * (default 0).  Ignored while the compensated counter is on. */
void set_bestof_fence(int on);

/* Non-zero: return core cycles (default 0).  core_per_tick() is measured
 * before the first timed run and after the last one of every measurement,
 * outside every timed interval, and the counts are multiplied by the mean of
 * the two figures; a gap between them shows that the core clock moved while
 * the measurement ran.  Each figure takes up to a couple of milliseconds.  If
 * either figure is not a positive number the counts stay in ticks and the
 * report's core_cycles flag is 0; so do counts whose conversion is not a
 * finite number.  Combines with any counter pair: a
 * compensated count is converted like a plain one. */
void set_bestof_core_cycles(int on);

/* Calls of the test function per timed run (default 1).  With n > 1 one run
 * calls f(arg) n times between one start and one read, and the count kept is
 * the run's count divided by n: the mean per call, for code too short for
 * the counter to resolve.  1 is the unbatched measurement: start, f(arg),
 * read.  0 chooses n at every measurement: before the measured runs, runs of
 * 1, 2, 4, ... calls are timed (flushed like the others, not kept as
 * samples) until one lasts at least 100 counter steps and 100 times the
 * counter pair's own cost (the least of 3 empty runs, start then read), so
 * neither the step's quantisation nor the pair's cost, which a run carries
 * once whatever its n, is more than 1% of a run, the default tolerance; n
 * stops at 2^20.  A negative n is refused and the previous one kept.  With the
 * cache flush on, only the first call of a run finds the caches flushed. */
void set_bestof_batch(int n);

/* Non-zero: net counts (default 0).  Before the first timed run and after
 * the last, outside every timed interval, the driver times the pair in use
 * around an empty function (called as the test function is, n calls a run
 * with a batch of n) with the answer's own estimator: without precise mode
 * the least of as many runs as the run limit allows (at least one), in
 * precise mode the fine estimate.  The mean of the two figures, the pair's
 * cost, is taken off the answer, which may then be 0 or negative for code
 * that costs less than a call of an empty function. */
void set_bestof_net(int on);

/*
 * Non-zero: precise mode (default 0), the answer to "how many core cycles
 * does one call take": the fenced pair (unless the compensated counter is
 * on, which wins as it does over set_bestof_fence), core cycles, net counts
 * and the fine estimator, whatever those settings say.  Off, each of them is
 * as set, and the measurement is the K-best one.
 *
 * The fine estimator resolves code shorter than the counter's step.  It
 * times runs in blocks of 50, at most 2000 of them, stopping once the
 * estimate's uncertainty is within 0.1% of a run's count; where the counts
 * spread too widely for that within 2000 runs (a counter of coarse steps,
 * a busy machine), once it is within 1.5 core cycles per call, or 0.5% of
 * the count net of the pair's cost if more, with 25 counts in the window
 * (an answer then good to about 2 core cycles or 0.7%).  It takes the
 * mean of the counts from the 2nd percentile (the least once the fastest
 * 2%, stray readings a step or two low, are set aside) to 1.5 counter
 * steps above it.  Its
 * assumption: the start falls at a random phase of the counter's step, so
 * a run of duration d between two points of the step's lattice reads the
 * lower or the upper one, the upper with a probability equal to d's share
 * of the step beyond the lower; the mean of such counts is d, unbiased,
 * while slower runs (an interrupt, a busy neighbour) lie outside the
 * window.  A counter whose phase is the same at every start breaks it.  K,
 * the tolerance and the run limit do not apply.  The net counts' empty runs
 * use the same estimator.  With the flush on, every run is flushed, so a
 * flushed precise measurement is slow.
 *
 * The call and return of the test function, and the pair's own work around
 * them, run alongside the code they time: an empty call pays them whole,
 * code that outlasts them only its own latency.  So with single calls
 * (batch 1) precise mode also times a reference chain of 64 dependent
 * register additions (one core cycle each on x86 and AArch64), and adds
 * back the part of the empty call's cost that code hides: the empty call's
 * count less the chain's count less 64 core cycles (the report's
 * hidden_overhead, a few to a dozen core cycles).  Code no longer than that
 * part (its net count at most half of it) cannot be told from an empty
 * call: its answer is the plain net count, near 0, and is not resolved.
 * Elsewhere (no known one-cycle chain) nothing is added back.
 *
 * A precise answer takes a fraction of a millisecond to a few milliseconds
 * (the two core_per_tick figures, the references before and after, and the
 * runs), the first one of a process also the counter's step.
 */
void set_bestof_precise(int on);

/* Non-zero: print one line per measurement on standard output (default 0):
 *   "bestof: A cycles, k of r runs agreed within s% (tolerance t%), counter
 *   step c"
 * with "core cycles" for cycles when they are, " per call (batch n)" after the
 * unit when n is not 1, and in place of the agreement
 *   ", not converged: the run limit ended it after r of the K runs K needs"
 *   ", not converged: the run limit ended it after r runs, the K least s% apart"
 * when the run limit ended the measurement; with core cycles the mean core
 * cycles per tick comes before the step.  A least of 0 or below has no
 * relative spread: the agreement reads ", k of r runs agreed, from A to B"
 * and the last form ", the K least from A to B".  The step is measured
 * (once per process) when first needed.  Measurements take turns, so the
 * lines of different threads never mix.  With net counts or precise mode
 * the answer (net of the pair's cost) is followed by " +/- u" (its
 * uncertainty) and ", net of the pair's p"; in precise mode the agreement
 * and the tolerance give way to
 *   ", the mean of m of r runs from the 2nd percentile to 1.5 steps above it"
 * with " (the run cap ended it)" after it when the estimate did not settle;
 * and an answer that is not resolved (see the report) ends the line with
 *   ", below the counter's resolution". */
void set_bestof_verbose(int on);

/* The stream the verbose lines go to (default standard output), for a
 * program whose standard output is its data; bestof_compare and bestof_cpe
 * print theirs there too.  Null restores standard output.  The stream must stay open while
 * measurements run; the library neither flushes nor closes it. */
void set_bestof_verbose_stream(FILE *out);

/* Non-zero: the verbose line, and the lines of bestof_compare and
 * bestof_cpe (cyclekit/compare.h), are each one JSON object on one line
 * instead (default 0), for scripts: every field of the report by name, the
 * numbers with 17 significant digits and "." as the decimal point under
 * every locale, an infinity or NaN as null.  The text lines follow the
 * locale's LC_NUMERIC (a decimal comma under de_DE, say).  The verbose line
 * then reads
 *   {"type":"bestof","runs":4,"converged":1,"k":3,"kept":3,"batch":1,
 *    "tolerance":0.01,"least":100,"kth_least":101,"spread":0.01,"step":26,
 *    "fenced":0,"compensated":0,"core_cycles":0,"core_per_tick_start":0,
 *    "core_per_tick_end":0,"net":0,"precise":0,"resolved":1,"window":3,
 *    "pair_cost":0,"uncertainty":26,"answer":100,"hidden_overhead":0}
 * Nothing is printed unless the verbose setting is on as well. */
void set_bestof_json(int on);

/* The last measurement, as bestof_last reports it.  Counts are per call and
 * in the unit that bestof returned (core cycles when core_cycles is 1).
 * least and kth_least are counts as read, the pair's cost included; answer
 * is what bestof returned. */
struct bestof_report {
  int runs;         /* timed runs made (an automatic batch's probes excluded) */
  int converged;    /* 1: the K least agreed; 0: the run limit ended it */
  int k;            /* K in force */
  int kept;         /* counts kept: K, or runs when fewer than K were made */
  int batch;        /* calls per run actually used (a region's iterations) */
  double tolerance; /* the relative tolerance in force */
  double least;     /* the least count (bestof's answer unless net or precise) */
  double kth_least; /* the K-th least count; the largest kept when kept < K */
  /* (kth_least - least) / least; with a least of 0 or below, 0 when the two
   * are equal and +infinity otherwise. */
  double spread;
  double step;     /* the counter's step in ticks (see counter_step) */
  int fenced;      /* 1: timed with the fenced pair */
  int compensated; /* 1: timed with the compensated pair */
  int core_cycles; /* 1: counts converted to core cycles, else 0 */
  /* core_per_tick() before the first run and after the last; 0 when core
   * cycles are off. */
  double core_per_tick_start;
  double core_per_tick_end;
  int net;          /* 1: the pair's cost was taken off */
  int precise;      /* 1: precise mode; converged then says the estimate
                     * settled (0: the cap of 2000 runs ended it) */
  double answer;    /* what bestof returned: least (K-best) or the fine
                     * estimate (precise), less pair_cost */
  double pair_cost; /* the pair's cost around an empty call; 0 without net */
  /* Precise mode: the part of pair_cost that the measured code hides (see
   * set_bestof_precise), added back to the answer; else 0. */
  double hidden_overhead;
  int window; /* counts the answer rests on: the kept ones (K-best) or
               * those in the fine estimator's window */
  /* How far the answer can be trusted, +/- in its unit: for the fine
   * estimate about two standard errors (of the estimate and of the pair's
   * cost), which the machine's drift during the measurement does not
   * include; for a K-best answer one counter step, two with net counts
   * (the least is quantised to the step).  0 until the step is known. */
  double uncertainty;
  /* 1 when the answer is above its uncertainty and the uncertainty is at
   * most 10% of it; 0 for an answer not to be told from zero or quantised
   * beyond that. */
  int resolved;
};

/* Copies the report of the calling thread's last measurement to *out
 * (nothing when out is null); all zeros before that thread's first
 * measurement.  Another thread's measurements never change it.  The first
 * call after a measurement that did not need the counter's step measures
 * it. */
void bestof_last(struct bestof_report *out);

/*
 * The size in bytes of this processor's largest (last-level) cache, for
 * sizing a flush that evicts it (see bestof_flush_bytes): the default flush
 * (512 KiB) is smaller than most last-level caches.  Read
 * from /sys/devices/system/cpu/cpu0/cache (the highest level of a data or
 * unified cache; the kernel's figure is the cache that one core shares),
 * else from sysconf(_SC_LEVEL4/3/2_CACHE_SIZE).  0 where neither says;
 * a size above INT_MAX is given as INT_MAX.  Reads a few small files each
 * call; call it outside any timed interval.
 */
int bestof_llc_bytes(void);

/* The flush size where the last-level cache's size is unknown: 64 MiB. */
#define BESTOF_FLUSH_FALLBACK_BYTES (64 << 20)

/*
 * A flush size that evicts the last-level cache, for
 * set_bestof_cache_sizee(bestof_flush_bytes()), by where the cache's figure
 * came from (machine_llc_source in cyclekit/machine.h):
 *  - sysfs, or a figure of sysconf's up to 32 MiB: twice bestof_llc_bytes(),
 *    at most INT_MAX (a cache above 1 GiB), never negative;
 *  - sysconf alone above 32 MiB (on x86 CPUID's figure, which some guests
 *    are given for the whole package, 508 MiB where one core fills 32):
 *    measured once per process: the least of 64, 128 and 192 MiB, none
 *    above twice the figure, after which a random walk over 4 MiB is at
 *    least 85% as slow as after evicting its lines one by one; the lesser
 *    of 192 MiB and twice the figure if none is.  It allocates up to
 *    196 MiB and takes up to a second or so; where no line can be evicted
 *    on its own (outside x86) or the memory is not there,
 *    BESTOF_FLUSH_FALLBACK_BYTES;
 *  - no figure: BESTOF_FLUSH_FALLBACK_BYTES.
 * Reads a few small files each call and may measure; call it outside any
 * timed interval.  Waits, like a setter, for another thread's measurement.
 */
int bestof_flush_bytes(void);

/*
 * Where the last answer of bestof_flush_bytes() came from: "sysfs" (twice a
 * size the kernel lists), "sysconf" (twice a size that only the C library
 * gives, unconfirmed; see bestof_flush_bytes), "measured", "fallback"
 * (BESTOF_FLUSH_FALLBACK_BYTES); null before its first call.
 */
const char *bestof_flush_source(void);

/*
 * Every setting above as one value, to save and restore around a change or
 * to reset all at once.  Fields take the values of the setter of the same
 * name (cache_size: set_bestof_cache_sizee).
 */
struct bestof_settings {
  int k;
  int maxsamples;
  double epsilon;
  int compensate;
  int clear_cache;
  int cache_size;
  int cache_block;
  int fence;
  int core_cycles;
  int batch;
  int verbose;
  int json;
  int net;
  int precise;
  /* The settings of bestof_compare and bestof_cpe (cyclekit/compare.h):
   * set_bestof_compare_pairs, set_bestof_compare_margin, set_bestof_cpe_sizes. */
  int compare_pairs;
  double compare_margin;
  int cpe_sizes;
  /* 1 (the default): bestof_compare measures its answers net of the pair's
   * cost, as set_bestof_compare_net says. */
  int compare_net;
};

/* Copies the settings in force to *out (nothing when out is null). */
void get_bestof_settings(struct bestof_settings *out);

/* Applies every field of *in by the rule of its setter, so a value that
 * setter refuses leaves that setting as it was (nothing when in is null).
 * All the fields accepted change at once: a measurement in another thread
 * starts with the settings wholly before or wholly after.  A new cache_size
 * frees the flush buffer as set_bestof_cache_sizee does. */
void set_bestof_settings(const struct bestof_settings *in);

/* Restores every default: K 3, 20 runs, tolerance 0.01, no compensation,
 * no flush, a flush of 524288 bytes read every 32, no fence, counter ticks,
 * batch 1, quiet, text lines, counts as read, no precise mode, comparisons
 * of 21 pairs with a margin of 0 and net answers, fits over 8 sizes.  The
 * verbose stream is kept. */
void set_bestof_defaults(void);

/*
 * bestof with the settings *settings for this call alone: the process-wide
 * settings are neither read nor changed, so another thread's measurements
 * and the next bestof are as they were.  Each field is checked by the rule
 * of its setter; a field its setter would refuse falls back to its default
 * (not to the process-wide value) and, when *settings asks for verbose
 * lines, one line says so before the measurement's own:
 *   "bestof: k 0 refused, the default 3 used"
 * (with json on, {"type":"refused","setting":"k","asked":0,"used":3}).  A
 * null settings measures with the process-wide ones, as bestof does.  The
 * lines go to the process-wide verbose stream; bestof_last reports the
 * measurement like any other, and the fatal errors are bestof's.
 */
double bestof_with(const struct bestof_settings *settings, bestof_test_fn f, int arg);

/* bestof_with, its lines sent to verbose (null: the process-wide stream). */
double bestof_with_stream(const struct bestof_settings *settings, FILE *verbose, bestof_test_fn f,
                          int arg);

/*
 * Work around every timed run, outside its interval: before(context) just
 * before the run (and before its flush, so the flush evicts what before
 * touched), after(context) just after the counter's read.  A run of a
 * batch of n calls is one run: the hooks run once around its n calls.
 * The automatic batch's probes are runs too; the empty calls timed for net
 * counts and precise mode's references are not.  Either may be null.  The
 * hooks run inside the measurement, so they may not measure (bestof from
 * a hook is fatal, as from a test function).
 */
struct bestof_hooks {
  void (*before)(const void *context);
  void (*after)(const void *context);
  const void *context;
};

/* bestof_with_stream with hooks around every timed run (null: none). */
double bestof_with_hooks(const struct bestof_settings *settings, FILE *verbose, bestof_test_fn f,
                         int arg, const struct bestof_hooks *hooks);

/* The stream the verbose lines go to now: standard output unless
 * set_bestof_verbose_stream named another. */
FILE *get_bestof_verbose_stream(void);

/*
 * The counter's ticks per nanosecond: counter_mhz (cyclekit/clock.h) over a
 * wait of 0.05 s, divided by 1000, measured at the first call of the
 * process and kept.  A count in ticks divided by it is in nanoseconds; a
 * count in core cycles is first divided by the report's mean core cycles
 * per tick.  The counter runs at a fixed rate on x86 (the time-stamp
 * counter's reference rate, not the core's clock), so the figure holds for
 * the whole process.  0 when the rate cannot be measured (the monotonic
 * clock unreadable); the next call tries again.  Waits for another
 * thread's measurement; call it outside any timed interval.
 */
double bestof_ticks_per_ns(void);

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_BESTOF_H */
