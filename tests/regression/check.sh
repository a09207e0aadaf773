#!/usr/bin/env bash
# The regression set: simulated input sets whose results files must stay byte-identical
# across refactors of the fits and the probe loop.
#   tests/regression/check.sh QUILLMARK QUILLMARK_SIM          compare with expected/
#   tests/regression/check.sh QUILLMARK QUILLMARK_SIM --update write expected/ anew
# Each case is simulated from cases.txt (800 subjects, 40 probes) into a temporary
# directory; only the results files are kept in the repository. Every case runs on one
# and on three threads: the results file, the extended table and standard output must
# not depend on the number of threads.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
quillmark=$1
sim=$2
update=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
while read -r name options; do
  case "$name" in '' | '#'*) continue ;; esac
  # shellcheck disable=SC2086
  "$sim" --out "$work/$name" --subjects 800 --probes 40 $options >/dev/null
  (cd "$work/$name" && "$quillmark" --spec_file specification.txt --threads 3 --quiet \
     >stdout3.txt 2>stderr3.txt && mv results.out results3.out && mv results.out.tsv results3.out.tsv) || {
    echo "$name: quillmark --threads 3 failed"; cat "$work/$name/stdout3.txt"; failed=1; continue; }
  (cd "$work/$name" && "$quillmark" --spec_file specification.txt --threads 1 --quiet \
     >stdout.txt 2>stderr.txt) || {
    echo "$name: quillmark failed"; cat "$work/$name/stdout.txt"; failed=1; continue; }
  for file in results.out results.out.tsv; do
    if ! cmp -s "$work/$name/$file" "$work/$name/${file/results/results3}"; then
      echo "$name: $file differs between one and three threads"; failed=1
    fi
  done
  if ! diff <(grep -v "^Quillmark started\|^Quillmark complete" "$work/$name/stdout.txt") \
            <(grep -v "^Quillmark started\|^Quillmark complete" "$work/$name/stdout3.txt") >/dev/null; then
    echo "$name: standard output differs between one and three threads"; failed=1
  fi
  if [ "$update" = "--update" ]; then
    cp "$work/$name/results.out" "$here/expected/$name.out"
  elif ! cmp -s "$work/$name/results.out" "$here/expected/$name.out"; then
    echo "$name: results differ from expected/$name.out"
    diff "$here/expected/$name.out" "$work/$name/results.out" | head -20 || true
    failed=1
  fi
done <"$here/cases.txt"
exit $failed
