# Bash completion for dovrane: its own options, the specified options, and
# host and project names from "dovrane --list" (the shared project table).

_dovrane_list_column() {
  # $1: 1 project names, 3 host names
  dovrane --list 2>/dev/null | cut -f"$1" | sort -u
}

_dovrane() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  }
  local own="--dry-run --json --list --host --verbose --help --version --"
  local project_options="-exist -info -getpath -getnumber -getdbid -move -move_y -reorg -renewUUIDs
    -updateattr -erase -erase_y -create -unblock"
  local IFS=$'\n'
  case "$prev" in
    --host | -move | -move_y | -create | -update)
      COMPREPLY=($(compgen -W "$(_dovrane_list_column 3)" -- "$cur"))
      return ;;
    -checkin)
      COMPREPLY=($(compgen -d -- "$cur"))
      return ;;
    -getpath | -getnumber | -getdbid)
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
  esac
  # Past the program's own options: the first word of the specified command.
  local i=1
  while [[ $i -lt $cword && ${words[i]} == --* ]]; do
    [[ ${words[i]} == --host ]] && ((i++))
    ((i++))
  done
  if [[ $i -eq $cword ]]; then
    if [[ $cur == --* ]]; then
      IFS=' ' COMPREPLY=($(compgen -W "$own" -- "$cur"))
    elif [[ $cur == -* ]]; then
      IFS=' ' COMPREPLY=($(compgen -W "-update -restore -checkin -usercfg" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$(_dovrane_list_column 1)" -- "$cur"))
      COMPREPLY=("${COMPREPLY[@]// /\\ }")
    fi
  elif [[ $((i + 1)) -eq $cword && ${words[i]} != -* ]]; then
    IFS=$' \n\t' COMPREPLY=($(compgen -W "$project_options" -- "$cur"))
  fi
}
complete -F _dovrane dovrane
