#!/usr/bin/env bash
# Builds the sound libraries for the 32-bit Windows build (AdPlug with libbinio, SDL2, libsoxr,
# libsndfile with its codecs FLAC, libogg, libvorbis, Opus, LAME and mpg123; zlib and
# libebur128) as static libraries from Debian's source packages, caches them, and prints the
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
# renamed into place only when all of them succeeded, with a stamp listing the versions written
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
# libsndfile needs the codecs, FLAC and libvorbis need libogg, and AdPlug needs libbinio.
packages=(zlib:zlib1g-dev libogg:libogg-dev flac:libflac-dev libvorbis:libvorbis-dev
          opus:libopus-dev lame:libmp3lame-dev mpg123:libmpg123-dev libebur128:libebur128-dev
          libbinio:libbinio-dev adplug:libadplug-dev libsoxr:libsoxr-dev
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
                lib/libz.a lib/libogg.a lib/libFLAC.a lib/libvorbis.a lib/libvorbisenc.a
                lib/libopus.a lib/libmp3lame.a lib/libmpg123.a lib/libebur128.a
                lib/pkgconfig/libbinio.pc lib/pkgconfig/adplug.pc lib/pkgconfig/soxr.pc
                lib/pkgconfig/sndfile.pc lib/pkgconfig/zlib.pc lib/pkgconfig/ogg.pc
                lib/pkgconfig/libebur128.pc lib/cmake/SDL2/SDL2Config.cmake)

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
fetched=$work/fetched
# One package at a time: the archive this machine reaches may lack a file of one of them. Then
# what did arrive is used (a missing signature or Debian packaging still leaves the upstream
# code), and a version the archive lacks altogether is taken from bookworm's own suite.
for want in "${wanted[@]}"; do
    src=${want%%=*}
    if (cd "$fetched" && nice apt-get "${apt_options[@]}" source --download-only "$want") \
            >>"$log" 2>&1; then
        continue
    fi
    if compgen -G "$fetched/${src}_*.orig.tar.*[!c]" >/dev/null; then
        say "$src: some files of $want are not in the archive; using those that are"
        continue
    fi
    say "$src: $want is not in the archive; taking bookworm's"
    if ! (cd "$fetched" && nice apt-get "${apt_options[@]}" source --download-only "$src/bookworm") \
            >>"$log" 2>&1; then
        tail -n 20 "$log" >&2
        fail "could not fetch $want; if the archive has newer versions, upgrade the Linux packages first"
    fi
