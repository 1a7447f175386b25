#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. Arguments are
# passed on (photo paths made absolute, since the script changes folder); with
# none, it opens the photos of samples/boat-row/ so there is a project to
# stitch at once.
set -euo pipefail
args=()
for a in "$@"; do
  case "$a" in
    /* | -*) args+=("$a") ;;
    *) args+=("$PWD/$a") ;;
  esac
done
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ovhorizel
if [ ${#args[@]} -eq 0 ]; then
  args=("$PWD"/samples/boat-row/*.jpg)
fi
exec build/default/app/ovhorizel "${args[@]}"
