#!/usr/bin/env bash
# Installs dependencies, builds and runs every test: the default build, then the
# same suites under the address and undefined-behaviour sanitizers, then the
# thread pool's, the tiled render thread's, the photo browser's (its work
# queues and file operation jobs too) and the update check's threaded tests
# under ThreadSanitizer.
# Every suite runs even when an earlier one fails; the last line sums them all
# up, and the exit status is non-zero when any test failed or did not build.
set -uo pipefail

passed=0
skipped=0
failed=0
runs=()

# Adds one ctest run's counts, read from its output, to the totals. A run whose
# output has no count line (ctest itself failed) counts as one failure.
tally() {  # name, file with the output, ctest's exit status
  local total failed_here skipped_here
  total=$(sed -nE 's/.*tests? failed out of ([0-9]+).*/\1/p' "$2" | tail -n 1)
  failed_here=$(sed -nE 's/.* ([0-9]+) tests? failed out of [0-9]+.*/\1/p' "$2" | tail -n 1)
  skipped_here=$(grep -cE '^[[:space:]]*[0-9]+ - .* \((Skipped|Disabled)\)$' "$2" || true)
  runs+=("$1")
  if [ -z "$total" ]; then
    failed=$((failed + 1))
    return
  fi
  if [ "$3" -ne 0 ] && [ "$failed_here" -eq 0 ]; then
    failed_here=1
  fi
  passed=$((passed + total - failed_here - skipped_here))
  skipped=$((skipped + skipped_here))
  failed=$((failed + failed_here))
}

summary() {
  local list
  list=$(printf ', %s' "${runs[@]}")
  echo "Tests: ${passed} passed, ${skipped} skipped, ${failed} failed (${list#, })"
}

# Says when the photo tests cannot run: they skip without the shared photos.
photo_note() {  # the shared data folder
  if [ ! -d "$1" ]; then
    echo "Photo tests skipped: ../shared/data is absent."
  fi
}

run_ctest() {  # preset, then ctest's own arguments
  local preset=$1 output status=0
  shift
  output=$(mktemp)
  ctest --preset "$preset" "$@" 2>&1 | tee "$output" || status=$?
  tally "$preset" "$output" "$status"
  rm -f "$output"
}

build() {  # preset, then build arguments
  local preset=$1
  shift
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" "$@"; }; then
    echo "Build failed: $preset"
    runs+=("$preset: build failed")
    failed=$((failed + 1))
    return 1
  fi
}

main() {
  cd "$(dirname "$0")/.." || exit 1
  scripts/deps.sh || exit 1
  for preset in default asan; do
    build "$preset" && run_ctest "$preset"
  done
  build tsan --target platform_tests engine_panorama_tests browser_tests online_tests &&
    run_ctest tsan -R '^(ThreadPool|TiledEngineTest|ThumbsBuilder|FolderMonitor|PictureLoader|UpdateCheckTest|FileOperationJobs|WorkQueue|WorkerGate)\.'
  photo_note ../shared/data
  summary
  [ "$failed" -eq 0 ]
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
