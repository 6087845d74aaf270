#!/usr/bin/env bash
# Dependencies point down the table of docs/ARCHITECTURE.md: a folder's
# sources include only the folders it may use. Prints each include that
# points up or sideways, and fails when there is one.
# usage: tests/layering.sh ROOT
set -u
root=${1:?usage: layering.sh ROOT}
cd "$root" || exit 2
# folder: the folders it may include by name (engine and library headers are
# included by their bare names, which only lib/ and src/ provide).
declare -A allowed=(
  [lib]="" [src]="" [depict]="depict" [convert]="convert"
  [search]="search depict convert" [python]="search depict convert"
)
bad=0
for dir in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    target=${text#*\"}
    target=${target%%/*}
    case " ${allowed[$dir]} " in *" $target "*) continue ;; esac
    echo "$file:$line: $dir/ may not include $target/: $text"
    bad=1
  done < <(grep -rnE '#include "[a-z]+/' "$dir" --include='*.cpp' --include='*.h')
done
# The engine and the library never include a capability above them, even
# by a bare name that only exists there.
for name in screen stream output shard chunk cli report_html ranks molconvert layout limits depict pyengine; do
  if grep -rnE "#include \"$name\.h\"" lib src; then bad=1; fi
done
exit $bad
