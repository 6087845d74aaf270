# An atom line padded with blanks to 9000 characters. Lines are read through
# an 8192-byte buffer, so it arrives as two lines: its first 8191 characters
# (atom 1, C.x) and the remaining 809 blanks, which also begin with a blank
# and so count as an atom line of their own: atom 2, without type or element,
# left out of matching. The O.x line becomes atom 3, and the bond "1 2" joins
# atom 1 to that blank atom instead of to the oxygen.
{
  printf 'ENTRY       C00001\nATOM        2\n'
  printf '%-9000s\n' '            1   C.x    C'
  printf '            2   O.x    O\nBOND        1\n            1     1   2 1\n///\n'
  printf 'ENTRY       C00002\nATOM        2\n'
  printf '            1   C.x    C\n            2   O.x    O\n'
  printf 'BOND        1\n            1     1   2 1\n///\n'
} > long.qtr
