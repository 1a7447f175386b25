#!/usr/bin/env bash
# Runs every fuzz target with libFuzzer for the given number of seconds each
# (60 by default), one after the other at low priority, and prints the
# executions per target. The targets are built with clang under the address
# and undefined-behaviour sanitizers in build/fuzz. Findings (crash-*, leak-*,
# timeout-* files) land in build/fuzz/findings/<target>/; the exit status is 1
# when there is any.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/deps.sh

build=build/fuzz
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fsanitize=fuzzer-no-link"
# Formgate and its plug-ins are shared libraries linked with --no-undefined,
# so the sanitizer runtime must be a shared library too (clang links its
# static one into executables only).
runtime=$(dirname "$(clang -print-file-name=libclang_rt.asan-x86_64.so)")
link="-fsanitize=address,undefined -shared-libasan -Wl,-rpath,$runtime"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOVH_FUZZ=ON \
  -DOVH_BUILD_BENCH=OFF -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" \
  -DCMAKE_MODULE_LINKER_FLAGS="$link" >/dev/null
# A target that does not build is reported below and the others still run.
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/Fuzz*.cpp; do
    sed -n 's/^ovh_fuzz_target(\([a-z_0-9]*\) SOURCES '"$(basename "$source")"'.*/\1/p' tests/fuzz/CMakeLists.txt
  done >"$build/targets"
  mapfile -t targets <"$build/targets"
fi
nice -n 19 cmake --build "$build" -j"${OVH_FUZZ_JOBS:-3}" --target "${targets[@]/#/fuzz_}" -- -k 0 || true

found=0
export QT_QPA_PLATFORM=offscreen
# libFuzzer puts the C++ library ahead of the sanitizer runtime; that library
# replaces no allocation function, so the order does not matter here.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
printf '%-16s %12s %8s  %s\n' target executions corpus result
for t in "${targets[@]}"; do
  if [ ! -x "$build/tests/fuzz/fuzz_$t" ]; then
    printf '%-16s %12s %8s  %s\n' "$t" - - "NOT BUILT"
    found=1
    continue
  fi
  work="$build/corpus/$t" findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  log="$build/fuzz-$t.log"
  status=0
  # The checked-in seeds stay as they are; what the run adds goes to $work.
  nice -n 19 "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  files=$(find "$work" -type f | wc -l)
  if [ $status -eq 0 ]; then result=clean; else result="FOUND (see $log)"; found=1; fi
  printf '%-16s %12s %8s  %s\n' "$t" "${runs:-?}" "$files" "$result"
done
exit $found
