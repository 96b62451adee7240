#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Safe to run again.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config dpkg-dev
  clang libclang-rt-dev llvm
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  libusb-1.0-0-dev
  qt6-base-dev xvfb xauth
  openssl strace
  lintian
  qemu-system-x86 busybox-static cpio kmod xz-utils
  iproute2  # the libraries of its `ip`, which vm-test.sh unpacks from the archive for the guest
  tshark
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# One line per step; the package manager's own output goes to a log, shown only on failure.
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp /tmp/install-deps.XXXXXX.log)
step() {
  echo "install-deps: $1"
  shift
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: failed; the last lines of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}
# tshark's package asks whether ordinary users may capture; the tests only read files.
if command -v debconf-set-selections >/dev/null; then
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
fi
step "updating the package lists" $SUDO apt-get update -qq
step "installing ${#missing[@]} packages: ${missing[*]}" \
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
rm -f "$log"
echo "install-deps: done"
