# parity.sh's table.  Inputs, told apart by name: the quiet medians
# (name<TAB>cyclekit ns, or /dev/null), the rows (tool<TAB>name<TAB>cpu
# ns<TAB>real ns, one per kernel and process: ck and gb side by side, ckw
# and gbw from whole runs), and each tool's wall seconds per whole run
# (ckw.wall, gbw.wall).  Writes this run's medians to
# `keep`.  Plain awk: no sort built in, so a small insertion sort.

function median(list, n,    v, i, j, t, k) {
  n = split(list, v, " ")
  for (i = 2; i <= n; i++)
    for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) {
      t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
    }
  k = int((n + 1) / 2)
  return n % 2 ? v[k] : (v[k] + v[k + 1]) / 2
}

function spread(list,    v, i, n, lo, hi) {
  n = split(list, v, " ")
  lo = hi = v[1] + 0
  for (i = 2; i <= n; i++) {
    if (v[i] + 0 < lo) lo = v[i] + 0
    if (v[i] + 0 > hi) hi = v[i] + 0
  }
  return lo > 0 ? hi / lo : 0
}

FILENAME == quiet { ref[$1] = $2; next }
FILENAME ~ /ckw\.wall$/ { ck_wall += $1; next }
FILENAME ~ /gbw\.wall$/ { gb_wall += $1; next }
$1 == "ckw" { ck_whole[$2] = ck_whole[$2] " " $3; next }
$1 == "gbw" { gb_whole[$2] = gb_whole[$2] " " $3; next }
{
  if (!($2 in seen)) { seen[$2] = 1; order[++names] = $2 }
  if ($1 == "ck") ck[$2] = ck[$2] " " $3
  else { gb_cpu[$2] = gb_cpu[$2] " " $3; gb_real[$2] = gb_real[$2] " " $4 }
}

END {
  printf "%-18s %12s %12s %12s %8s %9s %9s %8s %8s", "kernel", "ck_ns", "gb_cpu_ns",
    "gb_real_ns", "ck/gb", "ck_spread", "gb_spread", "whole", "gb/gbw"
  printf "%s\n", (quiet == "/dev/null" ? "" : sprintf(" %9s", "ck/quiet"))
  printf "" > keep
  for (i = 1; i <= names; i++) {
    n = order[i]
    c = median(ck[n]); g = median(gb_cpu[n]); r = median(gb_real[n])
    w = median(gb_whole[n])
    printf "%-18s %12.2f %12.2f %12.2f %8.3f %9.3f %9.3f %8.3f %8.3f", n, c, g, r,
      (g > 0 ? c / g : 0), spread(ck[n]), spread(gb_cpu[n]), (w > 0 ? median(ck_whole[n]) / w : 0),
      (w > 0 ? g / w : 0)
    near += g > 0 && c / g >= 0.95 && c / g <= 1.05
    self += w > 0 && g / w >= 0.95 && g / w <= 1.05
    if (quiet != "/dev/null")
      printf " %9s", n in ref ? sprintf("%.3f", c / ref[n]) : "-"
    printf "\n"
    printf "%s\t%.4f\n", n, c >> keep
  }
  printf "within 5 %%: cyclekit of the library side by side %d of %d; the library side by side" \
    " of its own whole runs %d of %d\n", near, names, self, names
  printf "wall seconds: cyclekit %.3f, library %.3f, cyclekit/library 1/%.0f\n", ck_wall,
    gb_wall, (ck_wall > 0 ? gb_wall / ck_wall : 0)
}
