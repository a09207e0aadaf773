#pragma once
// OPTION: the settings of one run, filled with defaults by the driver and then
// from the specification file.

#include <array>
#include <string>

#include "core/array_type.h"
#include "core/probe_type.h"

// Capacity of the variable tables; names and paths may be of any length.
constexpr int kMaxVariables = 20;

struct OPTION {
  int spec_file_given = 0;
  int phenotype_file_given = 0;
  int raw_intensity_dat_file_given = 0;
  int raw_intensity_info_file_given = 0;
  int called_cn_dat_file_given = 0;
  int called_cn_info_file_given = 0;
  int result_file_given = 0;
  int design_given = 0;
  int array_type_given = 0;
  int probe_type_given = 0;
  int effect_mode_given = 0;
  int differential_measurement_errors_given = 0;
  int categorical_given = 0;
  int dependent_given = 0;
  int effect_given = 0;
  int test_given = 0;

  std::string spec_file;
  std::string phenotype_file;
  std::string raw_intensity_dat_file;
  std::string raw_intensity_info_file;
  std::string called_cn_dat_file;
  std::string called_cn_info_file;
  std::string result_file;
  std::string design;
  ArrayType array_type = ArrayType::kLrrBaf;
  ProbeType probe_type = ProbeType::kSnp;
  std::string effect_mode;
  int differential_measurement_errors = 1;

  int num_covariates = 0;
  int num_genetic_names = 1;
  std::array<int, kMaxVariables> is_categorical{};
  // Over positions of variable_names: (j, j) main effect of j, (i, j) product of i and j;
  // 0 absent, 1 in the disease model, 2 in the model and tested.
  std::array<std::array<int, kMaxVariables>, kMaxVariables> effect_table{};
  std::array<char, kMaxVariables> dependence{};
  // Covariate names in header order, then "K", then "L" when used.
  std::array<std::string, kMaxVariables> variable_names;
};

// Fills every field with the run's defaults.
void set_default_options(OPTION& option);
