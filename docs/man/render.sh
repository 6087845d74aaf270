#!/usr/bin/env bash
# render.sh PROGRAM SOURCE OUTPUT: writes the manual page OUTPUT from the page
# SOURCE, replacing its @OPTIONS@ line by the option list of `PROGRAM --help`.
# The list follows the help text (its groups, its order, every option in it),
# so a new option shows up in the page without editing it. A source may hold
# "@option OPTION" blocks (OPTION as the help line writes it, e.g. -a/--atom) whose
# text, up to the next @option or @end, replaces that option's help line in
# the page; a block for an option the help text lacks is an error.
set -euo pipefail
program=$1 source=$2 output=$3
help=$("$program" --help)

HELP=$help LC_ALL=C awk -v source="$source" '
function esc(s) {  # text -> roff: backslashes, and a control character at the start
  gsub(/\\/, "\\e", s)
  if (s ~ /^[.\047]/) s = "\\&" s
  return s
}
function name(s) { gsub(/-/, "\\-", s); return "\\fB" s "\\fR" }
function option_roff(words,   n, t, i, out, names, k, j) {
  n = split(words, t, " ")
  out = ""
  for (i = 1; i <= n; i++) {
    if (t[i] ~ /^-/) {
      k = split(t[i], names, "/")
      for (j = 1; j <= k; j++) out = out (out == "" ? "" : ", ") name(names[j])
    } else {
      gsub(/[<>]/, "", t[i])
      out = out (out == "" ? "" : " ") "\\fI" t[i] "\\fR"
    }
  }
  return out
}
BEGIN {
  # Notes from the source, keyed by the option as the help text writes it.
  while ((getline line < source) > 0) {
    if (line ~ /^@option /) { key = substr(line, 9); notes[key] = ""; continue }
    if (line == "@end") { key = ""; continue }
    if (key != "") notes[key] = notes[key] line "\n"
  }
  close(source)

  # The option list. Items are tab-indented: the option (names, then an
  # argument in <...> or a positional word in capitals), then its meaning;
  # a tab line that starts with blanks continues the meaning above.
  nl = split(ENVIRON["HELP"], lines, "\n")
  list = ""; blank = 0
  for (i = 1; i <= nl; i++) {
    l = lines[i]
    if (l ~ /^\t/) {
      l = substr(l, 2)
      if (l ~ /^ /) { sub(/^ +/, "", l); if (!noted) list = list "\n" esc(l); continue }
      if (blank && list != "") list = list "\n.SS General"
      blank = 0
      # Option names take one argument; positional words stand alone.
      words = ""; rest = l; last = ""
      while (match(rest, /^(-[^ ]+|<[^>]+>|[A-Z][A-Z_.]*)( +|$)/)) {
        tok = substr(rest, 1, RLENGTH); sub(/ +$/, "", tok)
        kind = tok ~ /^-/ ? "name" : (last == "name" ? "arg" : "pos")
        if (kind == "pos" && last != "" && last != "pos") break
        if (kind == "name" && last == "pos") break
        rest = substr(rest, RLENGTH + 1); last = kind
        words = words (words == "" ? "" : " ") tok
      }
      if (words == "") { print "render.sh: cannot read help line: " l > "/dev/stderr"; exit 1 }
      first = words; sub(/ .*/, "", first)
      list = list (list == "" ? "" : "\n") ".TP\n" option_roff(words) "\n"
      noted = (first in notes)
      if (noted) { used[first] = 1; t = notes[first]; sub(/\n$/, "", t); list = list t }
      else list = list esc(rest)
    } else if (l ~ /:[ ]*$/ && l !~ /^(Summary|Usage)/ && l !~ /^ /) {
      sub(/:[ ]*$/, "", l)
      list = list (list == "" ? "" : "\n") ".SS " toupper(substr(l, 1, 1)) substr(l, 2)
      blank = 0
    } else if (l == "") blank = 1
  }
  for (k in notes) if (!(k in used)) {
    print "render.sh: " source ": @option " k " is not in the help text" > "/dev/stderr"; exit 1
  }

  # The page: the source without its notes, the list in place of @OPTIONS@.
  key = ""
  while ((getline line < source) > 0) {
    if (line ~ /^@option /) { key = "x"; continue }
    if (line == "@end") { key = ""; continue }
    if (key != "") continue
    if (line == "@OPTIONS@") print list; else print line
  }
}' > "$output.tmp"
mv "$output.tmp" "$output"
