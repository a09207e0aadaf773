#pragma once
// DATA: the per-subject data of the run and of the current probe.

#include <vector>

#include "numeric/matrix.h"

struct DATA {
  int num_subjects = 0;
  std::vector<int> excluded;        // 1 when the subject is left out of this probe's fit
  std::vector<int> called_cn;       // called total copy number of the current probe
  std::vector<int> disease_status;  // 0 control, 1 case
  Matrix covariates;               // num_subjects x J design matrix, from 0
  std::vector<double> intensity_r;  // R intensity of the current probe
  std::vector<double> intensity_b;  // B intensity of the current probe (SNP probes)
};
