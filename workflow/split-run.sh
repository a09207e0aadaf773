#!/usr/bin/env bash
# Splits one Quillmark analysis into N independent chunks of probes, for a cluster.
#
#   workflow/split-run.sh SPEC_FILE N OUT_DIR
#
# Each chunk OUT_DIR/chunk_K gets its own called-CN information and data files (the
# probes K*size .. (K+1)*size - 1, one data line per probe as the simulator and
# array exports write them) and a specification file that names them and its own
# results file; every other setting and input file is shared. The raw-intensity
# data file stays whole: each run starts reading at the row of its first probe.
# Run the chunks in any order or at once (for example as a SLURM array job:
#   sbatch --array=0-$((N-1)) --wrap 'cd OUT_DIR/chunk_$SLURM_ARRAY_TASK_ID && quillmark --spec_file specification.txt')
# and join them with workflow/merge-results.sh OUT_DIR.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 SPEC_FILE N OUT_DIR" >&2
  exit 1
fi
spec=$1
chunks=$2
out=$3
spec_dir=$(cd "$(dirname "$spec")" && pwd)

setting() {  # the first value of a keyword, or its default
  local value
  value=$(awk -v key="$1" '$1 == key { print $3; exit }' "$spec")
  echo "${value:-$2}"
}
absolute() {  # paths in the specification file are relative to where quillmark runs
  case "$1" in /*) echo "$1" ;; *) echo "$spec_dir/$1" ;; esac
}

cn_info=$(absolute "$(setting CALLED_CN_INFO_FILE ./CN.info)")
cn_dat=$(absolute "$(setting CALLED_CN_DAT_FILE ./CN.dat)")
probes=$(awk 'NF > 0' "$cn_info" | wc -l)
if [ "$(awk 'NF > 0' "$cn_dat" | wc -l)" -ne "$probes" ]; then
  echo "Error: '$cn_dat' does not hold one line per probe of '$cn_info'." >&2
  exit 1
fi
size=$(( (probes + chunks - 1) / chunks ))

for ((k = 0; k < chunks; ++k)); do
  dir="$out/chunk_$k"
  mkdir -p "$dir"
  first=$((k * size + 1))
  last=$(((k + 1) * size))
  awk 'NF > 0' "$cn_info" | sed -n "${first},${last}p" > "$dir/CN.info"
  awk 'NF > 0' "$cn_dat" | sed -n "${first},${last}p" > "$dir/CN.dat"
  # Shared inputs are named relative to the chunk (paths are limited to 99 characters);
  # the chunk's own files replace the called-CN ones.
  # The phenotype file comes first: later lines name its covariates.
  {
    for key in PHENOTYPE_FILE:./phenotype.dat RAW_INTENSITY_DAT_FILE:./raw.dat RAW_INTENSITY_INFO_FILE:./raw.info; do
      name=${key%%:*}
      file=$(absolute "$(setting "$name" "${key#*:}")")
      echo "$name = $(realpath --relative-to="$dir" "$file")"
    done
    awk '$1 !~ /^(PHENOTYPE_FILE|RAW_INTENSITY_DAT_FILE|RAW_INTENSITY_INFO_FILE|CALLED_CN_INFO_FILE|CALLED_CN_DAT_FILE|RESULT_FILE)$/' "$spec"
    echo "CALLED_CN_INFO_FILE = CN.info"
    echo "CALLED_CN_DAT_FILE = CN.dat"
    echo "RESULT_FILE = results.out"
  } > "$dir/specification.txt"
done
echo "$probes probes split into $chunks chunks of at most $size under '$out'"
