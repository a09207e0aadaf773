#!/usr/bin/env bash
# Results on called copy numbers with calling errors: a benchmark, not a test.
#   scripts/measure-robustness.sh [--quick] [--jobs N] [--binary QUILLMARK] [--keep DIR]
#                                 [--models "0 1 2"] [--null [--probes N]]
#
# For CN and SNP probes, models 0 (no covariate), 1 (a numeric covariate) and 2 (the
# dependent covariate, sieve), one and two measurement groups, 2,000 subjects and 200
# probes per cell (half associated, odds ratio 1.5 per copy), it simulates sets with
# build/tools/quillmark-sim under each calling-error profile
#   exact calls; random miscalls of 1 %, 2 % and 5 %; segment-caller profiles of 15 % and
#   30 % missed carriers with 0.2 % and 0.5 % false calls
# at one-copy frequencies 0.05 and 0.2, analyses each with QUILLMARK (build/quillmark)
# on one thread, N sets at a time (2), and prints the tables of scripts/robustness_table.py: NA share with the
# outcome tallies, rescued probes, null lambda and share of p < 0.05, power, coverage of
# the true odds ratio, and the mean chi-square over associated probes against the
# calls-only logistic regression. --quick runs models 0 and 2, one group and 100 probes
# per cell (about 2 minutes on two cores; the full run about 15). --models runs only the
# listed models, with the same seeds as a run of all of them, so the manifests (kept with
# --keep) of runs of different models can be joined and given to robustness_table.py.
# Every set keeps its subjects' true classes (true_classes.dat), which
# scripts/check-na-maxima.py reads from a kept run.
# --null is the null calibration run: the same cells with every probe null (500 per cell,
# or --probes N) under seeds of their own, about 6,000 null probes per probe type and
# profile, so that lambda is known to about 0.03 (with the 1,100 null probes per row of the
# main run, one standard deviation of lambda is 0.07); it prints the calibration tables.
set -euo pipefail
quick=0
jobs=2
binary=""
keep=""
only_models=""
null_run=0
null_probes=500
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --jobs) jobs="$2"; shift ;;
    --binary) binary=$(realpath "$2"); shift ;;
    --keep) keep="$2"; shift ;;
    --models) only_models="$2"; shift ;;
    --null) null_run=1 ;;
    --probes) null_probes="$2"; shift ;;
    *) echo "Error: unknown option '$1'" >&2; exit 1 ;;
  esac
  shift
done
cd "$(dirname "$0")/.."
root=$(pwd)
sim="$root/build/tools/quillmark-sim"
[ -n "$binary" ] || binary="$root/build/quillmark"
for program in "$sim" "$binary"; do
  [ -x "$program" ] || { echo "Error: $program is not built" >&2; exit 1; }
done
if [ -n "$keep" ]; then
  mkdir -p "$keep"
  dir=$(realpath "$keep")
else
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
fi

if [ $quick -eq 1 ]; then
  models="0 2"; groups="1"; probes=100
else
  models="0 1 2"; groups="1 2"; probes=200
fi
null_fraction=0.5
first_seed=1000
if [ $null_run -eq 1 ]; then
  null_fraction=1
  probes=$null_probes
  first_seed=20000
fi
profiles="exact:--miscall-rate=0 miscall1%:--miscall-rate=0.01 miscall2%:--miscall-rate=0.02 \
miscall5%:--miscall-rate=0.05 missed15%+false0.2%:--missed-carrier-rate=0.15,--false-call-rate=0.002 \
missed30%+false0.5%:--missed-carrier-rate=0.30,--false-call-rate=0.005"

# One set: simulated, then analysed.
run_set() {
  local set_dir=$1 type=$2 freq1=$3 seed=$4
  shift 4
  "$sim" --out "$set_dir" --probe-type "$type" --subjects 2000 --probes "$probes" \
    --null-fraction "$null_fraction" --odds-ratio 1.5 --freq0 0.02 --freq1 "$freq1" --seed "$seed" --true-classes "$@" >/dev/null
  (cd "$set_dir" && "$binary" --spec_file specification.txt --threads 1 --quiet \
     >stdout.txt 2>stderr.txt)
}

manifest="$dir/manifest.txt"
: >"$manifest"
seed=$first_seed
running=0
start=$(date +%s)
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')
program="build/quillmark"
[ "$binary" = "$root/build/quillmark" ] || program="another quillmark"
for type in CN SNP; do
  for model in $models; do
    for group in $groups; do
      for entry in $profiles; do
        profile=${entry%%:*}
        options=${entry#*:}
        options=${options//,/ }
        options=${options//=/ }
        for freq1 in 0.05 0.2; do
          seed=$((seed + 1))
          if [ -n "$only_models" ] && [[ " $only_models " != *" $model "* ]]; then continue; fi
          set_dir="$dir/$type-m$model-g$group-$profile-f$freq1"
          extra=""
          [ "$model" = 1 ] && extra="--numeric-covariates 1"
          [ "$model" = 2 ] && extra="--dependent-covariate"
          [ "$group" = 2 ] && extra="$extra --differential"
          if [ "$running" -ge "$jobs" ]; then
            wait -n
            running=$((running - 1))
          fi
          # shellcheck disable=SC2086
          run_set "$set_dir" "$type" "$freq1" "$seed" $extra $options &
          running=$((running + 1))
          echo "$set_dir $type $model $group $profile $freq1" >>"$manifest"
        done
      done
    done
  done
done
wait
options_used=""
[ $quick -eq 0 ] || options_used=" --quick"
[ $null_run -eq 0 ] || options_used="$options_used --null --probes $probes"
if [ $null_run -eq 1 ]; then
  echo "Made by scripts/measure-robustness.sh$options_used on $commit ($program), $(( $(date +%s) - start )) s wall with --jobs $jobs; 2,000 subjects, $probes null probes per cell."
  echo
  python3 "$root/scripts/robustness_table.py" --null "$manifest"
else
  echo "Made by scripts/measure-robustness.sh$options_used on $commit ($program), $(( $(date +%s) - start )) s wall with --jobs $jobs; 2,000 subjects, $probes probes per cell, half associated (OR 1.5)."
  echo
  python3 "$root/scripts/robustness_table.py" "$manifest"
fi
