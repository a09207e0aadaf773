#!/usr/bin/env bash
# Builds Quillmark and runs the whole test suite.
#   ./run-tests.sh              build in build/ and run every test
#   ./run-tests.sh --werror     treat compiler warnings as errors
#   ./run-tests.sh --sanitize   build in build-sanitize/ with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")"
werror=OFF
sanitize=OFF
dir=build
for arg in "$@"; do
  case "$arg" in
    --werror) werror=ON ;;
    --sanitize) sanitize=ON; dir=build-sanitize ;;
    *) echo "Error: unknown option '$arg'"; exit 1 ;;
  esac
done
# SLEEF: the vector exp (QUILLMARK_SIMD_EXP); snakemake and matplotlib: the cluster
# workflow and the plots.
scripts/ensure-packages.sh g++ cmake make libgtest-dev libtbb-dev libhts-dev pkg-config \
  libsleef-dev snakemake python3-matplotlib
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMARK_WERROR="$werror" -DQUILLMARK_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
