#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over every source file in the compile commands of BUILD_DIR, then
# clang-format (.clang-format) over every C++ file. Any finding fails.
set -euo pipefail
build=${1:-build/lint}
cd "$(dirname "$0")/.."
status=0

# The files the compile commands know (the Windows-only backend is not among them).
mapfile -t sources < <(python3 - "$build/compile_commands.json" <<'PY'
import json, os, subprocess, sys
known = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
tracked = subprocess.run(["git", "ls-files", "*.cpp"], capture_output=True, text=True,
                         check=True).stdout.split()
print("\n".join(f for f in tracked if os.path.realpath(f) in known))
PY
)
echo "clang-tidy: ${#sources[@]} files"
if ! printf '%s\n' "${sources[@]}" |
    xargs -P "${JOBS:-2}" -n 4 clang-tidy -p "$build" --quiet 2> /dev/null; then
    status=1
fi

mapfile -t cxx < <(git ls-files '*.cpp' '*.h')
echo "clang-format: ${#cxx[@]} files"
clang-format --dry-run --Werror "${cxx[@]}" || status=1

[ "$status" = 0 ] && echo "lint: no findings"
exit "$status"
