#!/usr/bin/env bash
# Compares the core output digests that a build's core_output_digest prints with the Linux
# build's: those its program prints now when it is built, otherwise those kept in the tree.
# Usage: core_output_compare.sh KEPT_DIGESTS LINUX_PROGRAM|"" COMMAND...
set -euo pipefail
kept=$1 linux=$2
shift 2

# A Windows program's lines end in CR LF.
actual=$("$@" | tr -d '\r')
if [ -n "$linux" ] && [ -x "$linux" ]; then
    expected=$("$linux")
    from="the Linux build's $linux"
else
    expected=$(cat "$kept")
    from=$kept
fi
echo "$actual"
if [ "$actual" = "$expected" ]; then
    echo "The same as $from."
    exit 0
fi
echo "Not the same as $from:"
diff <(echo "$expected") <(echo "$actual") || true
exit 1
