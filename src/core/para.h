#pragma once
// PARA: the per-probe layout of the parameter vector (model dimensions, the classes
// modelled, the free-parameter list) and the run's design it was laid out for.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/model_family.h"
#include "core/run_design.h"

// Room in the driver's parameter vector and standard-error vector.
constexpr int kMaxParams = 200;

// A design with no effect, for a layout made before the model set-up.
const std::shared_ptr<const RunDesign>& empty_run_design();

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

  // The run's design, shared read-only by every probe's layout.
  std::shared_ptr<const RunDesign> run_design = empty_run_design();
  // The run's design.
  const RunDesign& design() const { return *run_design; }
};

// Releases the per-probe arrays that a starting-value routine allocated.
void release_probe_arrays(PARA& para);
