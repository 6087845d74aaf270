#!/usr/bin/env bash
# install_test.sh SOURCE BUILD "PROGRAMS" [PYTHON [PRELOAD]]: installs BUILD into two
# temporary prefixes (cmake --install, make install) and checks what a user
# gets: exactly the built programs, pages, completions and Python package;
# programs that run; pages that render without warnings and name every option
# of the program's --help; a completion that offers those options.
set -uo pipefail
src=$1 build=$2 python=${4:-} preload=${5:-}
read -ra programs <<<"$3"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$tmp/p" >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail "cmake --install"; }
make -C "$src" install BUILD="$build" PREFIX="$tmp/m" >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail "make install"; }
diff <(cd "$tmp/p" && find . -type f | sort) <(cd "$tmp/m" && find . -type f | sort) ||
  fail "make install and cmake --install install different files"
p=$tmp/p

# Options as the help text lists them: the first field of its tab lines.
options_of() { "$1" --help | awk -F'[ \t]+' '/^\t-/ { n = split($2, o, "/"); for (i = 1; i <= n; i++) print o[i] }'; }

# Nothing but what was built.
expected=()
for prog in "${programs[@]}"; do
  expected+=("bin/$prog" "share/man/man1/$prog.1" "share/bash-completion/completions/$prog")
done
while IFS= read -r f; do
  f=${f#./}
  case " ${expected[*]} " in *" $f "*) continue ;; esac
  [[ -n $python && $f == lib/python3*/*-packages/taviron/* ]] && continue
  fail "installed but not expected: $f"
done < <(cd "$p" && find . -type f)
for f in "${expected[@]}"; do [[ -f $p/$f ]] || fail "not installed: $f"; done

have_man=1 have_groff=1
command -v man >/dev/null || { have_man=0; echo "skipped: man -l checks (apt-get install man-db)"; }
command -v groff >/dev/null || { have_groff=0; echo "skipped: groff checks (apt-get install groff-base)"; }
sections=(NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT "EXIT STATUS" EXAMPLES "SEE ALSO")

for prog in "${programs[@]}"; do
  bin=$p/bin/$prog page=$p/share/man/man1/$prog.1
  "$bin" --version | grep -q "^$prog: TAVIRON ver " || fail "$prog --version"
  mapfile -t opts < <(options_of "$bin")
  ((${#opts[@]} > 2)) || fail "$prog --help lists no options"

  if [[ -f $page ]]; then
    if ((have_groff)); then
      out=$(groff -man -ww -z "$page" 2>&1)
      [[ -z $out ]] || fail "groff warns on $prog.1: $out"
    fi
    if ((have_man)); then
      out=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
      [[ -z $out ]] || fail "man -l warns on $prog.1: $out"
      text=$(LC_ALL=C MANWIDTH=80 man -l "$page" 2>/dev/null)
      for s in "${sections[@]}"; do
        grep -q "^$s\$" <<<"$text" || fail "$prog.1 has no section $s"
      done
      options_section=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$text")
      for o in "${opts[@]}"; do
        grep -qE -- "(^|[^[:alnum:]_-])$o([^[:alnum:]_-]|\$)" <<<"$options_section" ||
          fail "$prog.1 does not describe $o (in $prog --help)"
      done
    fi
  fi

  # The completion, loaded as bash-completion loads it, driven as bash drives it.
  offered=$(PATH="$p/bin:$PATH" bash -c '
    source "$1" || exit 1
    COMP_WORDS=("$2" -); COMP_CWORD=1; _taviron; printf "%s\n" "${COMPREPLY[@]}"
    cd "$3" && COMP_WORDS=("$2" -o exa); COMP_CWORD=2; _taviron
    printf "file:%s\n" "${COMPREPLY[@]}"' _ "$p/share/bash-completion/completions/$prog" "$prog" "$src")
  for o in "${opts[@]}"; do
    grep -qx -- "$o" <<<"$offered" || fail "completion of $prog does not offer $o"
  done
  grep -qx 'file:examples' <<<"$offered" || fail "completion of $prog offers no file name after -o"
done

# The package where Python looks for a prefix's modules.
if [[ -n $python ]]; then
  where=$(LD_PRELOAD=$preload "$python" -c 'import site, sys
for d in site.getsitepackages([sys.argv[1]]): site.addsitedir(d)
import taviron; print(taviron.__file__)' "$p" 2>&1)
  [[ $where == "$p"/* ]] || fail "installed Python package not found for the prefix: $where"
fi

((failures == 0)) && echo "install: ${#programs[@]} programs checked"
exit $((failures > 0))
