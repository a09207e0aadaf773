#pragma once
// Runs the CN starting values and one of the three CN fits on a simulated probe, and
// evaluates the observed log-likelihood around the result through the oracle.

#include <functional>
#include <vector>

#include "core/layout.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/loglik_oracle.h"
#include "fit/model_fixture.h"
#include "start/start.h"

inline int design_columns(int model_type) { return model_type == 1 ? 2 : model_type == 2 ? 1 : 0; }

inline PARA para_for_model(int model_type) {
  if (model_type == 1) return make_para_independent(2);
  if (model_type == 2) return make_para_dependent(1);
  return make_para_k_only();
}

struct FitRun {
  int start_status = 1;
  int fit_status = 1;
  PARA para;
  DATA data;
  std::vector<double> start = std::vector<double>(kMaxParams, 0.0);
  std::vector<double> theta = std::vector<double>(kMaxParams, 0.0);
  std::vector<double> se = std::vector<double>(kMaxParams, 0.0);
  Matrix cov;  // of the disease-model coefficients
  FitReport report;
  double loglik = 0.0;
  int iterations = 0;
  Outcome outcome = Outcome::kOk;
};

// Runs the CN fit of the model family from run.start and copies its result into run;
// 0 when the fit succeeded, else 1 (run.outcome says why).
inline int run_fit(int model_type, FitRun& run, FitControl control) {
  control.report = &run.report;
  const FitResult fit = model_type == 0   ? fit_retro_K(run.start.data(), run.data, run.para, control)
                        : model_type == 1 ? fit_retro_KZ(run.start.data(), run.data, run.para, control)
                                          : fit_pro_KZ_sieve(run.start.data(), run.data, run.para, control);
  run.outcome = fit.outcome;
  run.loglik = fit.loglik;
  run.iterations = fit.iterations;
  std::copy(fit.estimates.begin(), fit.estimates.end(), run.theta.begin());
  if (!fit.ok()) return 1;
  std::copy(fit.std_errors.begin(), fit.std_errors.end(), run.se.begin());
  run.cov = fit.disease_covariance;
  return 0;
}

// Simulates probe `probe_index` of the settings, starts and fits it.
inline void fit_simulated(FitRun& run, int model_type, const SimSettings& settings,
                          const SimSubjects& subjects, int probe_index, int dme,
                          const FitControl& control = FitControl{}) {
  run.para = para_for_model(model_type);
  run.data = data_from_subjects(subjects, design_columns(model_type));
  load_probe(run.data, make_probe(settings, subjects, probe_index));
  run.cov = Matrix();
  run.start_status = get_CN_initial(run.start.data(), run.para, run.data, 2.0, 'I', dme);
  if (run.start_status == 0) run.fit_status = run_fit(model_type, run, control);
}

// The free coordinates of a finished fit: vector positions, then sieve slots (s, k) whose
// probability moves against the stratum's reference class 2.
struct Coordinates {
  std::vector<int> theta_position;  // 0-based, or -1 for a sieve slot
  std::vector<int> stratum, cls;    // sieve slots
};

inline Coordinates coordinates_of(const FitRun& run) {
  Coordinates c;
  const int P = run.para.num_params;
  for (const int x : run.report.free_positions) {
    c.theta_position.push_back(x < P ? x : -1);
    c.stratum.push_back(x < P ? -1 : (x - P) / 2);
    c.cls.push_back(x < P ? -1 : (x - P) % 2);
  }
  return c;
}

// l as a function of the free coordinates, around the fit's estimates (frequencies turned
// back into log-ratios; sieve reference probabilities one minus the others).
struct Objective {
  const FitRun& run;
  int model_type;
  Coordinates coords;
  std::vector<double> theta0;
  std::vector<double> q0;
  std::vector<int> stratum;

  Objective(const FitRun& r, int type) : run(r), model_type(type), coords(coordinates_of(r)) {
    const PARA& para = run.para;
    theta0.assign(run.theta.begin(), run.theta.begin() + para.num_params);
    if (model_type != 2) {
      double reference = 1.0;
      for (int k = 0; k < 2; ++k)
        if (para.cn_class_present[k]) reference -= theta0[ParamLayout(para).frequency(k)];
      for (int k = 0; k < 2; ++k)
        if (para.cn_class_present[k])
          theta0[ParamLayout(para).frequency(k)] =
              std::log(theta0[ParamLayout(para).frequency(k)] / reference);
    } else {
      int count = 0;
      stratum = oracle::strata_of(run.data, count);
      q0 = run.report.sieve_q;
      for (int s = 0; s < count; ++s) {
        double reference = 1.0;
        for (int k = 0; k < 2; ++k)
          if (para.cn_class_present[k]) reference -= q0[s * 3 + k];
        q0[s * 3 + 2] = reference;
      }
    }
  }
  int size() const { return static_cast<int>(coords.theta_position.size()); }
  double step(int a) const {
    if (coords.theta_position[a] >= 0) return 1e-4;
    return 1e-4 * q0[coords.stratum[a] * 3 + coords.cls[a]];
  }
  double operator()(const std::vector<double>& x) const {
    std::vector<double> theta = theta0;
    std::vector<double> q = q0;
    for (int a = 0; a < size(); ++a) {
      if (coords.theta_position[a] >= 0) {
        theta[coords.theta_position[a]] += x[a];
      } else {
        q[coords.stratum[a] * 3 + coords.cls[a]] += x[a];
        q[coords.stratum[a] * 3 + 2] -= x[a];
      }
    }
    return model_type == 2 ? oracle::sieve(theta, q, stratum, run.data, run.para)
                           : oracle::retrospective(theta, run.data, run.para);
  }
};

// Central-difference gradient and Hessian of the objective at the estimates.
inline void finite_differences(const Objective& f, std::vector<double>& gradient,
                               std::vector<std::vector<double>>& hessian) {
  const int m = f.size();
  std::vector<double> x(m, 0.0);
  const double f0 = f(x);
  gradient.assign(m, 0.0);
  hessian.assign(m, std::vector<double>(m, 0.0));
  for (int a = 0; a < m; ++a) {
    const double ha = f.step(a);
    x[a] = ha;
    const double plus = f(x);
    x[a] = -ha;
    const double minus = f(x);
    x[a] = 0.0;
    gradient[a] = (plus - minus) / (2.0 * ha);
    hessian[a][a] = (plus - 2.0 * f0 + minus) / (ha * ha);
    for (int b = 0; b < a; ++b) {
      const double hb = f.step(b);
      double sum = 0.0;
      for (const int sa : {1, -1})
        for (const int sb : {1, -1}) {
          x[a] = sa * ha;
          x[b] = sb * hb;
          sum += sa * sb * f(x);
        }
      x[a] = x[b] = 0.0;
      hessian[a][b] = hessian[b][a] = sum / (4.0 * ha * hb);
    }
  }
}
