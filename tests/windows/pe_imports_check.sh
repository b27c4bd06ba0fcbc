#!/usr/bin/env bash
# Checks that each Windows binary given is 32-bit x86 (PE32, i386) and imports only DLLs that
# every Windows has. A compiler runtime DLL (libstdc++-6.dll and friends) would end the program
# before main, printing nothing, on a machine without it; the port library must be loaded at run
# time, never imported, so that its absence is an error the program can report.
# Usage: pe_imports_check.sh OBJDUMP FILE...
set -euo pipefail
objdump=$1
shift

# SDL2, linked in for live sound, adds imm32 (input methods), setupapi (device lists) and
# version; Windows has had all three since 2000.
system_dlls=(kernel32.dll msvcrt.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll
             oleaut32.dll comctl32.dll comdlg32.dll uxtheme.dll winmm.dll ws2_32.dll imm32.dll
             setupapi.dll version.dll
             shlwapi.dll)  # mpg123's path helpers, in libsndfile's MP3 support
status=0
for file in "$@"; do
    headers=$("$objdump" -p "$file")
    grep -q 'file format pei-i386' <<<"$headers" || { echo "$file: not PE i386"; status=1; }
    grep -Eq '^Magic[[:space:]]+010b' <<<"$headers" || { echo "$file: not PE32"; status=1; }
    dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')
    # Everything imports kernel32; its absence means the listing was not read.
    grep -qx kernel32.dll <<<"$dlls" || { echo "$file: no imports found"; status=1; }
    for dll in $dlls; do
        [[ " ${system_dlls[*]} " == *" $dll "* ]] || { echo "$file imports $dll"; status=1; }
    done
    echo "$file:" $dlls
done
exit $status
