// analyse_probe per probe: starting values, the fit of the model, the acceptance checks
// and the Wald test, on a pool of simulated probes (half of them with an odds ratio of
// 1.5 per copy) held in memory. One iteration analyses the whole pool, so every model
// and size sees the same probes; items per second are probes per second.
//
// Models (the run's set-up from an OPTION by the driver's model set-up):
//   0  K only;  1  K and two numeric covariates;  2  K and one binary dependent covariate.
// Counters: "NA" is the share of the pool reported as "NA" and "NA_start" the share that
// the starting values already rejected (found once, outside the timed loop); "fit_iters"
// is the mean iteration count of the fits that ran.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_setup.h"
#include "driver/probe.h"
#include "start/start.h"

namespace {

constexpr int kPoolSize = 8;

// Probes of the pool whose starting values fail (status 1 or more).
int rejected_at_start(BenchRun& run, const std::vector<SimProbe>& pool) {
  std::vector<double> start(kMaxParams, 0.0);
  const bool snp = run.option.probe_type == ProbeType::kSnp;
  int rejected = 0;
  for (const SimProbe& probe : pool) {
    load_probe(run.data, probe);
    const int status =
        snp ? get_SNP_initial_Illumina(start.data(), run.para, run.data, probe.pfb, run.option.array_type,
                                       run.option.differential_measurement_errors)
            : get_CN_initial(start.data(), run.para, run.data, probe.pfb, run.option.array_type,
                             run.option.differential_measurement_errors);
    rejected += status >= 1 || run.para.num_params > kMaxParams;
    release_probe_arrays(run.para);
  }
  return rejected;
}

void BM_AnalyseProbe(benchmark::State& state, const std::string& probe_type) {
  const int n = static_cast<int>(state.range(0));
  const int model_type = static_cast<int>(state.range(1));
  const SimSettings settings = bench_settings(probe_type, n, model_type, 41 + model_type);
  const SimSubjects subjects = make_subjects(settings);
  std::vector<SimProbe> pool;
  for (int p = 0; p < kPoolSize; ++p) pool.push_back(make_probe(settings, subjects, p));

  BenchRun run;
  set_up_run(run, settings, subjects, model_type);
  ProbeWork work;
  int na = 0;
  long long iterations = 0;
  int fits = 0;
  for (auto _ : state) {
    na = 0;
    iterations = 0;
    fits = 0;
    for (const SimProbe& probe : pool) {
      load_probe(run.data, probe);
      work.iterations = 0;
      const ProbeResult result = analyse_probe(run.option, run.para, run.data, probe.pfb, work);
      benchmark::DoNotOptimize(result.p_value);
      na += result.status >= 1;
      if (work.iterations > 0) {
        iterations += work.iterations;
        ++fits;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kPoolSize);
  state.counters["NA"] = static_cast<double>(na) / kPoolSize;
  state.counters["NA_start"] = static_cast<double>(rejected_at_start(run, pool)) / kPoolSize;
  state.counters["fit_iters"] = fits > 0 ? static_cast<double>(iterations) / fits : 0.0;
}

void probe_args(benchmark::internal::Benchmark* b) {
  for (const int n : {2000, 20000})
    for (const int model_type : {0, 1, 2}) b->Args({n, model_type});
  b->ArgNames({"n", "model"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(BM_AnalyseProbe, CN, std::string("CN"))->Apply(probe_args);
BENCHMARK_CAPTURE(BM_AnalyseProbe, SNP, std::string("SNP"))->Apply(probe_args);
