#!/usr/bin/env bash
# bash splice_test.sh path/to/splice.awk
# The report's section replaces only what lies between its markers, and a
# file with damaged markers is refused rather than cut short.
set -u
awk_script=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

splice() {  # splice INPUT SECTION -> stdout, status of awk
  awk -v b='<!-- B -->' -v e='<!-- E -->' -v f="$2" -f "$awk_script" "$1"
}
expect() {  # expect NAME WANTED-STATUS WANTED-OUTPUT INPUT SECTION
  local out status
  out=$(splice "$4" "$5")
  status=$?
  if [ "$status" -ne "$2" ]; then
    echo "FAIL $1: status $status, expected $2"; failures=$((failures + 1))
  elif [ "$2" -eq 0 ] && [ "$out" != "$3" ]; then
    printf 'FAIL %s: got\n%s\nexpected\n%s\n' "$1" "$out" "$3"; failures=$((failures + 1))
  fi
}

printf 'new 1\n\nnew 2\n' >"$dir/section"
printf 'top\n<!-- B -->\nold 1\nold 2\n<!-- E -->\nbottom\n' >"$dir/ok"
expect "replaces between the markers" 0 \
  "$(printf 'top\n<!-- B -->\nnew 1\n\nnew 2\n<!-- E -->\nbottom')" "$dir/ok" "$dir/section"

printf '<!-- B -->\n<!-- E -->\n' >"$dir/empty"
expect "fills an empty section" 0 \
  "$(printf '<!-- B -->\nnew 1\n\nnew 2\n<!-- E -->')" "$dir/empty" "$dir/section"
expect "empties a section" 0 "$(printf 'top\n<!-- B -->\n<!-- E -->\nbottom')" "$dir/ok" /dev/null

printf 'text <!-- B -->\n<!-- E -->\n' >"$dir/inline"
expect "a marker must be the whole line" 1 "" "$dir/inline" "$dir/section"
printf 'top\n<!-- B -->\nold\nbottom\n' >"$dir/no_end"
expect "refuses a missing end" 1 "" "$dir/no_end" "$dir/section"
printf '<!-- E -->\nold\n<!-- B -->\n' >"$dir/reversed"
expect "refuses reversed markers" 1 "" "$dir/reversed" "$dir/section"
printf '<!-- B -->\n<!-- E -->\n<!-- B -->\n<!-- E -->\n' >"$dir/twice"
expect "refuses two sections" 1 "" "$dir/twice" "$dir/section"

[ "$failures" -eq 0 ] && echo "all splice cases pass"
exit "$failures"
