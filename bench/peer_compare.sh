#!/usr/bin/env bash
# Holds the headless planar build against OpenCV's stitcher on the shared photo
# sets: the shared compare script's wall-time ratios, then the CPU seconds
# (user + system) of both programs on each set, ours from stitch_bench's
# "cpu_s:" line, the peer's from /usr/bin/time, the two run one after the
# other. With --busy N, N busy loops keep N cores occupied meanwhile (a
# machine shared with other work); they are bounded in time and stopped when
# the script ends, however it ends.
#
# Usage: bench/peer_compare.sh [-n RUNS] [--busy N] STITCH_BENCH [SET_DIR[:OPTIONS]]...
#   RUNS       runs per set and program (default 5); the figures are medians
#   N          busy loops to start (default 0)
#   SET_DIR    as for the shared compare script (default: its shared sets)
# The shared folder is ../shared next to the project, or $OVH_SHARED.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shared=${OVH_SHARED:-$root/../shared}
runs=5
busy=0
while (($#)); do
  case $1 in
    -n) runs=${2:?-n needs a number}; shift 2 ;;
    --busy) busy=${2:?--busy needs a number}; shift 2 ;;
    *) break ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "peer_compare.sh: -n wants a positive whole number" >&2; exit 2; }
[[ $busy =~ ^[0-9]+$ ]] || { echo "peer_compare.sh: --busy wants a whole number" >&2; exit 2; }
sb=${1:?usage: peer_compare.sh [-n RUNS] [--busy N] STITCH_BENCH [SET_DIR[:OPTIONS]]...}; shift
compare=$shared/peers/compare.sh
[[ -x $compare ]] || { echo "peer_compare.sh: no compare script at $compare (set OVH_SHARED)" >&2; exit 3; }
sets=("$@")
((${#sets[@]})) || sets=("$shared/data/photos/apartment-ring:--ring" "$shared/data/photos/boat-row"
  "$shared/data/photos/weir-row-distractor")

# The busy loops: each ends by itself after an hour at the latest, and all
# are stopped on the way out.
pids=()
stop_busy() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
tmp=$(mktemp -d)
trap 'stop_busy; rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < busy; i++)); do
  timeout 3600 bash -c 'while :; do :; done' &
  pids+=($!)
done
((busy == 0)) || echo "busy loops: $busy"

"$compare" -n "$runs" "$sb" "${sets[@]}"

peer=${XDG_CACHE_HOME:-$HOME/.cache}/ovh-peers/cv_stitch
[[ -x $peer ]] || { echo "peer_compare.sh: the compare script left no peer at $peer" >&2; exit 3; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
echo
printf '%-26s %9s %9s %7s\n' set ours_cpu opencv_cpu ratio
for spec in "${sets[@]}"; do
  dir=${spec%%:*}; opts=""; [[ $spec == *:* ]] && opts=${spec#*:}
  : > "$tmp/a"; : > "$tmp/b"
  for ((i = 0; i < runs; i++)); do
    "$sb" ${opts//,/ } "$dir" > "$tmp/ours.log" 2>&1 || true
    awk '/^cpu_s:/ {print $2}' "$tmp/ours.log" >> "$tmp/a"
    /usr/bin/time -f 'cpu %U %S' -o "$tmp/time.log" "$peer" "$dir" "$tmp/peer.jpg" > /dev/null 2>&1 || true
    awk '/^cpu / {print $2 + $3}' "$tmp/time.log" >> "$tmp/b"
  done
  a=$(median < "$tmp/a"); b=$(median < "$tmp/b")
  if [[ -z $a || -z $b ]]; then
    printf '%-26s %9s %9s %7s\n' "$(basename "$dir")" "${a:-?}" "${b:-?}" "?"
    continue
  fi
  printf '%-26s %9.3f %9.3f %7.3f\n' "$(basename "$dir")" "$a" "$b" "$(echo "scale=3; $a / $b" | bc)"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), cores: $(nproc), busy loops: $busy"
