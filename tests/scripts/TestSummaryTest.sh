#!/usr/bin/env bash
# The summary of scripts/test.sh over ctest outputs of several presets: passed,
# skipped and failed summed over all of them, a crashed run counted as a
# failure, and the note when the shared photos are absent.
set -euo pipefail
source "$(cd "$(dirname "$0")/../.." && pwd)/scripts/test.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/default" <<'OUT'
 9/10 Test #9: A.B ...   Passed    0.01 sec
100% tests passed, 0 tests failed out of 10

Total Test time (real) =   1.26 sec

The following tests did not run:
	  3 - Photo.One (Skipped)
	 11 - Photo.Two (Skipped)
OUT
cat >"$work/asan" <<'OUT'
80% tests passed, 2 tests failed out of 10

The following tests did not run:
	  3 - Photo.One (Skipped)

The following tests FAILED:
	  4 - Save.Folder (Failed)
	  7 - Save.Link (SEGFAULT)
Errors while running CTest
OUT
printf 'Internal ctest changing into directory: /nowhere\n' >"$work/tsan"

failures=0
expect() {  # what, got, wanted
  if [ "$2" != "$3" ]; then
    echo "FAILED: $1: got '$2', wanted '$3'"
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

tally default "$work/default" 0
expect "one clean run" "$(summary)" "Tests: 8 passed, 2 skipped, 0 failed (default)"
tally asan "$work/asan" 8
tally tsan "$work/tsan" 8
expect "every run summed" "$(summary)" "Tests: 15 passed, 3 skipped, 3 failed (default, asan, tsan)"
expect "photos absent" "$(photo_note "$work/no-such-folder")" "Photo tests skipped: ../shared/data is absent."
expect "photos present" "$(photo_note "$work")" ""
[ "$failures" -eq 0 ]
