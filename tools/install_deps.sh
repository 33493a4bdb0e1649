#!/usr/bin/env bash
# Installs the Debian 12 packages the programs, the tests and the benchmarks need.
set -euo pipefail
packages=(cmake g++ make qt6-base-dev libqcustomplot-dev googletest libgtest-dev libbenchmark-dev libfftw3-dev libssl-dev libcomedi-dev
  libarchive-dev libgps-dev libgeographiclib-dev libboost-math-dev libpng-dev zlib1g-dev)
if [ "${1:-}" = "--all" ]; then
  # End-to-end runs in real windows and the fuzz targets.
  packages+=(xvfb xdotool xclip imagemagick x11-utils clang libclang-rt-14-dev
    help2man desktop-file-utils appstream dpkg-dev fakeroot file lintian)
  # The numpy + pandas reference that bench_analyze times sounder analyze against.
  packages+=(python3-numpy python3-pandas)
  # The SHA-512 floor that bench_sounder shows beside each interleaved SigMF conversion.
  packages+=(openssl)
  # The SigMF schema check of sounder convert --to sigmf.
  packages+=(python3-jsonschema)
  # A real gpsd for the position tests (gpsfake replays NMEA logs into it).
  packages+=(gpsd gpsd-clients)
fi
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}"
fi
