#!/usr/bin/env bash
# CPU milliseconds per probe of two quillmark binaries side by side, on one thread, for CN
# and SNP probes, models 0, 1 and 2, at several numbers of subjects; the ratio before/after;
# and whether the two results files are identical. Builds nothing.
#   scripts/measure-fit-speed.sh BEFORE AFTER [SIM] [SUBJECTS] [REPEATS]
# e.g. scripts/measure-fit-speed.sh /tmp/prev/build-rel/quillmark build-rel/quillmark
# SIM defaults to build/tools/quillmark-sim, SUBJECTS to "2000 5000 20000", REPEATS to 2
# (runs alternate between the binaries; the smallest CPU time of each counts).
# Models: 0 = K only; 1 = K and two numeric covariates; 2 = K and one binary dependent
# covariate (sieve fits). The probe count falls with the subjects so that every run takes
# a few seconds. Needs GNU time (/usr/bin/time, Debian package "time").
set -euo pipefail
cd "$(dirname "$0")/.."
before=$(realpath "$1")
after=$(realpath "$2")
sim=$(realpath "${3:-build/tools/quillmark-sim}")
sizes=${4:-"2000 5000 20000"}
repeats=${5:-2}
scripts/ensure-packages.sh time
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# CPU seconds (user + system) of one run of binary $1 in the current directory, results to $2.
cpu_seconds() {
  /usr/bin/time -f "%U %S" -o time.txt "$1" --spec_file specification.txt --threads 1 \
    --quiet --no-tsv --out "$2" >/dev/null 2>&1
  awk '{ printf "%.3f", $1 + $2 }' time.txt
}

echo "| probe | model | subjects | probes | before ms/probe | after ms/probe | speed-up | results |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | --- |"
for type in CN SNP; do
  for model in 0 1 2; do
    case $model in
      0) options=() ;;
      1) options=(--numeric-covariates 2) ;;
      2) options=(--dependent-covariate) ;;
    esac
    for n in $sizes; do
      probes=$(( 200000 / n ))
      [ "$probes" -lt 8 ] && probes=8
      set_dir="$dir/$type-$model-$n"
      "$sim" --out "$set_dir" --probe-type "$type" --subjects "$n" --probes "$probes" \
        --seed 11 "${options[@]}" >/dev/null
      best_before=""
      best_after=""
      for _ in $(seq "$repeats"); do
        t=$(cd "$set_dir" && cpu_seconds "$before" results.before)
        best_before=$(awk -v a="$t" -v b="${best_before:-$t}" 'BEGIN { print (a < b ? a : b) }')
        t=$(cd "$set_dir" && cpu_seconds "$after" results.after)
        best_after=$(awk -v a="$t" -v b="${best_after:-$t}" 'BEGIN { print (a < b ? a : b) }')
      done
      same=identical
      cmp -s "$set_dir/results.before" "$set_dir/results.after" || same=DIFFER
      awk -v t="$type" -v m="$model" -v n="$n" -v p="$probes" -v b="$best_before" \
        -v a="$best_after" -v s="$same" 'BEGIN {
          printf "| %s | %s | %d | %d | %.1f | %.1f | %.2fx | %s |\n",
                 t, m, n, p, 1000 * b / p, 1000 * a / p, (a > 0 ? b / a : 0), s }'
      rm -rf "$set_dir"
    done
  done
done
