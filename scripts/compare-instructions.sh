#!/usr/bin/env bash
# Instructions per probe of two builds of quillmark on the same simulated sets, counted by
# callgrind (unaffected by other load on the machine), side by side.
#   scripts/compare-instructions.sh QUILLMARK_BEFORE QUILLMARK_AFTER [PROBES]
# e.g. scripts/compare-instructions.sh /tmp/old/build-rel/quillmark build-rel/quillmark 8
# Compare builds of the same type (Release with Release). Needs valgrind and the simulator
# in build/tools/. Each set has 800 subjects; the counts include the run's fixed start-up,
# so the difference per probe is (after - before) / PROBES.
set -euo pipefail
cd "$(dirname "$0")/.."
before=$(realpath "$1")
after=$(realpath "$2")
probes=${3:-8}
sim=$(pwd)/build/tools/quillmark-sim
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '%-8s %16s %16s %8s\n' set before/probe after/probe change
while read -r name options; do
  # shellcheck disable=SC2086
  "$sim" --out "$dir/$name" --subjects 800 --probes "$probes" $options >/dev/null
  counts=()
  for bin in "$before" "$after"; do
    (cd "$dir/$name" && valgrind --tool=callgrind --callgrind-out-file=cg.out "$bin" \
       --spec_file specification.txt --threads 1 --quiet >/dev/null 2>&1)
    counts+=("$(awk '/^(summary|totals):/ {print $2; exit}' "$dir/$name/cg.out")")
  done
  awk -v n="$name" -v b="${counts[0]}" -v a="${counts[1]}" -v p="$probes" \
    'BEGIN { printf "%-8s %16.0f %16.0f %+7.1f%%\n", n, b / p, a / p, 100 * (a - b) / b }'
done <<'SETS'
cn_m0 --probe-type CN --array-type I --seed 11
cn_m2 --probe-type CN --array-type I --dependent-covariate --seed 12
snp_m0 --probe-type SNP --array-type I --seed 13
snp_m1 --probe-type SNP --array-type I --numeric-covariates 1 --seed 14
snp_m2 --probe-type SNP --array-type A --dependent-covariate --seed 15
SETS
