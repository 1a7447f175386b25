#!/usr/bin/env bash
# scripts/deps.sh against a stand-in apt-get: it waits while the package
# manager's lock is held, gives up after its time limit, and fails at once on
# any other error, showing apt's message.
set -euo pipefail
deps="$(cd "$(dirname "$0")/../.." && pwd)/scripts/deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# Every package missing, and running as root.
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
# apt-get: the first $LOCKED calls find the lock held, later ones fail with $FAIL (or succeed).
cat >"$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "$*" >>"$WORK/calls"
calls=$(wc -l <"$WORK/calls")
if [ "$calls" -le "$LOCKED" ]; then
  echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)" >&2
  exit 100
fi
if [ -n "$FAIL" ]; then
  echo "$FAIL" >&2
  exit 100
fi
FAKE
chmod +x "$work/bin/"*

failures=0
check() {  # name, locked calls, later failure, lock wait, expected status, expected calls, stderr pattern
  rm -f "$work/calls"
  local status=0
  WORK=$work LOCKED=$2 FAIL=$3 OVH_DEPS_LOCK_WAIT=$4 OVH_DEPS_RETRY_INTERVAL=0 PATH="$work/bin:$PATH" \
    bash "$deps" >"$work/out" 2>"$work/err" || status=$?
  local calls
  calls=$(wc -l <"$work/calls")
  if [ "$status" -ne "$5" ] || [ "$calls" -ne "$6" ] || ! grep -qE "$7" "$work/err"; then
    echo "FAILED: $1 (status $status, $calls apt-get calls)"
    cat "$work/err"
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

check "waits while the lock is held" 3 "" 600 0 5 "Waiting for another package installation"
check "gives up when the lock is never freed" 1000 "" 2 100 3 "Could not get lock"
check "fails at once on another error" 0 "E: Unable to locate package qt6-base-dev" 600 100 1 \
  "Unable to locate package"
[ "$failures" -eq 0 ]
