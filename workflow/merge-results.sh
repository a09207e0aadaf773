#!/usr/bin/env bash
# Joins the results files of the chunks made by split-run.sh, in chunk order, under one
# pair of header lines:  workflow/merge-results.sh OUT_DIR > results.out
set -euo pipefail
out=$1
first=1
for ((k = 0; ; ++k)); do
  file="$out/chunk_$k/results.out"
  [ -d "$out/chunk_$k" ] || break
  if [ ! -f "$file" ]; then
    echo "Error: chunk $k has no results file '$file'." >&2
    exit 1
  fi
  if [ $first -eq 1 ]; then head -n 2 "$file"; first=0; fi
  tail -n +3 "$file"
done
