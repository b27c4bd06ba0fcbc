#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and checks what a user would get.
# Usage: package_check.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
fail=0

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
debs=("$scratch"/cpack/vesk_*_"$(dpkg --print-architecture)".deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "no package made"; cat "$scratch/cpack.log"; exit 1; }
echo "package: $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vesk ] || { echo "Package: $(field Package)"; fail=1; }
[ "$(field Section)" = sound ] || { echo "Section: $(field Section)"; fail=1; }
[ -n "$(field Maintainer)" ] || { echo "no Maintainer"; fail=1; }
[ "$(field Description | wc -l)" -gt 2 ] || { echo "Description has no long text"; fail=1; }

# Depends comes from the libraries the program links, so each must be named.
depends=$(field Depends)
echo "Depends: $depends"
for library in libadplug libsdl2 libsoxr libsndfile libqt6widgets6 qt6-qpa-plugins; do
    grep -qE "(^|, )${library}[^,]*" <<<"$depends" || { echo "Depends lacks $library"; fail=1; }
done

root=$scratch/root
dpkg -x "$deb" "$root"
for file in usr/bin/vesk \
        usr/share/applications/io.github.vesk.desktop \
        usr/share/metainfo/io.github.vesk.metainfo.xml \
        usr/share/icons/hicolor/{32x32,48x48,64x64,128x128,256x256}/apps/vesk.png \
        usr/share/icons/hicolor/scalable/apps/vesk.svg \
        usr/share/man/man1/vesk.1.gz \
        usr/share/doc/vesk/copyright; do
    [ -s "$root/$file" ] || { echo "missing from the package: /$file"; fail=1; }
done
# The window's module, which the program loads only to open a window.
[ -n "$(find "$root/usr/lib" -path '*/vesk/vesk_window.so' 2>/dev/null)" ] ||
    { echo "missing from the package: the window module"; fail=1; }
# Nothing lands outside /usr (no /usr/local, no stray build paths).
stray=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$stray" ] || { echo "outside /usr: $stray"; fail=1; }

# The menu entry, the metadata and the icon fit together as a software centre reads them.
appstreamcli validate-tree --no-net "$root" || fail=1

# The unpacked program runs: it reports the package's version and renders a playable WAV.
version=$("$root/usr/bin/vesk" --version | head -1)
[ "$version" = "vesk $(field Version)" ] || { echo "the program says '$version', the package $(field Version)"; fail=1; }
"$root/usr/bin/vesk" --render "$scratch/tune.wav" --emulator mame || fail=1
[ "$(head -c 4 "$scratch/tune.wav" 2>/dev/null)" = RIFF ] || { echo "the render is no WAV file"; fail=1; }

[ $fail -eq 0 ] && echo "package check passed: $version"
exit $fail
