# awk -v b=BEGIN -v e=END -v f=FILE -f splice.awk README.md
# Prints the input with the lines between the lines b and e (both kept)
# replaced by the contents of FILE.  Exits with status 1 unless b and then e
# each appear exactly once, so that a damaged file is never written back.
$0 == b {
  nb++
  print
  while ((getline line < f) > 0)
    print line
  skip = 1
  next
}
$0 == e {
  ne++
  if (!skip)
    bad = 1
  skip = 0
  print
  next
}
!skip
END { if (nb != 1 || ne != 1 || bad) exit 1 }
