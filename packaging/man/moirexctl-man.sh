#!/usr/bin/env bash
# Writes the manual page of moirexctl: the hand-written parts of moirexctl.1.in around a section
# made from the program itself, one subsection per command with its summary and its --help text,
# so that the page lists every command the program has, as the program describes it.
#   moirexctl-man.sh MOIREXCTL TEMPLATE OUT
set -euo pipefail
ctl=$1 template=$2 out=$3

# Text as troff prints it: backslashes and dashes escaped, no line taken for a request.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

commands=$("$ctl" --commands)
[ -n "$commands" ] || { echo "moirexctl-man.sh: $ctl --commands told no command" >&2; exit 1; }
{
  echo '.SH COMMANDS'
  while IFS=$'\t' read -r name summary; do
    [ -n "$name" ] || continue
    # shellcheck disable=SC2086  # the name's words are the command's words
    usage=$("$ctl" $name --help)
    echo ".SS \"moirexctl $(roff <<<"$name")\""
    roff <<<"$summary" | sed -e '1s/^./\U&/' -e '$s/$/./'
    echo '.PP'
    echo '.nf'
    roff <<<"$usage"
    echo '.fi'
  done <<<"$commands"
} >"$out.commands"
marker='^\.\\" COMMANDS:'
grep -q "$marker" "$template" || { echo "moirexctl-man.sh: no COMMANDS line in $template" >&2; exit 1; }
sed -e "/$marker/{r $out.commands" -e 'd}' "$template" >"$out"
rm -f "$out.commands"
