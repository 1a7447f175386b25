#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. Arguments are
# passed on; with none, it opens the photos of samples/boat-row/ so there is a
# project to stitch at once.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ovhorizel
if [ $# -eq 0 ]; then
  set -- "$PWD"/samples/boat-row/*.jpg
fi
exec build/default/app/ovhorizel "$@"
