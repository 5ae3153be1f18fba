# bash completion for tickwright(1): its switches, counter headers (*.h), and
# the files that /b: and /e: name (*.bat, *.env). Needs nothing of the
# bash-completion package.

# Adds to COMPREPLY the files of `word` with extension `ext` and the folders.
_tickwright_files() {
  local word=$1 ext=$2 line
  while IFS= read -r line; do COMPREPLY+=("$line"); done < <(
    compgen -f -X "!*.$ext" -- "$word"
    compgen -d -- "$word")
}

_tickwright() {
  # The word as the user typed it: bash splits "/b:x" at the colon
  # (COMP_WORDBREAKS), the tool does not.
  local cur=${COMP_LINE:0:COMP_POINT}
  cur=${cur##*[[:space:]]}
  COMPREPLY=()
  local switch
  case $cur in
    [-/][bBeE]:*)
      case ${cur:1:1} in
        [bB]) _tickwright_files "${cur#*:}" bat ;;
        *) _tickwright_files "${cur#*:}" env ;;
      esac
      # What bash replaces begins after the last word break.
      if [[ $COMP_WORDBREAKS != *:* ]]; then COMPREPLY=("${COMPREPLY[@]/#/${cur%%:*}:}"); fi
      compopt -o filenames
      return
      ;;
    -*)
      for switch in -nologo -i -c -n -b -b: -e -e: -? --help --version; do
        [[ $switch == "$cur"* ]] && COMPREPLY+=("$switch")
      done
      ;;
    /*/*)
      _tickwright_files "$cur" h
      compopt -o filenames
      return
      ;;
    /*)
      # A switch, or a path at the root of the file system.
      for switch in /nologo /i /c /n /b /b: /e /e: /?; do
        [[ $switch == "$cur"* ]] && COMPREPLY+=("$switch")
      done
      local path
      while IFS= read -r path; do [[ -d $path ]] && path+=/; COMPREPLY+=("$path"); done < <(
        compgen -f -X "!*.h" -- "$cur"
        compgen -d -- "$cur")
      ;;
    *)
      _tickwright_files "$cur" h
      compopt -o filenames
      return
      ;;
  esac
  # A switch that takes a value, or a folder, goes on without a blank.
  if [[ ${#COMPREPLY[@]} == 1 && ${COMPREPLY[0]} == *[:/] ]]; then compopt -o nospace; fi
  if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
    COMPREPLY=("${COMPREPLY[@]#"${cur%"${cur##*:}"}"}")
  fi
}

complete -F _tickwright tickwright Tickwright
