#!/usr/bin/env bash
# Builds Quillmark and its tools (build/quillmark, build/tools/quillmark-sim and
# quillmark-prepare) and analyses the bundled example in examples/ (results in
# examples/results.out, the extended table results.out.tsv, the log results.out.log and the QQ
# and Manhattan plots).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh g++ cmake make libgtest-dev libtbb-dev libhts-dev pkg-config \
  libsleef-dev python3-matplotlib
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quillmark quillmark-sim quillmark-prepare
cd examples
../build/quillmark --spec_file specification.txt
echo "First results lines (examples/results.out):"
head -n 12 results.out
../build/quillmark-plot results.out.tsv
