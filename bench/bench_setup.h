#pragma once
// Set-up shared by the benchmarks: simulated subjects and probes in memory, and the run's
// model built from an OPTION by the driver's model set-up, as the program builds it after
// reading the specification file and the phenotype file.

#include <string>
#include <vector>

#include "core/data.h"
#include "driver/option.h"
#include "core/para.h"
#include "sim/simulate.h"

// Simulation of a case-control set of `num_subjects` for one probe type ("CN" or "SNP")
// and one disease model: 0 K only, 1 two numeric covariates, 2 one binary dependent
// covariate. Half of the probes carry an odds ratio of 1.5 per copy.
SimSettings bench_settings(const std::string& probe_type, int num_subjects, int model_type,
                           std::uint64_t seed);

// The options of that run: every covariate of the phenotype header, in the disease model
// for models 1 and 2 ("dep" marked dependent for model 2), and K tested. Measurement
// errors differ between cases and controls, the program's default.
OPTION bench_options(const SimSettings& settings, const SimSubjects& subjects, int model_type);

// The run's fixed set-up as the driver makes it: the subjects' statuses, the probe-sized
// vectors of DATA, and PARA and the design matrix from the model set-up (which stops the
// run if no fit supports the model).
struct BenchRun {
  OPTION option;
  PARA para;
  DATA data;
};
void set_up_run(BenchRun& run, const SimSettings& settings, const SimSubjects& subjects,
                int model_type);

// Copies the calls and intensities of a simulated probe into DATA.
void load_probe(DATA& data, const SimProbe& probe);

// A probe's intensity values written as the simulator writes them, separated by blanks.
std::string intensity_line(const std::vector<double>& values, int decimals);
