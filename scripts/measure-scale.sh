#!/usr/bin/env bash
# Peak resident memory and CPU time of Quillmark runs on simulated data sets.
#   scripts/measure-scale.sh SUBJECTS "PROBE_COUNTS" [quillmark-sim options]
# e.g. scripts/measure-scale.sh 20000 "250 1000 5000" --probe-type CN
# Needs the build in build/ and GNU time (/usr/bin/time, Debian package "time"). Each data
# set is simulated in a temporary directory and deleted after its run.
set -euo pipefail
cd "$(dirname "$0")/.."
subjects="$1"
counts="$2"
shift 2
scripts/ensure-packages.sh time
root=$(pwd)
for probes in $counts; do
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  "$root/build/tools/quillmark-sim" --out "$dir" --subjects "$subjects" --probes "$probes" \
    --seed 11 "$@" >/dev/null
  size=$(du -sh "$dir" | cut -f1)
  (cd "$dir" && /usr/bin/time -v "$root/build/quillmark" --spec_file specification.txt \
     >/dev/null 2>time.txt)
  user=$(sed -n 's/.*User time (seconds): //p' "$dir/time.txt")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/time.txt")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.txt")
  na=$(tail -n +3 "$dir/results.out" | grep -c ' NA ' || true)
  rate=$(awk -v p="$probes" -v u="$user" 'BEGIN { printf "%.1f", p / u }')
  echo "$probes probes ($size): peak RSS $rss kB, CPU $user s ($rate probes/s), wall $wall, NA $na"
  rm -rf "$dir"
  trap - EXIT
done
