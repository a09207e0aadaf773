#pragma once
// Starting values: per probe, the latent classes of the model, the selection and
// cleaning of subjects, the layout of the parameter vector and its start values.

#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "checks/cluster_checks.h"
#include "start/probe_selection.h"

// CN probe from `calls` (one per subject of `data`): caps them at 2 in `selection`, keeps
// classes with >= 3 controls and >= 3 cases, lays out the vector, fills `start` and
// `selection`. Returns 0 usable, 1 when the cluster check rejects the start.
int get_CN_initial(double* start, PARA& para, const DATA& data, const std::vector<int>& calls,
                   double pfb, ArrayType array_type, int differential_measurement_errors,
                   ProbeSelection& selection);

// SNP probe from `calls`: cleans subjects (reassigning calls in `selection`), assigns
// allele-specific classes, lays out the vector, fills `start` and `selection`, and screens
// the probe. Returns 0 usable, or a failure code 1..9 (3: input outside the data model, or
// a vector longer than kMaxParams; codes in snp_cleaning.h).
int get_SNP_initial_Illumina(double* start, PARA& para, const DATA& data, const std::vector<int>& calls,
                             double pfb, ArrayType array_type, int differential_measurement_errors,
                             ProbeSelection& selection);

// The two starts from the data's own calls, with the selection put where the fits read it
// (data.excluded). The calls are left as they were given.
int get_CN_initial(double* start, PARA& para, DATA& data, double pfb, ArrayType array_type,
                   int differential_measurement_errors);
int get_SNP_initial_Illumina(double* start, PARA& para, DATA& data, double pfb, ArrayType array_type,
                             int differential_measurement_errors);
