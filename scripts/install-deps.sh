#!/usr/bin/env bash
# Installs the Debian packages the station, its tests and its tools need; only what is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  qt6-base-dev libjpeg62-turbo-dev libcurl4-openssl-dev libxcb1-dev libxcb-keysyms1-dev
  liblcms2-dev libopencc-dev libgtest-dev
  # captions: a Song/Ming-style CJK face, mapped to 宋体 below
  fonts-arphic-uming fontconfig
  # tests: X server, window manager, key and click driving, proxy, TLS certificates
  xvfb xauth openbox xdotool x11-utils tinyproxy openssl python3
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" </dev/null
fi

# The captions ask for 宋体: let fontconfig answer with the installed Song face.
conf=/etc/fonts/conf.d/65-selvana-songti.conf
here=$(cd "$(dirname "$0")" && pwd)
if ! cmp -s "$here/fontconfig/65-selvana-songti.conf" "$conf" 2>/dev/null; then
  as_root install -m 0644 "$here/fontconfig/65-selvana-songti.conf" "$conf"
  as_root fc-cache -f >/dev/null 2>&1 || true
fi
