#include "bench_setup.h"

#include <cstddef>
#include <cstdio>

#include "driver/model_setup.h"
#include "numeric/matrix.h"

SimSettings bench_settings(const std::string& probe_type, int num_subjects, int model_type,
                           std::uint64_t seed) {
  SimSettings s;
  s.probe_type = probe_type;
  s.num_subjects = num_subjects;
  s.null_fraction = 0.5;
  s.odds_ratio = 1.5;
  s.seed = seed;
  if (model_type == 1) s.num_numeric_covariates = 2;
  if (model_type == 2) {
    s.dependent_covariate = true;
    s.dependent_levels = 2;
  }
  return s;
}

OPTION bench_options(const SimSettings& settings, const SimSubjects& subjects, int model_type) {
  OPTION option;
  set_default_options(option);
  option.probe_type = settings.probe_type == "CN" ? ProbeType::kCn : ProbeType::kSnp;
  option.array_type = settings.array_type;
  const int nc = static_cast<int>(subjects.covariate_names.size());
  option.num_covariates = nc;
  for (auto& row : option.effect_table) row.fill(0);
  for (int j = 0; j < nc; ++j) {
    option.variable_names[static_cast<std::size_t>(j)] = subjects.covariate_names[static_cast<std::size_t>(j)];
    if (model_type > 0) option.effect_table[static_cast<std::size_t>(j)][static_cast<std::size_t>(j)] = 1;
    if (model_type == 2 && subjects.covariate_names[static_cast<std::size_t>(j)] == "dep")
      option.dependence[static_cast<std::size_t>(j)] = 'D';
  }
  option.variable_names[static_cast<std::size_t>(nc)].assign(1, 'K');  // assign(): GCC 12 misreads = "K" (-Wrestrict)
  option.num_genetic_names = 1;
  option.effect_table[static_cast<std::size_t>(nc)][static_cast<std::size_t>(nc)] = 2;
  return option;
}

void set_up_run(BenchRun& run, const SimSettings& settings, const SimSubjects& subjects,
                int model_type) {
  run.option = bench_options(settings, subjects, model_type);
  OPTION& option = run.option;
  const int n = static_cast<int>(subjects.status.size());
  const int nc = option.num_covariates;
  Matrix covariates = Matrix(n, nc);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < nc; ++j)
      covariates(i, j) = subjects.covariates[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
  order_dependent_covariate_first(option, n, covariates);

  DATA& data = run.data;
  const std::size_t size = static_cast<std::size_t>(n);
  data.num_subjects = n;
  data.excluded.assign(size, 0);
  data.called_cn.assign(size, 0);
  data.disease_status = subjects.status;
  data.intensity_r.assign(size, 0.0);
  data.intensity_b.assign(size, 0.0);
  translate_options_to_para_data(option, run.para, data, covariates);
  check_options(option, run.para);
}

void load_probe(DATA& data, const SimProbe& probe) {
  data.called_cn = probe.called_cn;
  data.intensity_r = probe.r;
  if (!probe.b.empty()) data.intensity_b = probe.b;
}

std::string intensity_line(const std::vector<double>& values, int decimals) {
  std::string line;
  char number[64];
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(number, sizeof number, "%s%.*f", i == 0 ? "" : " ", decimals, values[i]);
    line += number;
  }
  return line;
}
