#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Moirex need.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  libspdlog-dev libfmt-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libmodbus-dev
  qt6-base-dev libqcustomplot-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
