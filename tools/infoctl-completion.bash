# bash completion for infoctl: commands, their options, and the files of -i, get-to-file and
# set-from-file. Installed as share/bash-completion/completions/infoctl; source it by hand to
# try it: . tools/infoctl-completion.bash
_infoctl() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  fi

  local commands="get set unset get-to-file set-from-file watch dump"
  # The command is the first word after the global options (-A ADDRESS, -i FILE, -h).
  local i=1 command=""
  while [ "$i" -lt "$cword" ]; do
    case ${words[i]} in
      -A | -i) i=$((i + 2)) ;;
      -*) i=$((i + 1)) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  if [ -z "$command" ]; then
    case $prev in
      -i) COMPREPLY=($(compgen -f -- "$cur")); return ;;
      -A) return ;;
    esac
    COMPREPLY=($(compgen -W "-A -i -h $commands" -- "$cur"))
    return
  fi

  case $command in
    get) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--json --" -- "$cur")) ;;
    set | unset) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "-v --" -- "$cur")) ;;
    watch) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "-n --json --" -- "$cur")) ;;
    dump) [[ $cur == -* ]] && COMPREPLY=($(compgen -W "--json --" -- "$cur")) ;;
    get-to-file | set-from-file)
      if [[ $cur == -* ]]; then
        [ "$command" = set-from-file ] && COMPREPLY=($(compgen -W "-v --" -- "$cur"))
      elif [ $((cword - i)) -ge 2 ]; then
        COMPREPLY=($(compgen -f -- "$cur"))
      fi
      ;;
  esac
}
complete -F _infoctl infoctl
