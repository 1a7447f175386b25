#!/usr/bin/env bash
# Installs dependencies, builds and runs every test: the default build, then the
# same suites under the address and undefined-behaviour sanitizers, then the
# thread pool's and the tiled render thread's tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
for preset in default asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target platform_tests engine_panorama_tests
ctest --preset tsan -R '^(ThreadPool|TiledEngineTest)\.'
