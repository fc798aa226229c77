# Bash completion for dovrane: its own options, the specified options, and
# host and project names from "dovrane --list" (the shared project table).

# Words of column $1 of the list (1 project names, 3 host names) that begin with $2.
_dovrane_names() {
  local column=$1 prefix=$2
  dovrane --list 2>/dev/null | cut -f"$column" | sort -u | while IFS= read -r name; do
    [[ $name == "$prefix"* ]] && printf '%q\n' "$name"
  done
}

_dovrane() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cword=$COMP_CWORD
  local own="--dry-run --json --list --host --verbose --where --help --version --"
  local project_options="-exist -info -getpath -getnumber -getdbid -move -move_y -reorg -renewUUIDs
    -updateattr -erase -erase_y -create -unblock"
  COMPREPLY=()
  case "$prev" in
    --host | -move | -move_y | -create | -update)
      mapfile -t COMPREPLY < <(_dovrane_names 3 "$cur")
      return ;;
    -checkin)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return ;;
    -getpath | -getnumber | -getdbid)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
  esac
  # Past the program's own options: the first word of the specified command.
  local i=1
  while [[ $i -lt $cword && ${COMP_WORDS[i]} == --* ]]; do
    [[ ${COMP_WORDS[i]} == --host ]] && ((i++))
    ((i++))
  done
  if [[ $i -eq $cword ]]; then
    if [[ $cur == --* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "$own" -- "$cur")
    elif [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "-update -restore -checkin -usercfg" -- "$cur")
    else
      mapfile -t COMPREPLY < <(_dovrane_names 1 "${cur//\\/}")
    fi
  elif [[ $((i + 1)) -eq $cword && ${COMP_WORDS[i]} != -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$project_options" -- "$cur")
  fi
}
complete -F _dovrane dovrane
