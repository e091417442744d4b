#!/usr/bin/env bash
# A small mutation run: how many deliberate faults the tests catch.
#   bench/mutate.sh [-B BUILD_DIR] LIST [N...]
# LIST holds one mutant a line, FILE<TAB>LINE<TAB>FROM<TAB>TO (the first
# FROM on that line of FILE, relative to the checkout, becomes TO), and two
# kinds of lines that apply to the mutants after them:
#   %targets T...   the build targets that FILE's tests need
#   %tests REGEX    the CTest names that run them (the label slow is left out)
# Blank lines and lines starting with # are skipped.  N... runs only those
# mutants (numbered from 1 in LIST's order).  Each one is applied in place,
# built, tested and undone with `git checkout -- FILE`, also when the run is
# interrupted; a file with changes of its own is refused.  A mutant that does
# not build is invalid, not killed.  Before the first mutant of each group
# the tests run unmutated and must pass.
set -uo pipefail
build=build/default
if [[ ${1:-} == -B ]]; then
  build=$2
  shift 2
fi
list=${1:?usage: mutate.sh [-B BUILD_DIR] LIST [N...]}
shift
declare -A only=()
for n in "$@"; do only[$n]=1; done
cd "$(git rev-parse --show-toplevel)" || exit 2

current=""
restore() {
  if [[ -n $current ]]; then
    git checkout -- "$current"
    current=""
  fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

# The last mutant's objects stay in the build until its targets are built
# again: done at the end of each group, so the build holds the code as it is.
mutated=""
settle() {
  [[ -n $mutated ]] && cmake --build "$build" -t $targets >/dev/null 2>&1
  mutated=""
}

build_and_test() {  # 0 if the tests pass, 1 if one fails, 2 if the build fails
  cmake --build "$build" -t $targets >"$log" 2>&1 || return 2
  # A session of their own: a test that kills its process group (a mutant
  # may leave it the runner's) cannot end this script before it restores.
  setsid -w ctest --test-dir "$build" -R "$tests" -LE slow --no-tests=error --stop-on-failure \
    -j2 --timeout 120 >>"$log" 2>&1 || return 1
  return 0
}

log=$(mktemp)
targets="" tests="" checked="" number=0
declare -A killed=() total=() invalid=()
while IFS=$'\t' read -r file line from to; do
  case $file in
  '' | '#'*) continue ;;
  %targets*) settle && targets=${file#%targets } checked="" && continue ;;
  %tests*) tests=${file#%tests } checked="" && continue ;;
  esac
  number=$((number + 1))
  [[ $# -gt 0 && -z ${only[$number]:-} ]] && continue
  if [[ -z $checked ]]; then
    build_and_test || {
      echo "the unmutated tests fail for mutant $number's group ($tests); see $log" >&2
      exit 2
    }
    checked=1
  fi
  if ! git diff --quiet -- "$file"; then
    echo "$file has changes of its own: not mutated" >&2
    exit 2
  fi
  current=$file mutated=1
  FROM=$from TO=$to perl -i -pe \
    'if ($. == '"$line"' && !$done) { $done = s/\Q$ENV{FROM}\E/$ENV{TO}/ }' "$file"
  if git diff --quiet -- "$file"; then
    result="absent"  # FROM is not on that line: the list is out of date
  else
    build_and_test
    case $? in 0) result=survived ;; 1) result=killed ;; *) result=invalid ;; esac
  fi
  by=""  # the test that failed first
  [[ $result == killed ]] && by=$(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*/\1/p' "$log" | head -1)
  restore
  case $result in
  killed) killed[$file]=$((${killed[$file]:-0} + 1)) ;;
  survived) ;;
  *) invalid[$file]=$((${invalid[$file]:-0} + 1)) ;;
  esac
  [[ $result == killed || $result == survived ]] && total[$file]=$((${total[$file]:-0} + 1))
  printf '%3d  %-8s  %s:%s  %s  ->  %s%s\n' "$number" "$result" "$file" "$line" "$from" "$to" \
    "${by:+  ($by)}"
done <"$list"
settle

echo
all=0 dead=0
for file in $(printf '%s\n' "${!total[@]}" "${!invalid[@]}" | sort -u); do
  k=${killed[$file]:-0} t=${total[$file]:-0}
  printf '%-32s %3d of %3d killed%s\n' "$file" "$k" "$t" \
    "$([[ -n ${invalid[$file]:-} ]] && echo " (${invalid[$file]} invalid or absent)")"
  all=$((all + t)) dead=$((dead + k))
done
((all > 0)) && printf 'kill rate: %d of %d, %d.%d %%\n' "$dead" "$all" \
  $((1000 * dead / all / 10)) $((1000 * dead / all % 10))
rm -f "$log"
