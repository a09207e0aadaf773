#pragma once
// Starting values: per probe, the latent classes of the model, the selection and
// cleaning of subjects, the layout of the parameter vector and its start values.

#include "core/data.h"
#include "core/para.h"
#include "checks/cluster_checks.h"

// CN probe: caps calls at 2, keeps classes with >= 3 controls and >= 3 cases, lays out
// the vector, fills `start`. Returns 0 usable, 1 when the cluster check rejects the start.
int get_CN_initial(double* start, PARA& para, DATA& data, double pfb, ArrayType array_type,
                   int differential_measurement_errors);

// SNP probe: cleans subjects, assigns allele-specific classes, lays out the vector, fills
// `start`, and screens the probe. Returns 0 usable, or a failure code 1..9 (3: input
// outside the data model, or a vector longer than kMaxParams; codes in snp_cleaning.h).
int get_SNP_initial_Illumina(double* start, PARA& para, DATA& data, double pfb, ArrayType array_type,
                             int differential_measurement_errors);
