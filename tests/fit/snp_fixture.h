#pragma once
// A SNP probe ready for a fit: PARA laid out for array type 'I' (or 'A') as the SNP starting values
// lay it out, DATA from a simulated probe, and a start vector taken from the simulated
// truth (class frequencies, cluster means and spreads of the true classes). Classes with
// fewer than 3 controls or 3 cases, and the classes named in `dropped`, are left out of
// the model and their subjects excluded.

#include <array>
#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "sim/simulate.h"

// The fitted model family of a simulation setting: 0 none, 1 numeric covariates, 2 dependent.
inline ModelFamily family_of_setting(int model_type) {
  return model_type == 2 ? ModelFamily::kProspectiveSieve
         : model_type == 1 ? ModelFamily::kRetrospectiveWithCovariates
                           : ModelFamily::kRetrospective;
}

struct SnpFixtureOptions {
  int model_type = 0;         // 0 none, 1 the numeric covariates, 2 the dependent covariate
  std::vector<int> dropped;   // allele classes left out of the model
  int dependent_columns = 1;  // model 2: leading covariate columns that form the strata
  ArrayType array_type = ArrayType::kLrrBaf;      // 'A': R parameters per allele class, no intensity parameter free
};

struct SnpProbeCase {
  PARA para;
  DATA data;
  std::vector<double> start;  // kMaxParams entries
};

SnpProbeCase make_snp_case(const SimSettings& settings, const SimSubjects& subjects,
                           const SimProbe& probe, const SnpFixtureOptions& options);

// Observed log-likelihood of the fitted models written out from the model formulas,
// without the fits' code. theta holds log-ratios and the B-allele-frequency logit (not
// the reported frequencies). For the sieve model, q[s][c] over the strata numbered in
// order of their first included subject by the value of the first covariate column.
double reference_loglik(const SnpProbeCase& pc, const std::vector<double>& theta,
                        const std::vector<std::vector<double>>& q);

// Per-class terms of subject i's likelihood (0 for unmodelled classes): f_i(c) P(c | y_i)
// without covariates, f_i(c) P_i(y_i, c) with them, f_i(c) times the disease factor for the
// sieve model (the sieve probability not included).
std::array<double, 6> reference_terms(const SnpProbeCase& pc, const std::vector<double>& theta, int i);

// Stratum of each subject for the sieve model (-1 for excluded subjects), by the exact
// value of the first covariate column, numbered in order of first appearance.
std::vector<int> reference_strata(const SnpProbeCase& pc, int& num_strata);
