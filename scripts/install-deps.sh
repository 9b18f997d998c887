#!/usr/bin/env bash
# Installs what building and testing Veltro needs, from Debian's archive only.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    juce-modules-source
    libasound2-dev libjack-jackd2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev libgl-dev
    libcurl4-openssl-dev libflac-dev libvorbis-dev libogg-dev
    libusb-1.0-0-dev fonts-dseg
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth util-linux ccache
    ardour
)
packages+=(libnotify-dev jackd2) # daemon: desktop notifications; JACK dummy server for tests and the demo
packages+=(dbus python3-dbus python3-gi) # end-to-end tests: a fake notification service on a session bus
packages+=(clang-22 libclang-rt-22-dev) # real-time path tests under RealtimeSanitizer

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
