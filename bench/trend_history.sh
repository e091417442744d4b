#!/bin/sh
# A history of 30 real result files of the example suite, the multiply
# chain 5 % longer from file 20 on (a real build, example_suite_longer),
# and whether cyclekit-compare --trend flags file 20 of "imul chain" and
# nothing else.  Prints one line: "imul chain at 20: yes|no; others: N".
#
#   bench/trend_history.sh BUILD_DIR [WORK_DIR [time|shuffled]]
# BUILD_DIR holds the targets example_suite, example_suite_longer and
# cyclekit-compare (cmake --build BUILD_DIR -t example_suite
# example_suite_longer cyclekit-compare).  Exit 0 when the goal was met,
# 1 when not, 2 when a run failed.  "time" (the default) makes the files
# in their order, as commits are measured one after another; "shuffled"
# makes them in a random order, so that a drift of a shared machine over
# the minutes of making (another user's load) does not line up with the
# files: a test of the method against noise rather than against a machine
# whose level really moved.
set -eu
build=${1:?usage: trend_history.sh BUILD_DIR [WORK_DIR]}
work=${2:-$(mktemp -d)}
order=${3:-time}
mkdir -p "$work"
case $order in
  time) made=$(seq 1 30) ;;
  shuffled) made=$(seq 1 30 | shuf) ;;
  *) echo "trend_history.sh: order is time or shuffled" >&2; exit 2 ;;
esac
for i in $made; do
  if [ "$i" -lt 20 ]; then program=$build/examples/example_suite
  else program=$build/bench/example_suite_longer; fi
  "$program" --json "$work/r$(printf %02d "$i").json" --core-cycles --repetitions 5 \
    >/dev/null 2>&1 || exit 2
done
files=""
for i in $(seq 1 30); do files="$files $work/r$(printf %02d "$i").json"; done
# shellcheck disable=SC2086 # the file names hold no blanks (mktemp's)
"$build/tools/cyclekit-compare" --json --trend $files >"$work/trend.jsonl" || exit 2
# One line per change point: name, file.
changes=$(python3 -c '
import json, sys
for line in open(sys.argv[1]):
    t = json.loads(line)
    for c in t["changes"]:
        print("%s\t%d\t%.4f" % (t["name"], c["file"], c["ratio"]))
' "$work/trend.jsonl")
echo "$changes" | sed '/^$/d' >&2
hit=no
echo "$changes" | grep -q "^imul chain	20	" && hit=yes
others=$(echo "$changes" | sed '/^$/d' | grep -vc "^imul chain	20	" || true)
echo "imul chain at 20: $hit; others: $others"
[ "$hit" = yes ] && [ "$others" = 0 ]
