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

# The footer names the version the program reports.
version=$("$vesk" --version)
grep -qF -- "$version " "$rendered" || { echo "the man page is not for $version"; fail=1; }

[ $fail -eq 0 ] && echo "man page: $(wc -w <<<"$help_options") options, no warnings, $version"
exit $fail
