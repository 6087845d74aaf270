# Bash completion for taviron and its companion programs.
#
# The options come from the program's own --help (read once per program and
# kept), so the completion follows the program as it changes. After an option
# whose argument is a <file>, file names are offered; plain words are input
# files.

declare -gA _taviron_help

# Prints "option<TAB>argument" for every option of the help text of $1.
_taviron_table() {
  local prog=$1
  if [[ -z ${_taviron_help[$prog]+set} ]]; then
    _taviron_help[$prog]=$(
      "$prog" --help 2>/dev/null | awk '
        /^\t[-<A-Z]/ {
          n = split(substr($0, 2), t, " ")
          if (t[1] !~ /^-/) next
          arg = (n > 1 && t[2] ~ /^<.*>$/) ? substr(t[2], 2, length(t[2]) - 2) : ""
          k = split(t[1], names, "/")
          for (i = 1; i <= k; i++) print names[i] "\t" arg
        }'
      # Every program also takes the option library'\''s own two.
      printf '%s\t\n' --library_version --option_debug
    )
  fi
  printf '%s\n' "${_taviron_help[$prog]}"
}

_taviron() {
  local cur=${COMP_WORDS[COMP_CWORD]} opt=
  local table line arg=
  table=$(_taviron_table "${COMP_WORDS[0]}")
  COMPREPLY=()

  # The option whose value is being typed: "--output FILE" or "--output=FILE".
  if ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == = ]]; then
    opt=${COMP_WORDS[COMP_CWORD - 2]}
  elif ((COMP_CWORD > 0)); then
    opt=${COMP_WORDS[COMP_CWORD - 1]}
  fi
  if [[ $opt == -* ]]; then
    while IFS=$'\t' read -r line arg; do
      [[ $line == "$opt" ]] && break
      arg=
    done <<<"$table"
    case $arg in
      '') ;;
      file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return ;;
      format) mapfile -t COMPREPLY < <(compgen -W 'tsv jsonl' -- "$cur"); return ;;
      *'|'*) mapfile -t COMPREPLY < <(compgen -W "${arg//|/ }" -- "$cur"); return ;;
      *) return ;; # a number or a name: nothing to offer
    esac
  fi

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(cut -f1 <<<"$table")" -- "$cur")
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

complete -F _taviron taviron taviron-search taviron-search-mpi taviron-convert taviron-depict
