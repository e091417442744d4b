# awk -v targets=FILE -f tables.awk TABLES
# Prints the benchmark programs' tables as Markdown.  TABLES holds blocks of
# tab-separated lines, each a header line and its rows, blank lines between.
# A block headed "figure", "value" gains a target and a verdict column for
# every figure that FILE (columns figure, least, most) bounds.  Exits with
# status 1, after a message, on a ragged row, a header with no rows, a figure
# that is not a number, or an unreadable FILE.
BEGIN {
  FS = "\t"
  while ((status = getline line < targets) > 0) {
    if (line ~ /^#/ || line ~ /^figure\t/ || line == "")
      continue
    split(line, t, "\t")
    bounded[t[1]] = 1
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
function row(cells) { print "| " cells " |" }
function target(name) {
  if (least[name] != "" && most[name] != "")
    return least[name] " to " most[name]
  return least[name] != "" ? "≥ " least[name] : "≤ " most[name]
}
function met(name, v) {
  return (least[name] == "" || v >= least[name] + 0) && (most[name] == "" || v <= most[name] + 0)
}
/^$/ {
  if (fields && rows == 0)
    fail("table without rows at line " NR)
  if (fields)
    print ""
  fields = 0
  next
}
fields == 0 {
  fields = NF
  rows = 0
  figures = $1 == "figure" && $2 == "value" && NF == 2
  head = $1
  for (i = 2; i <= NF; i++)
    head = head " | " $i
  row(figures ? head " | target | verdict" : head)
  next
}
{
  if (NF != fields)
    fail("line " NR " has " NF " cells, its header " fields)
  if (figures && $2 !~ /^-?[0-9]+(\.[0-9]+)?$/)
    fail("figure '" $1 "' is not a number: '" $2 "'")
  # Columns of numbers align right, going by the first row.
  if (rows++ == 0) {
    rule = "---"
    for (i = 2; i <= NF; i++)
      rule = rule ($i ~ /^-?[0-9.]+$/ ? "|---:" : "|---")
    print "|" rule (figures ? "|---|---|" : "|")
  }
  cells = $1
  for (i = 2; i <= NF; i++)
    cells = cells " | " $i
  if (figures && $1 in bounded)
    cells = cells " | " target($1) " | " (met($1, $2 + 0) ? "met" : "**missed**")
  else if (figures)
    cells = cells " | | "
  row(cells)
}
END {
  if (!failed && fields && rows == 0)
    fail("table without rows at the end")
}
