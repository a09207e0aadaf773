#!/usr/bin/env bash
# Wall time of one simulated run on 1 thread and on more, side by side, and a check that
# their results files are identical.
#   scripts/measure-threads.sh SUBJECTS PROBES "THREAD COUNTS" [quillmark-sim options]
# e.g. scripts/measure-threads.sh 2000 1000 "1 2" --probe-type SNP
# Needs the build in build/ and GNU time (/usr/bin/time, Debian package "time"). The data set
# is simulated in a temporary directory and deleted.
set -euo pipefail
cd "$(dirname "$0")/.."
subjects="$1"
probes="$2"
counts="$3"
shift 3
scripts/ensure-packages.sh time
root=$(pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$root/build/tools/quillmark-sim" --out "$dir" --subjects "$subjects" --probes "$probes" \
  --seed 11 "$@" >/dev/null
first=""
for threads in $counts; do
  start=$(date +%s.%N)
  (cd "$dir" && /usr/bin/time -f "%U %S" -o cpu.txt "$root/build/quillmark" \
     --spec_file specification.txt --threads "$threads" --quiet --no-tsv \
     --out "results.$threads" >/dev/null 2>&1)
  end=$(date +%s.%N)
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  # CPU seconds (user and system) of the run: more work per probe on more threads shows
  # here even when other work on the machine stretches the wall time.
  cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$dir/cpu.txt")
  rate=$(awk -v p="$probes" -v w="$wall" 'BEGIN { printf "%.1f", p / w }')
  if [ -z "$first" ]; then
    first=$threads
    base=$wall
  elif ! cmp -s "$dir/results.$first" "$dir/results.$threads"; then
    echo "Error: results on $threads threads differ from those on $first" >&2
    exit 1
  fi
  speedup=$(awk -v a="$base" -v b="$wall" 'BEGIN { printf "%.2f", a / b }')
  echo "$threads thread(s): wall $wall s, $rate probes/s, ${speedup}x the first, CPU $cpu s"
done
