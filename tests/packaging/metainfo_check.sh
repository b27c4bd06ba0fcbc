#!/usr/bin/env bash
# The software-centre metadata and the menu entry pass their validators, warnings included, and
# the newest release listed is the program's version.
# Usage: metainfo_check.sh VESK_BINARY METAINFO DESKTOP_FILE
set -euo pipefail
vesk=$1 metainfo=$2 desktop=$3
fail=0

appstreamcli validate --no-net "$metainfo" || fail=1
# desktop-file-validate exits 0 on warnings; any output is a finding.
out=$(desktop-file-validate "$desktop" 2>&1) || fail=1
if [ -n "$out" ]; then echo "$out"; fail=1; fi

# Releases are listed newest first.
release=$(grep -oE '<release version="[^"]+"' "$metainfo" | head -n1 | cut -d'"' -f2)
version=$("$vesk" --version | head -1)
[ "vesk $release" = "$version" ] || { echo "newest release $release, but the program is $version"; fail=1; }
# The launchable names the menu entry by its file name.
grep -qF "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
    { echo "the launchable is not $(basename "$desktop")"; fail=1; }
exit $fail
