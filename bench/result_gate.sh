#!/bin/bash
# Gates a change of the engine's arithmetic: records the results of this
# build (result_gate record) and of a baseline, then compares the two
# (result_gate compare), printing the table; the exit status is 1 when a case
# misses a gate or is in one record only, 2 on an error.
#
#   bench/result_gate.sh [--build DIR] [--keep DIR] BASELINE
#
# BASELINE is either a folder an earlier `result_gate record` wrote, or a git
# revision: the revision is then checked out into a temporary worktree and
# its result_gate built there (ccache keeps that quick) and run.
# --build: this tree's build folder (default build/default); --keep: keep
# this build's record in DIR (a later run can use it as a baseline).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/default
keep=
while [ $# -gt 1 ]; do
    case $1 in
    --build) build=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) break ;;
    esac
done
if [ $# -ne 1 ]; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
baseline=$1

work=$(mktemp -d "${TMPDIR:-/tmp}/result-gate.XXXXXX")
worktree=
cleanup() {
    if [ -n "$worktree" ]; then
        git -C "$here" worktree remove --force "$worktree" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

cmake --build "$build" --target result_gate -j"${JOBS:-6}" >/dev/null

if [ -d "$baseline" ]; then
    before=$baseline
else
    rev=$(git -C "$here" rev-parse --verify "$baseline^{commit}")
    worktree=$work/tree
    git -C "$here" worktree add --detach "$worktree" "$rev" >/dev/null 2>&1
    # The gate tool itself may be newer than the revision: the baseline is
    # the revision's engine measured by this tool (the benchmarks' folder
    # whole, so its build file finds every source it names).
    cp -r "$here/bench/." "$worktree/bench/"
    cp "$here/tests/engine/panorama/PanoramaFixtures.h" "$worktree/tests/engine/panorama/"
    shared=$(sed -n 's/^OVH_SHARED_DATA:[A-Z]*=//p' "$build/CMakeCache.txt")
    echo "building result_gate at ${rev:0:10} ..." >&2
    if ! (cd "$worktree" &&
        CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache \
            cmake --preset default -DOVH_SHARED_DATA="$shared" &&
        cmake --build --preset default --target result_gate -j"${JOBS:-6}") >"$work/build.log" 2>&1; then
        tail -n 30 "$work/build.log" >&2
        echo "result_gate.sh: cannot build result_gate at ${rev:0:10}" >&2
        exit 2
    fi
    before=$work/before
    echo "recording the baseline ..." >&2
    "$worktree/build/default/bench/result_gate" record "$before" >/dev/null
fi

after=${keep:-$work/after}
echo "recording this build ..." >&2
"$build/bench/result_gate" record "$after" >/dev/null
"$build/bench/result_gate" compare "$before" "$after"
