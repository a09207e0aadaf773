#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer, UBSan) in build-fuzz/
# and runs each one for SECONDS seconds from its seed corpus.
#   scripts/fuzz.sh [SECONDS]     (default 60)
# Exits 1 on any crash, hang, leak, sanitizer report or broken property. Each target's
# log goes to build-fuzz/logs/<target>.log (its tail is printed on failure); inputs that
# fail are kept in build-fuzz/artifacts/<target>/. To keep one as a regression test,
# copy it to fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(spec_file line_reader file_set)

scripts/ensure-packages.sh clang libclang-rt-14-dev cmake make pkg-config libhts-dev libtbb-dev
dir=build-fuzz
mkdir -p "$dir"
if ! { cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DQUILLMARK_FUZZ=ON -DQUILLMARK_TESTS=OFF -DQUILLMARK_WERROR=ON &&
       cmake --build "$dir" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"; } >"$dir/build.log" 2>&1; then
  echo "Error: the fuzz targets do not build; end of $dir/build.log:"
  tail -n 40 "$dir/build.log"
  exit 1
fi

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0
for target in "${targets[@]}"; do
  work="$dir/corpus/$target"
  artifacts="$dir/artifacts/$target"
  log="$dir/logs/$target.log"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  status=0
  # -close_fd_mask=1: the runs' reports on standard output would only slow the fuzzer.
  "$dir/fuzz/fuzz_$target" -max_total_time="$seconds" -seed=1 -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ] || grep -q -e 'runtime error' -e 'ERROR: ' "$log"; then
    echo "fuzz_$target: FAILED (status $status) after ${runs:-?} runs; end of $log:"
    tail -n 40 "$log"
    ls "$artifacts"
    failed=1
  else
    echo "fuzz_$target: ${runs:-?} runs in ${seconds} s, no failure"
  fi
done
exit "$failed"
