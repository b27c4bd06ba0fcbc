#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need; skips what is there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    libadplug-dev libsdl2-dev libsndfile1-dev libsoxr-dev
    adplay python3 time
    libxcb1-dev xvfb xdotool libx11-6
    clang clang-tidy clang-format libclang-rt-14-dev
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
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
