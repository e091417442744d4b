# awk -v targets=FILE -f tables.awk TABLES
# Prints the benchmark programs' tables as Markdown.  TABLES holds blocks of
# tab-separated lines, a header line and its rows, blank lines between them.
# A block headed "figure", "value" gains a target and a verdict for every
# figure that FILE (columns figure, least, most; empty for no bound) bounds.
# Exits with status 1 and a message on a ragged row, a header without rows,
# a figure that is not a number, or an unreadable FILE.
BEGIN {
  FS = "\t"
  while ((status = getline line < targets) > 0)
    if (line !~ /^(#|$)/) {
      split(line, t, "\t")
      least[t[1]] = t[2]
      most[t[1]] = t[3]
    }
  if (status < 0)
    fail("cannot read the targets " targets)
}
function fail(why) {
  print "tables.awk: " why > "/dev/stderr"
  failed = 1
  exit 1
}
function target(f) {
  if (least[f] != "" && most[f] != "")
    return least[f] " to " most[f]
  return least[f] != "" ? "≥ " least[f] : "≤ " most[f]
}
function verdict(f, v) {
  return (least[f] == "" || v >= least[f] + 0) && (most[f] == "" || v <= most[f] + 0) ? "met" : "**missed**"
}
/^$/ || fields == 0 {
  if (fields && rows == 0)
    fail("table without rows at line " NR)
  if (fields)
    print ""
  if (fields = (NF ? NF : 0)) {
    rows = 0
    figures = $0 == "figure\tvalue"
    gsub(/\t/, " | ")
    print "| " $0 (figures ? " | target | verdict" : "") " |"
  }
  next
}
{
  if (NF != fields)
    fail("line " NR " has " NF " cells, its header " fields)
  if (figures && $2 !~ /^-?[0-9]+(\.[0-9]+)?$/)
    fail("figure '" $1 "' is not a number: '" $2 "'")
  if (rows++ == 0) {  # columns of numbers align right, going by the first row
    rule = "---"
    for (i = 2; i <= NF; i++)
      rule = rule ($i ~ /^-?[0-9.]+$/ ? "|---:" : "|---")
    print "|" rule (figures ? "|---|---|" : "|")
  }
  f = $1
  v = $2 + 0
  judged = figures && (f in least)
  gsub(/\t/, " | ")
  print "| " $0 (judged ? " | " target(f) " | " verdict(f, v) : figures ? " | | " : "") " |"
}
END {
  if (!failed && fields && rows == 0)
    fail("table without rows at the end")
}
