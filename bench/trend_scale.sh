#!/bin/sh
# How long cyclekit-compare --trend takes, and how much memory, over a long
# history: FILES result files of NAMES names with REPS answers each (by
# default 1,000 files of 100 names, 5 answers), name 7 made 5 % slower from
# the middle file on.  Prints /usr/bin/time's figures for the trend alone.
#
#   bench/trend_scale.sh COMPARE_PROGRAM [FILES [NAMES [REPS]]]
set -eu
compare=${1:?usage: trend_scale.sh COMPARE_PROGRAM [FILES [NAMES [REPS]]]}
files=${2:-1000}
names=${3:-100}
reps=${4:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v files="$files" -v names="$names" -v reps="$reps" -v dir="$work" 'BEGIN {
  srand(1)
  for (f = 1; f <= files; f++) {
    out = sprintf("%s/r%04d.json", dir, f)
    printf "{\"type\":\"context\",\"format\":2,\"library\":\"cyclekit\",\"title\":\"scale\"," \
           "\"mhz\":2600,\"core_per_tick\":1.5}\n" > out
    for (n = 1; n <= names; n++)
      for (r = 0; r < reps; r++) {
        level = 1000 * n * (n == 7 && f > files / 2 ? 1.05 : 1) * (1 + 0.002 * (rand() - 0.5))
        printf "{\"type\":\"result\",\"name\":\"name %d\",\"repetition\":%d,\"answer\":%.3f," \
               "\"unit\":\"core cycles\",\"uncertainty\":2}\n", n, r, level > out
      }
    close(out)
  }
}'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/time -v "$compare" --trend "$work"/r*.json 2>"$work/time" >"$work/trend"
grep -E "Elapsed|Maximum resident|User time|System time" "$work/time"
grep -c "change points: file" "$work/trend" | sed 's/^/names with a change point: /'
grep "^name 7:" "$work/trend" | cut -c1-160
