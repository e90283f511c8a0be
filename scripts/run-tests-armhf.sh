#!/usr/bin/env bash
# Builds flowtally for the device (32-bit ARM, ARMv7-A with NEON) and runs every test suite under
# qemu-arm; then builds the algorithm libraries with Debian's default armhf flags (VFPv3, no NEON),
# where the scalar branches are the ones compiled, and runs their tests the same way.
#
# The armhf libraries come from a Debian 12 root made once with mmdebstrap and kept outside the
# clone (FLOWTALLY_ARMHF_SYSROOT_CACHE, default /var/cache/flowtally), keyed by its package list,
# so later runs on the same machine reuse it. Its packages come from where this machine's own come
# from: the first source of "bookworm main" that apt-get reads (/etc/apt/sources.list and
# /etc/apt/sources.list.d, one-line and deb822 entries alike), or FLOWTALLY_DEBIAN_MIRROR.
#
# Usage: scripts/run-tests-armhf.sh [--build-only]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

build_only=0
case "${1:-}" in
  "") ;;
  --build-only) build_only=1 ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac

jobs=${FLOWTALLY_JOBS:-$(nproc)}
cache_dir=${FLOWTALLY_ARMHF_SYSROOT_CACHE:-/var/cache/flowtally}
build_neon=${FLOWTALLY_ARMHF_BUILD:-build/armhf}
build_vfp=${FLOWTALLY_ARMHF_VFP_BUILD:-build/armhf-vfpv3}

# The URI of this machine's first apt source of Debian 12's main packages, as apt-get itself reads
# the sources; nothing when there is none.
host_debian_mirror() {
  apt-get indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' |
    awk '!found && $1 == "deb" && $3 == "bookworm" && $4 == "main" && $2 !~ /^cdrom:/ {
      sub(/\/$/, "", $2); print $2; found = 1 }' || true
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# --- Host tools ------------------------------------------------------------------------------------
./scripts/install-deps.sh
host_packages=(crossbuild-essential-armhf qemu-user mmdebstrap)
missing=()
for p in "${host_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "run-tests-armhf: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- The armhf root --------------------------------------------------------------------------------
# The development packages of install-deps.sh, the C and C++ runtime headers, and the GStreamer
# tools and plugins the tests start.
mapfile -t deps < <(sed -n '/^packages=(/,/^)/p' scripts/install-deps.sh | tr -s ' \t' '\n\n' |
  grep -E -e '-dev$' -e '^gstreamer1\.0-(tools|plugins-base|plugins-good)$' | sort -u)
sysroot_packages=(libc6-dev libstdc++-12-dev "${deps[@]}")
# The key changes with the package list and with the way the root is made (recipe).
recipe=2
key=$(printf '%s\n' "recipe $recipe" bookworm armhf "${sysroot_packages[@]}" | sha256sum | cut -c1-16)
sysroot="$cache_dir/armhf-sysroot-$key"

if [ ! -f "$sysroot/.complete" ]; then
  mirror=${FLOWTALLY_DEBIAN_MIRROR:-$(host_debian_mirror)}
  if [ -z "$mirror" ]; then
    echo "run-tests-armhf: no apt source of this machine serves Debian 12 (bookworm main);" \
      "name a Debian mirror in FLOWTALLY_DEBIAN_MIRROR" >&2
    exit 1
  fi
  echo "run-tests-armhf: making the armhf root $sysroot (${#sysroot_packages[@]} packages and their" \
    "dependencies) from $mirror"
  $SUDO mkdir -p "$cache_dir"
  partial="$sysroot.partial.$$"
  $SUDO rm -rf "$partial"
  include=$(IFS=,; echo "${sysroot_packages[*]}")
  $SUDO mmdebstrap --quiet --variant=extract --architectures=armhf --include="$include" \
    bookworm "$partial" "$mirror" </dev/null
  # The emulator looks a guest's absolute paths up in the root first: its empty /dev, /proc, /sys,
  # /tmp and /run would hide the host's own.
  $SUDO rm -rf "$partial/dev" "$partial/proc" "$partial/sys" "$partial/tmp" "$partial/run"
  # Absolute links inside the root (library links, the merged /lib) must point into the root when
  # the cross linker follows them.
  $SUDO find "$partial" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
    target=$(readlink "$link")
    $SUDO ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$partial$target")" "$link"
  done
  # Packages are only unpacked, so the links that installation scripts would make are missing:
  # the BLAS and LAPACK alternatives that OpenCV links against.
  for lib in blas lapack; do
    $SUDO ln -sfn "$lib/lib$lib.so.3" "$partial/usr/lib/arm-linux-gnueabihf/lib$lib.so.3"
  done
  $SUDO touch "$partial/.complete"
  $SUDO rm -rf "$sysroot"
  $SUDO mv "$partial" "$sysroot"
