#pragma once
// PARA: model dimensions, the per-probe layout of the parameter vector, the
// free-parameter list, the model choice and the disease-model effect flags.
// Effect flags: 0 not in the disease model, 1 in the model, 2 in the model and tested.

#include <array>
#include <string>
#include <vector>

#include "core/model_family.h"
#include "numeric/offset_array.h"

// Room in the driver's parameter vector, standard-error vector and matrix (1..200).
constexpr int kMaxParams = 200;

struct PARA {
  // Per probe, rewritten by the starting-value routines.
  char array_type = 'I';
  int differential_measurement_errors = 0;
  int num_cn_classes = 0;
  int num_allele_classes = 0;
  std::vector<int> cn_class_present;      // one per total class
  std::vector<int> allele_class_present;  // one per allele-specific class (SNP probes)
  int ref_cn_class = 0;
  int ref_allele_class = 0;
  int num_disease_coefs = 0;  // set once by the model set-up
  int num_r_means = 0;
  int num_r_logvars = 0;
  int num_b_means = 0;
  int num_b_logvars = 0;
  int freq_start = 0;
  int r_mean_start = 0;
  int r_logvar_start = 0;
  int b_mean_start = 0;
  int b_logvar_start = 0;
  int b_logvar_end = 0;
  int num_params = 0;
  std::vector<int> free_params;  // positions of the free parameters, increasing
  // [k][l] = k(k+1)/2 + l for l <= k, -1 for l > k (no class)
  std::array<std::array<int, 3>, 3> allele_class_index = {{{0, -1, -1}, {1, 2, -1}, {3, 4, 5}}};
  std::vector<int> factorial;  // k! for k = 0 .. num_cn_classes - 1

  // Set once by the model set-up.
  ModelFamily model_family = ModelFamily::kRetrospective;  // the likelihood the design calls for
  std::vector<std::string> covariate_names;  // name of each design column
  int num_covariate_columns = 0;
  int num_genetic_variables = 0;
  int num_dependent_columns = 0;
  int num_dependent_covariates = 0;
  IMatrix covariate_effects;       // J x J from 0
  IMatrix genetic_effects;         // 2 x 2 from 0: K, L
  IMatrix gene_covariate_effects;  // J x 2 from 0
};

// Releases the per-probe arrays that a starting-value routine allocated.
void release_probe_arrays(PARA& para);
