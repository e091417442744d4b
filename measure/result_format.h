/*
 * result_format: the suite's result file, as its writer (the suite) and its
 * reader (cyclekit-compare) both know it.  One JSON line of "type":
 * "context" first, then one line of "type": "result" per answer; the manual,
 * cyclekit(3), gives the fields.
 *
 * Format 2 names each answer's unit as it is: "ticks" (counter ticks),
 * "core cycles" or "ns".  Format 1 wrote "cycles" for counter ticks; readers
 * still take format 1 files and read that "cycles" as ticks.
 */
#ifndef CYCLEKIT_RESULT_FORMAT_H
#define CYCLEKIT_RESULT_FORMAT_H

#define CYCLEKIT_RESULT_FORMAT 2
#define CYCLEKIT_RESULT_FORMAT_OLDEST 1

#define CYCLEKIT_UNIT_TICKS "ticks"
#define CYCLEKIT_UNIT_CORE_CYCLES "core cycles"
#define CYCLEKIT_UNIT_NS "ns"
/* What format 1 wrote for counter ticks. */
#define CYCLEKIT_UNIT_FORMAT1_TICKS "cycles"

#endif