done
for entry in "${packages[@]}"; do
    src=${entry%%:*}
    nice dpkg-source -x "$fetched/${src}_"*.dsc "$work/src/$src" >>"$log" 2>&1 && continue
    # By hand: the upstream tarball, then Debian's patches where its packaging came.
    rm -rf "$work/src/$src"
    mkdir -p "$work/src/$src"
    for tarball in "$fetched/${src}_"*.orig.tar.*; do
        [[ $tarball == *.asc ]] || run tar -xf "$tarball" --strip-components=1 -C "$work/src/$src"
    done
    for tarball in "$fetched/${src}_"*.debian.tar.*; do
        [ -f "$tarball" ] || continue
        run tar -xf "$tarball" -C "$work/src/$src"
        if [ -f "$work/src/$src/debian/patches/series" ]; then
            while read -r patch _; do
                [ -n "$patch" ] && [[ $patch != \#* ]] || continue
                run patch -d "$work/src/$src" -p1 -i "debian/patches/$patch"
            done <"$work/src/$src/debian/patches/series"
        fi
    done
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
    # The libraries built before it are found in the stage, as if in the prefix: the stage is
    # one more root for the toolchain's searches (a -D would not do: the toolchain file sets it).
    if [ ! -f "$work/toolchain.cmake" ]; then
        printf 'include("%s")\nlist(APPEND CMAKE_FIND_ROOT_PATH "%s")\n' "$toolchain_file" \
            "$stage" >"$work/toolchain.cmake"
    fi
    run cmake -S "$work/src/$name" -B "$work/build/$name" \
        -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=None \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DCMAKE_PREFIX_PATH="$prefix" "$@"
    run cmake --build "$work/build/$name" -j $jobs
    DESTDIR=$stage run cmake --install "$work/build/$name"
}

version_of() { sed -n "s/^source $1 //p" <<<"$stamp"; }

# A pkg-config file for a library whose build installs none on Windows.
write_pc() {  # NAME DESCRIPTION VERSION LIBS
    mkdir -p "$staged/lib/pkgconfig"
    cat >"$staged/lib/pkgconfig/$1.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $1
Description: $2
Version: $3
Libs: -L\${libdir} $4
Cflags: -I\${includedir}
EOF
}

# The codecs and the two small libraries first: they are the likeliest to need attention.
say "building zlib $(version_of zlib)"
cd "$work/src/zlib"
# Debian's tarball leaves out zlib's Windows makefiles, and its configure script builds for Unix:
# the library's fifteen sources are compiled here, as they stand.
zlib_sources=(adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate
              inftrees trees uncompr zutil)
for f in "${zlib_sources[@]}"; do run "$CC" $CFLAGS -c "$f.c" -o "$f.o"; done
run $host-ar rcs libz.a "${zlib_sources[@]/%/.o}"
mkdir -p "$staged/lib" "$staged/include"
cp libz.a "$staged/lib/" && cp zlib.h zconf.h "$staged/include/"
zlib_version=$(version_of zlib)
zlib_version=${zlib_version#*:}
write_pc zlib "zlib compression library" "${zlib_version%%.dfsg*}" -lz
step_done "zlib built"

say "building libogg $(version_of libogg)"
cmake_build libogg -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
step_done "libogg built"

say "building flac $(version_of flac)"
# MinGW's stack protector needs libssp, which nothing else links.
cmake_build flac -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF
step_done "flac built"

say "building libvorbis $(version_of libvorbis)"
cmake_build libvorbis -DBUILD_TESTING=OFF
step_done "libvorbis built"

say "building opus $(version_of opus)"
cd "$work/src/opus"
# Opus 1.3's tarball lacks files of its CMake build; its configure script is complete. MinGW's
# stack protector needs libssp, which nothing else links.
# Its configure script adds _FORTIFY_SOURCE unless it is set, which with MinGW needs libssp too.
run ./configure --host=$host --prefix="$prefix" --enable-static --disable-shared --disable-doc \
    --disable-extra-programs --disable-stack-protector CPPFLAGS=-D_FORTIFY_SOURCE=0
run make -j $jobs
run make install DESTDIR="$stage"
step_done "opus built"

say "building lame $(version_of lame)"
cd "$work/src/lame"
# The library alone, with the build files its tarball ships.
run ./configure --host=$host --prefix="$prefix" --enable-static --disable-shared \
    --disable-frontend --disable-gtktest --disable-decoder
run make -j $jobs -C libmp3lame
run make -C libmp3lame install DESTDIR="$stage"
run make -C include install DESTDIR="$stage"
lame_version=$(version_of lame)
write_pc mp3lame "LAME MP3 encoder" "${lame_version%%-*}" -lmp3lame
step_done "lame built"

say "building mpg123 $(version_of mpg123)"
cd "$work/src/mpg123"
# libmpg123 alone, with the portable decoder (no assembly).
run ./configure --host=$host --prefix="$prefix" --enable-static --disable-shared \
    --disable-components --enable-libmpg123 --with-cpu=generic_fpu
run make -j $jobs
run make install DESTDIR="$stage"
step_done "mpg123 built"

say "building libebur128 $(version_of libebur128)"
cmake_build libebur128 -DENABLE_INTERNAL_QUEUE_H=ON
step_done "libebur128 built"

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
# With the codecs built above: FLAC, Ogg Vorbis, Opus and MP3 (LAME and mpg123). Each must be
# found, or a render format would be missing from vesk.exe.
# FLAC's headers declare its functions as DLL imports unless told the library is static.
CFLAGS="$CFLAGS -DFLAC__NO_DLL" cmake_build libsndfile -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON \
    -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF
for codec in HAVE_EXTERNAL_XIPH_LIBS HAVE_MPEG; do
    grep -q "^#define $codec 1" "$work/build/libsndfile/src/config.h" ||
        fail "libsndfile was built without $codec"
done
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
