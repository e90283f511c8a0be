#!/usr/bin/env bash
# Installs every Debian 12 package flowtally needs to build, run and test. Safe to run again.
set -euo pipefail

packages=(
  build-essential clang cmake pkg-config git
  libboost-dev libboost-system-dev libboost-thread-dev libboost-program-options-dev
  libboost-filesystem-dev libboost-log-dev libboost-date-time-dev libboost-chrono-dev
  libopencv-dev libtbb-dev
  libsoci-dev libsqlite3-dev sqlite3
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x
  libgstreamermm-1.0-dev libglibmm-2.4-dev
  libhidapi-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
