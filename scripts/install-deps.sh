#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Moirex need.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  libspdlog-dev libfmt-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libmodbus-dev
  clang libclang-rt-14-dev
  qt6-base-dev libqcustomplot-dev libqcustomplot2.1-qt6 fonts-liberation2
  xvfb xauth desktop-file-utils appstream
  lintian man-db udev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  # As root (a fresh Debian machine often has no sudo at all) apt-get runs directly; otherwise
  # through sudo when it is there.
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      SUDO="sudo"
    else
      echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
      exit 1
    fi
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
