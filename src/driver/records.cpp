#include "driver/option.h"

void set_default_options(OPTION& option) {
  option = OPTION{};
  option.spec_file = "./specification.txt";
  option.phenotype_file = "./phenotype.dat";
  option.raw_intensity_dat_file = "./raw.dat";
  option.raw_intensity_info_file = "./raw.info";
  option.called_cn_dat_file = "./CN.dat";
  option.called_cn_info_file = "./CN.info";
  option.result_file = "./results.out";
  option.design = "case-control";
  option.array_type = ArrayType::kLrrBaf;
  option.probe_type = ProbeType::kSnp;
  option.effect_mode = "additive";
  option.differential_measurement_errors = 1;
  option.num_covariates = 0;
  option.num_genetic_names = 1;
  option.dependence.fill('I');
  option.variable_names[0] = "K";
  option.effect_table[0][0] = 2;
}
