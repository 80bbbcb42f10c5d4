#!/usr/bin/env bash
# Installs a build into a new temporary prefix and checks what arrived: vepctl and vepsim run
# from there, `man -l` renders their pages with the hand-written sections and every command,
# and their completion scripts complete commands and options in bash; with the desktop program,
# its page, desktop entry, icon and metainfo are in place as well. Sends nothing (scoutor is
# never started).
set -euo pipefail
# (grep -q is never at the end of a pipe here: its early exit would fail the pipe's writer.)
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
echo "installed into $prefix:"
(cd "$prefix" && find . -type f -o -type l | sort)

for program in vepctl vepsim; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is missing"
  version=$("$prefix/bin/$program" --version) || fail "$program --version from the prefix"
  [[ $version == "$program "* ]] || fail "$program --version says '$version'"
  page=$prefix/share/man/man1/$program.1.gz
  [ -f "$page" ] || fail "share/man/man1/$program.1.gz is missing"
  rendered=$(MANWIDTH=100 man -l "$page" 2>&1 | col -b) || fail "man -l $page"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -q "^$section\$" <<<"$rendered" || fail "$program.1 has no $section section"
  done
  [ -f "$prefix/share/bash-completion/completions/$program" ] ||
    fail "share/bash-completion/completions/$program is missing"
done

# Every command of vepctl has its own part of the page, with its options.
commands=$("$prefix/bin/vepctl" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}')
[ -n "$commands" ] || fail "vepctl --help lists no commands"
rendered=$(MANWIDTH=100 man -l "$prefix/share/man/man1/vepctl.1.gz" | col -b)
for command in $commands; do
  grep -q "^   vepctl $command\$" <<<"$rendered" || fail "vepctl.1 does not describe '$command'"
done
grep -q -- "--wait MS" <<<"$rendered" || fail "vepctl.1 shows no command's options"

# The completion offers what the installed programs accept.
complete_words() {  # program, words of the command line (the last one is being completed)
  local program=$1
  shift
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1));
           "_$(basename "$1" | tr - _)"; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$prefix/share/bash-completion/completions/$program" "$program" "$@"
}
offered=$(complete_words vepctl "")
for command in $commands; do
  grep -qx "$command" <<<"$offered" || fail "completion does not offer '$command'"
done
[ "$(complete_words vepctl dis)" = discover ] || fail "completion of 'dis'"
offers() {  # the word that must be offered, then the command line
  local word=$1
  shift
  grep -qx -- "$word" <<<"$(complete_words "$@")"
}
offers --wait vepctl discover --w || fail "completion of discover's --wait"
offers --json vepctl --json discover --js || fail "global option after a command"
offers csv vepctl discover --format "" || fail "the values --format takes"
offers lo vepctl discover --interface l || fail "vepctl interface names"
offers lo vepsim --hold-addresses l || fail "vepsim interface names"
offers --malformed vepsim --mal || fail "vepsim options"

if [ -e "$prefix/bin/scoutor" ]; then
  page=$prefix/share/man/man1/scoutor.1.gz
  [ -f "$page" ] || fail "share/man/man1/scoutor.1.gz is missing"
  rendered=$(MANWIDTH=100 man -l "$page" 2>&1 | col -b) || fail "man -l $page"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" CAPABILITIES FILES "SEE ALSO"; do
    grep -q "^$section\$" <<<"$rendered" || fail "scoutor.1 has no $section section"
  done
  for file in applications/net.halvex.scoutor.desktop metainfo/net.halvex.scoutor.metainfo.xml \
              icons/hicolor/scalable/apps/net.halvex.scoutor.svg; do
    [ -f "$prefix/share/$file" ] || fail "share/$file is missing"
  done
fi
echo "install: programs, man pages and completion are in place and work"