fi
echo "run-tests-armhf: armhf root $sysroot"

toolchain=cmake/toolchains/arm-linux-gnueabihf.cmake
# The algorithm libraries' suites, the ones the build without NEON runs.
algorithm_suites=(common_utilities_tests traffic_controller_tests people_counter_tests stereo_matchers_tests
                  stereo_people_counter_tests tools_tests)

# --- Builds ----------------------------------------------------------------------------------------
# CTest starts each emulated test program through the test group runner, a program of this machine:
# under qemu-user a fork of a threaded program now and then leaves its child stuck inside the
# emulator before its exec, holding the test's output open; the runner ends whatever a test
# program leaves running once the program has exited, and the program's own result stands.
mkdir -p "$build_neon"
runner="$(cd "$build_neon" && pwd)/test_group_runner"
cc -std=c11 -O2 -Wall -Wextra -Werror -o "$runner" tests/runner/test_group_runner.c

# The device's build: everything, warnings as errors (the tree's own flags).
cmake -S . -B "$build_neon" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DFLOWTALLY_ARMHF_SYSROOT="$sysroot" \
  -DFLOWTALLY_ARMHF_NEON=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOWTALLY_TESTS=ON -DFLOWTALLY_BENCH=ON \
  -DFLOWTALLY_TEST_GROUP_RUNNER="$runner"
cmake --build "$build_neon" -j "$jobs"

# Debian's default armhf flags (VFPv3-D16, no NEON): the scalar branches of the algorithm code.
cmake -S . -B "$build_vfp" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DFLOWTALLY_ARMHF_SYSROOT="$sysroot" \
  -DFLOWTALLY_ARMHF_NEON=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOWTALLY_TESTS=ON -DFLOWTALLY_BENCH=OFF \
  -DFLOWTALLY_TEST_GROUP_RUNNER="$runner"
cmake --build "$build_vfp" -j "$jobs" --target "${algorithm_suites[@]}"

if [ "$build_only" -eq 1 ]; then
  exit 0
fi

# --- Tests under the emulator ----------------------------------------------------------------------
# A 32-bit guest under qemu-user cannot read large ext4 directories (readdir fails with EOVERFLOW:
# the host's 64-bit directory offsets do not fit), which a device never meets. Temporary files and
# the GStreamer plugins the tests scan live on tmpfs for the run.
# A tmpfs with at least 2 GiB free: TMPDIR's or /dev/shm, else one mounted for the run.
roomy_tmpfs() {
  [ -d "$1" ] && [ -w "$1" ] && [ "$(stat -f -c %T "$1")" = tmpfs ] &&
    [ "$(df -Pk "$1" | awk 'NR == 2 { print $4 }')" -ge 2097152 ]
}
run_dir=""
for candidate in "${TMPDIR:-/tmp}" /dev/shm; do
  if roomy_tmpfs "$candidate"; then
    run_dir=$(mktemp -d "$candidate/flowtally-armhf.XXXXXX")
    trap 'rm -rf "$run_dir"' EXIT
    break
  fi
done
if [ -z "$run_dir" ]; then
  run_dir=$(mktemp -d "${TMPDIR:-/tmp}/flowtally-armhf.XXXXXX")
  if ! $SUDO mount -t tmpfs -o size=4g,mode=1777 flowtally-armhf "$run_dir"; then
    echo "run-tests-armhf: no tmpfs with 2 GiB free (TMPDIR, /dev/shm) and none could be mounted" >&2
    rmdir "$run_dir"
    exit 1
  fi
  trap '$SUDO umount "$run_dir"; rmdir "$run_dir"' EXIT
fi
mkdir -p "$run_dir/tmp"
cp -a "$sysroot/usr/lib/arm-linux-gnueabihf/gstreamer-1.0" "$run_dir/gstreamer-1.0"
export TMPDIR="$run_dir/tmp"
export GST_PLUGIN_SYSTEM_PATH_1_0="$run_dir/gstreamer-1.0"
unset GST_PLUGIN_PATH GST_PLUGIN_PATH_1_0

status=0
# Not the LED controller's benchmark: it starts hundreds of utilities from eight threads at once,
# and under qemu-user a fork of a threaded program now and then leaves the child stuck in the
# emulator before its exec, holding the test's output open (the run ends only at its time-out);
# a device never meets that, and timings under the emulator mean nothing. The LED controller's
# tests run.
(cd "$build_neon" && ctest -j "$jobs" --output-on-failure --timeout 300 -E '^led_controller_bench_checks$') || status=1
suites_regex="^($(IFS='|'; echo "${algorithm_suites[*]}"))\$"
(cd "$build_vfp" && ctest -j "$jobs" --output-on-failure --timeout 300 -L "$suites_regex") || status=1
exit $status
