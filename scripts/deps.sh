#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when some are missing.
# When another installation holds the package manager's lock, waits for it
# (up to OVH_DEPS_LOCK_WAIT seconds, 600 by default) instead of failing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libjpeg-dev libpng-dev libtiff-dev zlib1g-dev
  libcminpack-dev libalglib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-image-formats-plugins
  libcurl4-openssl-dev
  poppler-utils
  clang libclang-rt-14-dev
  # to run the program by hand without a display and grab its window
  xvfb x11-apps
  # a window manager and synthetic input to walk the program by hand under Xvfb
  openbox xdotool
  # to turn a captured X display (xwd) into PNG for looking at
  imagemagick
  desktop-file-utils
  # compiler cache: the build uses it through CMAKE_*_COMPILER_LAUNCHER when set
  ccache
)

lock_wait=${OVH_DEPS_LOCK_WAIT:-600}
retry_every=${OVH_DEPS_RETRY_INTERVAL:-5}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "sudo apt-get install -y ${missing[*]}"
  exit 1
fi

# apt-get, retried while another apt or dpkg holds the lock. apt itself waits for
# dpkg's lock (DPkg::Lock::Timeout) but not for the package lists' lock.
apt_get() {
  local waited=0 told=0 status errors
  errors=$(mktemp)
  while true; do
    status=0
    apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@" 2>"$errors" || status=$?
    if [ "$status" -eq 0 ]; then
      rm -f "$errors"
      return 0
    fi
    if grep -qE 'Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock' "$errors" &&
      [ "$waited" -lt "$lock_wait" ]; then
      if [ "$told" -eq 0 ]; then
        echo "Waiting for another package installation to finish..." >&2
        told=1
      fi
      sleep "$retry_every"
      waited=$((waited + (retry_every > 0 ? retry_every : 1)))
      continue
    fi
    cat "$errors" >&2
    rm -f "$errors"
    return "$status"
  done
}

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
