#!/usr/bin/env bash
# Null calibration of SNP probes: every probe of a simulated set is null, so the Wald
# statistics should follow a chi-square distribution with one degree of freedom.
#   scripts/measure-snp-null.sh PROBES "QUILLMARK_BINARIES" [quillmark-sim options]
# e.g. scripts/measure-snp-null.sh 3000 "/tmp/before/build/quillmark build/quillmark" --freq0 0.05 --freq1 0.2
#
# One set is simulated (SNP probes, --null-fraction 1, --seed 11 unless the options say
# otherwise) and analysed by each binary in turn. Per binary it prints the probes with a
# statistic, the NA count, the genomic-control lambda (median statistic / 0.4549, the
# median of chi-square with 1 df), the mean statistic, and the shares of p < 0.05 and
# p < 0.01 with their distance from nominal in binomial standard deviations. The tested
# effect must be K alone (one degree of freedom). With two binaries or more it also counts
# the probes whose isolated-subject exclusion depends on the disease status
# (scripts/snp-exclusion-changes.py), compares every binary's results file with the
# first's, and fails when a probe whose exclusion did not change has a different line.
# Needs build/tools/quillmark-sim and python3.
set -euo pipefail
probes="$1"
binaries=""
for bin in $2; do binaries="$binaries $(realpath "$bin")"; done
shift 2
cd "$(dirname "$0")/.."
root=$(pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$root/build/tools/quillmark-sim" --out "$dir/set" --probe-type SNP --probes "$probes" \
  --null-fraction 1 --seed 11 "$@" >/dev/null
if grep -q '^TEST' "$dir/set/specification.txt"; then
  echo "Error: the simulated set tests more than K; the statistics need one degree of freedom" >&2
  exit 1
fi
echo "settings: --probes $probes --null-fraction 1 --seed 11 $*"
printf '%-40s %7s %4s %7s %7s %16s %16s\n' binary probes NA lambda mean "p<0.05 (sds)" "p<0.01 (sds)"
k=0
for bin in $binaries; do
  k=$((k + 1))
  sed "s|results.out|results_$k.out|" "$dir/set/specification.txt" >"$dir/set/spec_$k.txt"
  (cd "$dir/set" && "$bin" --spec_file "spec_$k.txt" >/dev/null 2>"$dir/stderr_$k.txt")
  python3 - "$bin" "$dir/set/results_$k.out" <<'EOF'
import math, statistics, sys
stats = []
na = 0
with open(sys.argv[2]) as f:
    for line in f.readlines()[2:]:
        fields = line.split()
        if fields[4] == "NA":
            na += 1
        else:
            stats.append(float(fields[4]))
n = len(stats)
p = [math.erfc(math.sqrt(x / 2.0)) for x in stats]
def share(alpha):
    s = sum(1 for v in p if v < alpha) / n
    return f"{100 * s:5.2f}% ({(s - alpha) / math.sqrt(alpha * (1 - alpha) / n):+5.2f})"
lam = statistics.median(stats) / 0.454936
print(f"{sys.argv[1]:<40} {n:7d} {na:4d} {lam:7.3f} {statistics.fmean(stats):7.3f} "
      f"{share(0.05):>16} {share(0.01):>16}")
EOF
done
[ "$k" -lt 2 ] && exit 0
python3 "$root/scripts/snp-exclusion-changes.py" "$dir/set" >"$dir/changed.txt" 2>"$dir/changed_count.txt"
cat "$dir/changed_count.txt"
status=0
for j in $(seq 2 "$k"); do
  python3 - "$dir/changed.txt" "$dir/set/results_1.out" "$dir/set/results_$j.out" "$j" <<'EOF' || status=1
import sys
changed = {line.split()[0] for line in open(sys.argv[1])}
first = open(sys.argv[2]).readlines()
other = open(sys.argv[3]).readlines()
if len(first) != len(other):
    sys.exit(f"binary {sys.argv[4]}: results files differ in length")
differ = [a.split()[2] for a, b in zip(first[2:], other[2:]) if a != b]
unchanged_differ = [name for name in differ if name not in changed]
print(f"binary {sys.argv[4]} against binary 1: {len(differ)} result lines differ, "
      f"{len(differ) - len(unchanged_differ)} of them at the {len(changed)} probes whose exclusion changed; "
      f"{len(unchanged_differ)} at probes whose exclusion did not change")
if unchanged_differ:
    sys.exit(f"FAIL: results changed at probes whose exclusion did not: {' '.join(unchanged_differ[:10])}")
EOF
done
exit "$status"
