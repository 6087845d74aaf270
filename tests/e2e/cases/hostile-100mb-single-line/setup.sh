# One line of 100 MB: an ENTRY line whose tail never ends. The reader takes it
# in 8191-character pieces and keeps none of them beyond the identifier, so
# the record C00001 has no atoms; memory stays small whatever the line length.
{
  printf 'ENTRY       C00001 '
  head -c 104857600 /dev/zero | tr '\0' 'x'
  printf '\n'
} > huge.qtr
