#pragma once
// Small builders of PARA and DATA for tests of the CN starting values and fits: the
// set-up fields that the model set-up would leave for three models, and a probe of
// simulated data copied into DATA.

#include <string>
#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "design_edit.h"
#include "sim/simulate.h"

// The model set-up of one run: J design columns, of which the first num_dependent are
// the dependent covariate; main effects of every column with the given flag, the K
// effect with k_flag, and optional K x column products.
struct ModelSpec {
  int num_columns = 0;
  int num_dependent = 0;
  int k_flag = 2;
  int main_flag = 1;
  std::vector<int> kz_flags;  // per column, 0 when absent
};

inline PARA make_para(const ModelSpec& spec) {
  PARA para;
  RunDesign& design = edit_design(para);
  const int J = spec.num_columns;
  clear_effects(design, J);
  design.num_genetic_variables = 2;
  design.num_dependent_columns = spec.num_dependent;
  design.num_dependent_covariates = spec.num_dependent > 0 ? 1 : 0;
  design.genetic_effects(0, 0) = effect_flag_of(spec.k_flag);
  for (int j = 0; j < J; ++j) {
    design.covariate_effects(j, j) = effect_flag_of(spec.main_flag);
    if (j < static_cast<int>(spec.kz_flags.size()))
      design.gene_covariate_effects(j, 0) = effect_flag_of(spec.kz_flags[j]);
    design.covariate_names.push_back("z" + std::to_string(j));
  }
  list_disease_coefficients(design);
  design.model_family = spec.num_dependent > 0 ? ModelFamily::kProspectiveSieve
                        : J > 0                 ? ModelFamily::kRetrospectiveWithCovariates
                                                : ModelFamily::kRetrospective;
  return para;
}

inline PARA make_para_k_only() { return make_para(ModelSpec{}); }
inline PARA make_para_independent(int columns) {
  ModelSpec spec;
  spec.num_columns = columns;
  return make_para(spec);
}
inline PARA make_para_dependent(int columns) {
  ModelSpec spec;
  spec.num_columns = columns;
  spec.num_dependent = columns;
  return make_para(spec);
}

// DATA with n subjects and J design columns, everything zero.
inline DATA make_data(int n, int columns) {
  DATA data;
  data.num_subjects = n;
  data.excluded.assign(n, 0);
  data.called_cn.assign(n, 2);
  data.disease_status.assign(n, 0);
  data.intensity_r.assign(n, 0.0);
  data.intensity_b.assign(n, 0.0);
  data.covariates = Matrix(n, columns);
  data.covariates.fill(0.0);
  return data;
}

// Statuses and the simulator's covariate columns (header order) as the design matrix.
inline DATA data_from_subjects(const SimSubjects& subjects, int columns) {
  const int n = static_cast<int>(subjects.status.size());
  DATA data = make_data(n, columns);
  for (int i = 0; i < n; ++i) {
    data.disease_status[i] = subjects.status[i];
    for (int j = 0; j < columns; ++j) data.covariates(i, j) = subjects.covariates[i][j];
  }
  return data;
}

// Copies a simulated probe's calls and R intensities into DATA.
inline void load_probe(DATA& data, const SimProbe& probe) {
  for (int i = 0; i < data.num_subjects; ++i) {
    data.called_cn[i] = probe.called_cn[i];
    data.intensity_r[i] = probe.r[i];
  }
}

// A CN simulation of n subjects for one of the three models.
inline SimSettings cn_settings(int n, int model_type, double odds_ratio, std::uint64_t seed) {
  SimSettings s;
  s.probe_type = "CN";
  s.num_subjects = n;
  s.odds_ratio = odds_ratio;
  s.null_fraction = odds_ratio == 1.0 ? 1.0 : 0.0;
  s.seed = seed;
  s.miscall_rate = 0.0;
  s.freq0 = 0.04;
  s.freq1 = 0.15;
  if (model_type == 1) s.num_numeric_covariates = 2;
  if (model_type == 2) {
    s.dependent_covariate = true;
    s.dependent_levels = 2;
  }
  return s;
}
