#!/usr/bin/env bash
# The bash completion as a shell offers it: host titles after --pilot, after
# each comma of a list, and after --remove-host, in a POSIX locale as well.
# Usage: Completion.sh BRELO COMPLETION-FILE
set -u
brelo=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export BRELO_HOME=$home
"$brelo" --add-host テスト局 --address a.example --user-id U <<<"" >/dev/null || exit 1
"$brelo" --add-host "My Host" --address b.example --user-id U <<<"" >/dev/null || exit 1
# What bash-completion provides, as far as the completion uses it.
_init_completion() {
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
}
_filedir() { :; }
complete() { :; }
# shellcheck source=/dev/null
. "$2"
failed=0
expect() {  # expect "WANTED REPLIES" WORDS...
  local wanted=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _brelo
  local got
  got=$(printf '%s|' "${COMPREPLY[@]}")
  if [ "$got" != "$wanted" ]; then
    echo "completing \"$*\" (LC_ALL=${LC_ALL:-}): got \"$got\", wanted \"$wanted\""
    failed=1
  fi
}
for locale in C.UTF-8 C POSIX; do
  export LC_ALL=$locale
  expect "テスト局|" brelo --pilot テ
  expect "0,デモ草の根ネット\\ \\(練習用\\)|0,テスト局|0,My\\ Host|" brelo --pilot 0,
  expect "all|デモ草の根ネット\\ \\(練習用\\)|テスト局|My\\ Host|" brelo --pilot ""
  expect "2,My\\ Host|" brelo --pilot 2,M
  expect "My\\ Host|" brelo --remove-host My
  expect "ktbbs|" brelo --add-host X --kind k
done
exit $failed
