#pragma once
// The work for one probe: starting values, the fit chosen by the probe type and the
// model, the acceptance checks and the Wald test. It depends only on the run's fixed
// set-up and the probe's own input; all per-probe state is owned by the caller.

#include <functional>
#include <string>
#include <vector>

#include "core/outcome.h"

#include "core/data.h"
#include "driver/option.h"
#include "core/para.h"
#include "fit/fit.h"
#include "numeric/matrix.h"
#include "start/probe_selection.h"

// Per-probe working storage, allocated once by whoever processes probes and reused.
struct ProbeWork {
  std::vector<double> start;       // start vector, kMaxParams entries
  std::vector<double> fitted;      // parameter vector, kMaxParams entries
  std::vector<double> std_errors;  // kMaxParams entries
  std::vector<double> reference;   // what the rescued fit is accepted against, kMaxParams entries
  ProbeSelection selection;        // the subjects and working calls of the last start
  Matrix cov;                      // covariance of the disease-model coefficients
  double loglik = 0.0;
  int iterations = 0;
  // Empty in a run. When set, it is called in place of the fit that the probe type and
  // the model choose, with the same arguments; tests use it to give a probe a chosen
  // fit outcome and follow it through acceptance, the Wald test and the results line.
  std::function<FitResult(const double* start, const DATA& data, const PARA& para)> fit_override;
  // False: a probe the stated path leaves NA stays NA (tests compare the two roads).
  bool rescue = true;
  // How the fits converge: the run's --newton-finish asks for kNewtonFinish.
  FitConvergence convergence = FitConvergence::kStated;
  ProbeWork();
};

// One tested coefficient of the disease model at the fitted vector.
struct TestedEffect {
  std::string name;  // e.g. "K", "L", "K:age"
  double beta = 0.0;
  double se = 0.0;   // from the covariance handed to the Wald test
};

struct ProbeResult {
  int status = 1;              // below 1: statistic and p-value are valid; 1 or more: "NA"
  double statistic = 0.0;
  double p_value = 1.0;
  bool test_failed = false;    // the fit was accepted but its tested covariance was unusable
  Outcome outcome = Outcome::kOk;
  FitPath path = FitPath::kStated;
  Outcome stated_outcome = Outcome::kOk;   // of the stated attempt; not OK when rescued
  Outcome rescue_outcome = Outcome::kOk;   // of a rescue that failed too (its last attempt)
  int degrees_of_freedom = 0;        // number of tested coefficients
  std::vector<TestedEffect> tested;  // filled when the probe was fitted and accepted
  int iterations = 0;                // of the fit, when there was one
  double loglik = 0.0;               // of the fit, when it succeeded (without -n log sqrt(2 pi))
  int num_cases = 0;                 // subjects analysed at the probe
  int num_controls = 0;
};

// Analyses one probe whose called copy numbers and intensities are in `data`: the stated
// start and fit first; when that start is rejected or its fit fails or is not accepted,
// again from the robust start (path kRescued). `para` holds the run's set-up fields; its
// per-probe fields are rewritten and released here.
ProbeResult analyse_probe(const OPTION& option, PARA& para, DATA& data, double pfb, ProbeWork& work);

