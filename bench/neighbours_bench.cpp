// The isolated-subject scan of the SNP starting values: the grid version against the
// plain scan over all pairs, on the same simulated probe after step 1 (subjects called
// above two copies or with a non-finite intensity left out). Each iteration restores the
// flags of step 1 first, an O(n) copy that both versions pay.

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_setup.h"
#include "start/snp_cleaning.h"

namespace {

struct ScanInput {
  DATA data;
  std::vector<int> after_step1;
};

ScanInput scan_input(int n) {
  const SimSettings settings = bench_settings("SNP", n, 0, 11);
  const SimSubjects subjects = make_subjects(settings);
  const SimProbe probe = make_probe(settings, subjects, 0);
  ScanInput input;
  DATA& data = input.data;
  data.num_subjects = n;
  data.disease_status = subjects.status;
  data.excluded.assign(static_cast<std::size_t>(n), 0);
  load_probe(data, probe);
  ProbeSelection selection;
  selection.begin(data.called_cn, n);
  exclude_high_calls(data, selection);
  input.after_step1 = selection.excluded;
  return input;
}

template <void (*Scan)(const DATA&, std::vector<int>&)>
void BM_IsolatedScan(benchmark::State& state) {
  ScanInput input = scan_input(static_cast<int>(state.range(0)));
  long isolated = 0;
  std::vector<int> excluded;
  for (auto _ : state) {
    excluded = input.after_step1;
    Scan(input.data, excluded);
    benchmark::DoNotOptimize(excluded.data());
  }
  for (std::size_t i = 0; i < input.after_step1.size(); ++i)
    isolated += excluded[i] != input.after_step1[i];
  state.counters["isolated"] = static_cast<double>(isolated);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK_TEMPLATE(BM_IsolatedScan, flag_isolated_subjects)
    ->Name("IsolatedScan/grid")->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_IsolatedScan, flag_isolated_subjects_plain)
    ->Name("IsolatedScan/plain")->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);
