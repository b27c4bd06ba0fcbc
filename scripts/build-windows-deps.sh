#!/usr/bin/env bash
# Builds the sound libraries for the 32-bit Windows build (AdPlug with libbinio, SDL2, libsoxr,
# libsndfile) as static libraries from Debian's source packages, caches them, and prints the
# install prefix that holds them.
#
#   build-windows-deps.sh           build unless the cache is valid; print the prefix on stdout
#
# Progress goes to stderr. Debian ships none of these built for Windows, but its source packages
# cross-build with MinGW-w64. Each is fetched at the source version of the Linux package that is
# installed, so both builds run the same code, and built with the project's own toolchain file
# and the same posix-thread-model compilers as the program.
#
# The result lives outside the clone, in ${XDG_CACHE_HOME:-~/.cache}/vesk/, in a folder named by
# a hash of the versions, the toolchain and this recipe, so every clone on the machine shares it
# and a change to any of them builds a new one. Everything is built in a scratch folder and
# renamed into place only when all five succeeded, with a stamp listing the versions written
# last; a folder without the right stamp is never trusted. A lock keeps two runs from building
# at once: the second waits, then finds the first one's result.
#
# apt runs on a private configuration and lists (a deb-src entry of its own, under the cache
# folder), so the system's sources and package lists are left as they were.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
toolchain_file=$here/cmake/mingw-i686-posix.cmake
host=i686-w64-mingw32
export CC=$host-gcc-posix CXX=$host-g++-posix
jobs=2

say() { echo "windows deps: $*" >&2; }
fail() { say "$*"; exit 1; }

# Source package and the Linux package whose source version it must match, in build order:
# AdPlug needs libbinio.
packages=(libbinio:libbinio-dev adplug:libadplug-dev libsoxr:libsoxr-dev
          libsndfile:libsndfile1-dev libsdl2:libsdl2-dev)
# What the toolchain is made of; a new version of any of them builds the libraries again.
toolchain_packages=(gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix mingw-w64-i686-dev
                    binutils-mingw-w64-i686 cmake)

installed_version() {  # PACKAGE FIELD: a field of an installed package, or nothing
    dpkg-query -W -f="\${db:Status-Status} \${$2}" "$1" 2>/dev/null | sed -n 's/^installed //p'
}

