#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need; skips what is there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    libadplug-dev libsdl2-dev libpulse-dev libpipewire-0.3-dev libsndfile1-dev libsoxr-dev
    # Real chips without root: a sound card's OPL through ALSA's hwdep calls, and the OPL2LPT
    # on a parallel port through libieee1284.
    libasound2-dev libieee1284-3-dev
    adplay python3 time
    # Live sound through a sound server of the tests' own, recorded and analysed; ALSA's pulse
    # plugin lets the bench reach the same server through SDL's alsa driver.
    pulseaudio pulseaudio-utils python3-numpy libasound2-plugins
    # The 32-bit Windows build: the posix thread model, since the win32 one has no std::thread or
    # std::mutex in GCC 12. Its tests run under Wine's 32-bit loader; Xvfb and xdotool drive the
    # Windows window headless.
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine32:i386 xvfb xdotool
    # The menu entry, metadata and man page checks, and the Debian package.
    desktop-file-utils appstream man-db
    # The Windows build's sound libraries, built from Debian's source packages (scripts/build-windows-deps.sh):
    # dpkg-source unpacks them, and AdPlug and libbinio need their build files made afresh.
    dpkg-dev xz-utils autoconf automake libtool
    # LAME's source version for that build is read from its -dev package.
    libmp3lame-dev
    # The window's X11 tests, the fuzz targets and the lint.
    libxcb1-dev libx11-6
    clang clang-tidy clang-format libclang-rt-14-dev
    # .vgz captures are gzip'd with zlib; the collector test unpacks them with Python's gzip.
    zlib1g-dev
    # The window's media controls and taskbar progress, tested on a session bus of the test's
    # own: the bus itself, dbus-monitor for what the window says, gdbus to call it.
    dbus-daemon dbus-session-bus-common dbus-bin libglib2.0-bin
    # Live sound through a PipeWire server of the tests' own, as desktops run it: PipeWire, its
    # pulse server and WirePlumber, on a private session bus (dbus-daemon, above).
    pipewire pipewire-pulse wireplumber
    # A real terminal for the text front end's and the render's terminal test.
    tmux
    # Renders to FLAC, Ogg and Opus carry ReplayGain: loudness by libebur128, tags added to the
    # Ogg stream with libogg. The collector test reads each format back with its codec's tools.
    libebur128-dev libogg-dev flac vorbis-tools opus-tools mpg123 ffmpeg loudgain
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "vesk: installing packages needs root; run as root or install: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
