#!/usr/bin/env bash
# The Windows zip holds the program, a plain-text README naming the port library, and the licence.
set -euo pipefail
zip=$1
version=$2
folder="vesk-$version-win32"
listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
expected=$(printf '%s\n' "$folder/vesk.exe" "$folder/README.txt" "$folder/COPYING.txt")
[ "$listing" = "$expected" ] || { echo "zip holds:"; echo "$listing"; exit 1; }
readme=$(python3 -c 'import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode())' "$zip" "$folder/README.txt")
for needle in "inpout32.dll" "administrator" "--chip"; do
    grep -qF -- "$needle" <<< "$readme" || { echo "README.txt does not mention $needle"; exit 1; }
done
grep -q '\*\*\|`' <<< "$readme" && { echo "README.txt still has markdown in it"; exit 1; }
python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2])[:2] != b"MZ")' \
    "$zip" "$folder/vesk.exe" || { echo "vesk.exe is not a Windows program"; exit 1; }
echo "windows zip: vesk.exe, README.txt and COPYING.txt"