# The stamp: every input the result depends on, one per line.
stamp_text() {
    local entry src bin version
    for entry in "${packages[@]}"; do
        src=${entry%%:*} bin=${entry#*:}
        version=$(installed_version "$bin" source:Version)
        [ -n "$version" ] || fail "$bin is not installed (scripts/install-deps.sh installs it)"
        echo "source $src $version"
    done
    for bin in "${toolchain_packages[@]}"; do
        version=$(installed_version "$bin" Version)
        [ -n "$version" ] || fail "$bin is not installed (scripts/install-deps.sh installs it)"
        echo "toolchain $bin $version"
    done
    echo "recipe $(cat "$0" "$toolchain_file" | sha256sum | cut -c1-16)"
}

# What a finished prefix holds; checked as well as the stamp, since a cache can be pruned by hand.
expected_files=(lib/libbinio.a lib/libadplug.a lib/libsoxr.a lib/libsndfile.a lib/libSDL2.a
                lib/pkgconfig/libbinio.pc lib/pkgconfig/adplug.pc lib/pkgconfig/soxr.pc
                lib/pkgconfig/sndfile.pc lib/cmake/SDL2/SDL2Config.cmake)

valid() {  # PREFIX
    [ -f "$1/vesk-deps.stamp" ] && [ "$(cat "$1/vesk-deps.stamp")" = "$stamp" ] || return 1
    local f
    for f in "${expected_files[@]}"; do [ -f "$1/$f" ] || return 1; done
}

stamp=$(stamp_text)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vesk
prefix=$cache/windows-deps-$(sha256sum <<<"$stamp" | cut -c1-16)

if valid "$prefix"; then
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/windows-deps.lock"
if ! flock -n 9; then
    say "another build is running; waiting for it"
    flock 9
fi
if valid "$prefix"; then
    echo "$prefix"
    exit 0
fi

# Holding the lock, nothing else is building: scratch folders left by a run that was stopped,
# and a prefix that did not pass the check, are removed.
rm -rf "$cache"/windows-deps-build.* "$prefix"
work=$(mktemp -d "$cache/windows-deps-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Installed into stage/ as if into the prefix, then moved there; both are under the cache
# folder, so the move is a rename.
stage=$work/stage
staged=$stage$prefix
started=$(date +%s)
step_started=$started

step_done() {
    local now
    now=$(date +%s)
    say "$1 ($((now - step_started)) s)"
    step_started=$now
}

# Runs a command with its output in the step's log, showing the log's end if it fails.
log=$work/log
run() {
    if ! nice "$@" >>"$log" 2>&1; then
        say "failed: $*"
        tail -n 40 "$log" >&2
        cp "$log" "$cache/windows-deps-failed.log"
        fail "the whole log is in $cache/windows-deps-failed.log"
    fi
}

# ---- Fetch ----
say "fetching Debian source packages into $work"
apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" \
         "$work/fetched" "$work/src"
# The same archive, suites and key as the system's own entries, for sources.
cat >"$apt_dir/sources.list.d/vesk-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
             -o Dir::State::Status=/var/lib/dpkg/status)
# apt's download user cannot enter a root-only home folder.
[ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)
run apt-get "${apt_options[@]}" update
wanted=()
while read -r kind name version; do
    [ "$kind" = source ] && wanted+=("$name=$version")
done <<<"$stamp"
if ! (cd "$work/fetched" && nice apt-get "${apt_options[@]}" source --download-only "${wanted[@]}") \
        >>"$log" 2>&1; then
    tail -n 20 "$log" >&2
    fail "could not fetch ${wanted[*]}; if the archive has newer versions, upgrade the Linux packages first"
fi
for entry in "${packages[@]}"; do
    src=${entry%%:*}
    run dpkg-source -x "$work/fetched/${src}_"*.dsc "$work/src/$src"
done
step_done "fetched and unpacked ${wanted[*]}"

# ---- Build ----
export PKG_CONFIG_LIBDIR=$staged/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage
# -O2 and no other build type's flags, as Debian builds them; -g only makes the archives larger.
export CFLAGS=-O2 CXXFLAGS=-O2

autotools_build() {  # NAME CONFIGURE-ARG...: the libtool library and what installing it needs
    local name=$1
    shift
    cd "$work/src/$name"
    # The tarballs' generated files come from another Automake, or are missing.
    run autoreconf -fi
    run ./configure --host=$host --prefix="$prefix" --enable-static --disable-shared "$@"
}

cmake_build() {  # NAME CMAKE-ARG...
    local name=$1
    shift
    run cmake -S "$work/src/$name" -B "$work/build/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
    run cmake --build "$work/build/$name" -j $jobs
    DESTDIR=$stage run cmake --install "$work/build/$name"
}

version_of() { sed -n "s/^source $1 //p" <<<"$stamp"; }

say "building libbinio $(version_of libbinio)"
autotools_build libbinio
run make -j $jobs
run make install DESTDIR="$stage"
step_done "libbinio built"

say "building adplug $(version_of adplug)"
autotools_build adplug
# The library alone: AdPlug's database tool and tests are not needed.
run make -j $jobs src/libadplug.la
run make install-libLTLIBRARIES install-pkgincludeHEADERS install-pkgconfigDATA DESTDIR="$stage"
step_done "adplug built"

say "building libsoxr $(version_of libsoxr)"
cmake_build libsoxr -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF \
    -DWITH_LSR_BINDINGS=OFF
# soxr installs its pkg-config file on Unix only.
soxr_version=$(version_of libsoxr)
cat >"$staged/lib/pkgconfig/soxr.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: soxr
Description: High quality, one-dimensional sample-rate conversion library
Version: ${soxr_version%%-*}
Libs: -L\${libdir} -lsoxr
Cflags: -I\${includedir}
EOF
step_done "libsoxr built"

say "building libsndfile $(version_of libsndfile)"
# WAV is all the program writes: no codec libraries (FLAC, Vorbis, Opus, MPEG).
cmake_build libsndfile -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF
step_done "libsndfile built"

say "building libsdl2 $(version_of libsdl2), the longest"
# SDL's video part stays: SDL2 does not link without it.
cmake_build libsdl2 -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF
step_done "libsdl2 built"

# libtool's archives name the scratch folder and are of no use to CMake.
find "$staged" -name '*.la' -delete
for f in "${expected_files[@]}"; do
    [ -f "$staged/$f" ] || fail "the build did not install $f"
done
echo "$stamp" >"$staged/vesk-deps.stamp"
mv "$staged" "$prefix"
say "done in $(($(date +%s) - started)) s: $prefix"
echo "$prefix"
