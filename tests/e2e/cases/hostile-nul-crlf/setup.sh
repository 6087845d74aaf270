# Records with CR LF line ends and NUL bytes inside lines. A line ends for the
# reader at its first NUL: the identifier and the first name stop there, the
# atom and bond lines are kept up to it (and so lose their CR LF; they are
# echoed with a plain line feed), and a line that starts with NUL is an empty
# line, which inside ATOM is an atom without type or element (atom 2 here).
# The second bond therefore joins atom 1 and that empty atom.
{
  printf 'ENTRY       C00001\0junk          Compound\r\n'
  printf 'NAME        Wa\0ter;\r\n'
  printf 'ATOM        3\r\n'
  printf '            1   O.x    O\0 9 9 9\r\n'
  printf '\0 2 H H\r\n'
  printf '            3   H      H\r\n'
  printf 'BOND        2\r\n'
  printf '            1     1   3 1\r\n'
  printf '            2     1   2\0 1\r\n'
  printf '///\r\n'
  printf 'ENTRY       C00002\r\n'
  printf 'ATOM        2\r\n'
  printf '            1   O.x    O\r\n'
  printf '            2   H      H\r\n'
  printf 'BOND        1\r\n'
  printf '            1     1   2 1\r\n'
  printf '///\r\n'
} > nul.qtr
