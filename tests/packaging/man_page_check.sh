#!/usr/bin/env bash
# The manual page renders without a warning and keeps step with --help and --version.
# Usage: man_page_check.sh VESK_BINARY MAN_PAGE
set -euo pipefail
vesk=$1 page=$2
fail=0

rendered=$(mktemp) warnings=$(mktemp)
trap 'rm -f "$rendered" "$warnings"' EXIT
MANWIDTH=80 man --warnings -l "$page" >"$rendered" 2>"$warnings"
if [ -s "$warnings" ]; then
    echo "man reports warnings:"; cat "$warnings"; fail=1
fi

# Options as a reader sees them, after roff escapes: every one that --help lists must be there.
help_options=$("$vesk" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$help_options" ] || { echo "--help lists no options"; exit 1; }
for option in $help_options; do
    grep -qE -- "(^|[^a-z-])${option}([^a-z-]|$)" "$rendered" || { echo "not in the man page: $option"; fail=1; }
done

# And the other way: an option the page documents (an indented item line) must still exist.
page_options=$(grep -oE -- '^ {7}--[a-z][a-z-]*' "$rendered" | tr -d ' ' | sort -u)
for option in $page_options; do
    grep -qxF -- "$option" <<<"$help_options" || { echo "the man page has an option --help lacks: $option"; fail=1; }
done

# The page's count of the registers a DRO keeps is what a DRO capture holds. Start-up writes
# every address from 1 to 245, so its codemap lists each one the DRO writer keeps. DRO 2.0 puts
# the codemap's length at byte 0x19 of the header and the codemap after it.
said=$(sed -nE 's/.*the ([0-9]+) addresses where the OPL2 has a register.*/\1/p' "$page")
dro=$(mktemp --suffix=.dro) && rm -f "$dro"
printf 'sluta\n' | "$vesk" --text --chip none --capture "$dro" >/dev/null 2>&1
held=$(python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(len(set(d[0x1A:0x1A + d[0x19]])))' "$dro")
rm -f "$dro"
[ -n "$said" ] && [ "$said" = "$held" ] ||
    { echo "the man page says a DRO keeps ${said:-no number of} registers; a capture holds $held"; fail=1; }

# The footer names the version the program reports.
version=$("$vesk" --version | head -1)
grep -qF -- "$version " "$rendered" || { echo "the man page is not for $version"; fail=1; }

[ $fail -eq 0 ] && echo "man page: $(wc -w <<<"$help_options") options, a DRO's $held registers, no warnings, $version"
exit $fail
