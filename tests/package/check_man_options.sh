#!/usr/bin/env bash
# check_man_options.sh PROGRAM MAN_SOURCE
# Fails when the options PROGRAM --help lists and those in the OPTIONS
# section of its Markdown man page differ. A program with subcommands (a
# "Subcommands:" list in its help) is checked per subcommand against the
# "### name[, name]" subsections of OPTIONS; the lines before the first
# subsection hold the program's own options.
set -euo pipefail
program=$1
page=$2

# Option names of one help text: the first column of the lines that start
# with an option, split at commas ("-h,--help").
help_options() {
  "$program" "$@" --help | awk '/^ +-/ { print $1 }' | tr ',' '\n' | grep '^-' | sort -u
}

# Option names in the man page's OPTIONS for `section` ("" = the program's
# own): every **-x** / **--name** on a term line (one that starts with **-).
man_options() {
  awk -v want="$1" '
    /^# / { inOptions = ($0 == "# OPTIONS"); current = ""; next }
    !inOptions { next }
    /^### / {
      current = ""
      n = split(substr($0, 5), names, /, */)
      for (i = 1; i <= n; i++) if (names[i] == want) current = want
      if (current == "") current = "\001"
      next
    }
    current == want && /^\*\*-/ {
      line = $0
      while (match(line, /\*\*-[-A-Za-z0-9]*\*\*/)) {
        print substr(line, RSTART + 2, RLENGTH - 4)
        line = substr(line, RSTART + RLENGTH)
      }
    }' "$page" | sort -u
}

failed=0
compare() {
  local label=$1 help man
  shift
  help=$(help_options "$@")
  man=$(man_options "${1:-}")
  if [ -z "$help" ]; then
    echo "$label: --help lists no options"
    failed=1
  elif [ "$help" != "$man" ]; then
    echo "$label: --help and $page disagree (< --help only, > man page only):"
    diff <(echo "$help") <(echo "$man") | grep '^[<>]' || true
    failed=1
  fi
}

compare "$(basename "$program")"
subcommands=$("$program" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }')
for sub in $subcommands; do
  compare "$(basename "$program") $sub" "$sub"
done
# Every subsection must belong to a subcommand that exists.
for section in $(awk '/^# / { on = ($0 == "# OPTIONS") } on && /^### / { print substr($0, 5) }' "$page" | tr -d ' ' | tr ',' ' '); do
  if ! grep -qx "$section" <<<"$subcommands"; then
    echo "$page: OPTIONS has a subsection for \"$section\", which $(basename "$program") does not have"
    failed=1
  fi
done
[ $failed -eq 0 ] && echo "$(basename "$program"): --help and $page list the same options"
exit $failed
