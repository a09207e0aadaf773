// The three CN fits judged by their mathematics: at convergence the finite-difference
// gradient of an independently written observed log-likelihood vanishes, the observed
// information from Louis's correction matches its finite-difference Hessian and the
// covariance handed to the test is its inverse; simulated odds ratios are recovered and
// null p-values are calibrated.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "core/layout.h"
#include "driver/probe.h"
#include "fit/cn_fit_harness.h"
#include "numeric/lu.h"
#include "wald/wald.h"

namespace {

struct FitCase {
  int model_type;
  int dme;
  std::uint64_t seed;
};

std::string case_name(const FitCase& c) {
  return "model" + std::to_string(c.model_type) + "_dme" + std::to_string(c.dme);
}

class CnFitMath : public ::testing::TestWithParam<FitCase> {};

FitControl tight_control() {
  FitControl control;
  control.step_tolerance = 1e-10;
  control.loglik_tolerance = 1e-13;
  control.max_iterations = 20000;
  return control;
}

TEST_P(CnFitMath, GradientVanishesAndLouisInformationIsTheHessian) {
  const FitCase c = GetParam();
  const SimSettings settings = cn_settings(1200, c.model_type, 1.5, c.seed);
  const SimSubjects subjects = make_subjects(settings);
  FitRun run;
  fit_simulated(run, c.model_type, settings, subjects, 0, c.dme, tight_control());
  ASSERT_EQ(run.start_status, 0);
  ASSERT_EQ(run.fit_status, 0);

  {  // Louis's correction pooled over the subjects (the fit without covariates) against
     // the correction subject by subject: the same sums in another order.
    FitRun by_subject = run;
    FitControl oracle = tight_control();
    oracle.louis_by_subject = true;
    ASSERT_EQ(run_fit(c.model_type, by_subject, oracle), 0);
    const Matrix& pooled = run.report.information;
    const Matrix& plain = by_subject.report.information;
    for (int u = 0; u < run.report.size; ++u)
      for (int v = 0; v < run.report.size; ++v)
        EXPECT_NEAR(pooled(u, v), plain(u, v), 1e-11 * std::sqrt(std::fabs(plain(u, u) * plain(v, v))))
            << "(" << u << ", " << v << ")";
  }

  const Objective f(run, c.model_type);
  std::vector<double> gradient;
  std::vector<std::vector<double>> hessian;
  finite_differences(f, gradient, hessian);
  const int m = f.size();
  ASSERT_GT(m, run.para.design().num_disease_coefs);
  if (c.model_type == 2) {
    EXPECT_GT(m, static_cast<int>(run.para.free_params.size()));  // sieve slots are free
  }

  // Score in units of its own spread: a distance from the maximum of at most 1e-3 standard errors.
  for (int a = 0; a < m; ++a)
    EXPECT_LT(std::fabs(gradient[a]) / std::sqrt(-hessian[a][a]), 1e-3) << "coordinate " << a;

  // Louis's observed information against the finite-difference Hessian.
  const std::vector<int>& pos = run.report.free_positions;
  for (int a = 0; a < m; ++a)
    for (int b = 0; b < m; ++b) {
      const double scale = std::sqrt(hessian[a][a] * hessian[b][b]);
      EXPECT_NEAR(run.report.information(pos[a], pos[b]) / scale, -hessian[a][b] / scale, 2e-3)
          << "coordinates " << a << ", " << b;
    }

  // The covariance handed to the test is the inverse of that information.
  Matrix information(m, m);
  for (int a = 0; a < m; ++a)
    for (int b = 0; b < m; ++b) information(a, b) = -hessian[a][b];
  const Matrix v = LuDecomposition(information).inverse();
  const int D = run.para.design().num_disease_coefs;
  for (int u = 0; u < D; ++u) {
    EXPECT_NEAR(run.se[u], std::sqrt(v(u, u)), 1e-2 * std::sqrt(v(u, u)));
    for (int w = 0; w < D; ++w)
      EXPECT_NEAR(run.cov(u, w) / std::sqrt(v(u, u) * v(w, w)),
                  v(u, w) / std::sqrt(v(u, u) * v(w, w)), 1e-2);
  }
}

TEST_P(CnFitMath, ProductionStoppingRuleLeavesASmallScore) {
  const FitCase c = GetParam();
  const SimSettings settings = cn_settings(1200, c.model_type, 1.5, c.seed + 100);
  const SimSubjects subjects = make_subjects(settings);
  FitRun run;
  fit_simulated(run, c.model_type, settings, subjects, 0, c.dme);
  ASSERT_EQ(run.start_status, 0);
  ASSERT_EQ(run.fit_status, 0);
  EXPECT_LT(run.iterations, 2000);
  const Objective f(run, c.model_type);
  std::vector<double> gradient;
  std::vector<std::vector<double>> hessian;
  finite_differences(f, gradient, hessian);
  for (int a = 0; a < f.size(); ++a)
    EXPECT_LT(std::fabs(gradient[a]) / std::sqrt(-hessian[a][a]), 0.05) << "coordinate " << a;
}

TEST_P(CnFitMath, IterationLimitCountsEveryStep) {
  const FitCase c = GetParam();
  const SimSettings settings = cn_settings(600, c.model_type, 1.5, c.seed + 200);
  const SimSubjects subjects = make_subjects(settings);
  FitRun run;
  fit_simulated(run, c.model_type, settings, subjects, 0, c.dme);
  ASSERT_EQ(run.fit_status, 0);
  const int needed = run.iterations;
  ASSERT_GE(needed, 1);  // a step is always taken before the convergence test can pass
  FitControl limit;
  limit.max_iterations = needed;  // the step that reaches the limit fails, however small
  limit.rescue = false;           // of the stated iteration
  EXPECT_EQ(run_fit(c.model_type, run, limit), 1);
  EXPECT_EQ(run.outcome, Outcome::kFitIterationCap);
  EXPECT_EQ(run.iterations, needed);
  limit.max_iterations = needed + 1;
  EXPECT_EQ(run_fit(c.model_type, run, limit), 0);
  EXPECT_EQ(run.iterations, needed);
}

INSTANTIATE_TEST_SUITE_P(AllModels, CnFitMath,
                         ::testing::Values(FitCase{0, 0, 11}, FitCase{0, 1, 12}, FitCase{1, 0, 13},
                                           FitCase{1, 1, 14}, FitCase{2, 0, 15}, FitCase{2, 1, 16}),
                         [](const auto& info) { return case_name(info.param); });

// A start that is already the maximum still takes one Newton step, and only one.
TEST(CnFitResults, StartAtTheMaximumTakesOneStep) {
  for (const int model_type : {0, 1}) {
    const SimSettings settings = cn_settings(800, model_type, 1.5, 60 + model_type);
    const SimSubjects subjects = make_subjects(settings);
    FitRun run;
    fit_simulated(run, model_type, settings, subjects, 0, 0, tight_control());
    ASSERT_EQ(run.fit_status, 0);
    // The estimates, frequencies turned back into log-ratios, become the start.
    const Objective at_maximum(run, model_type);
    std::copy(at_maximum.theta0.begin(), at_maximum.theta0.end(), run.start.begin());
    EXPECT_EQ(run_fit(model_type, run, FitControl{}), 0);
    EXPECT_EQ(run.iterations, 1) << model_type;
  }
}

// Results that the driver and the test read on success.
TEST(CnFitResults, FrequenciesAreProbabilitiesAndSieveCountsAreRestored) {
  for (const int model_type : {0, 1, 2}) {
    const SimSettings settings = cn_settings(800, model_type, 1.5, 40 + model_type);
    const SimSubjects subjects = make_subjects(settings);
    FitRun run;
    fit_simulated(run, model_type, settings, subjects, 0, 1);
    ASSERT_EQ(run.fit_status, 0) << model_type;
    const int P = run.para.num_params;
    const std::size_t free_before = run.para.free_params.size();
    if (model_type != 2) {
      double total = 0.0;
      for (int k = 0; k < 2; ++k) {
        if (!run.para.cn_class_present[k]) continue;
        const double pi = run.theta[ParamLayout(run.para).frequency(k)];
        EXPECT_GT(pi, 0.0);
        EXPECT_LT(pi, 1.0);
        total += pi;
      }
      EXPECT_LT(total, 1.0);
    } else {
      EXPECT_EQ(run.report.size, P + 2 * run.report.num_strata);
      // Starting again from the estimates re-runs the finish: the counts come back.
      EXPECT_EQ(run_fit(model_type, run, FitControl{}), 0);
      EXPECT_EQ(run.para.num_params, P);
      EXPECT_EQ(run.para.free_params.size(), free_before);
    }
  }
}

// Recovery of a per-copy odds ratio: the 95% interval covers the truth for most probes.
TEST(CnFitRecovery, IntervalCoversTheSimulatedOddsRatio) {
  const double odds_ratio = 1.6;
  for (const int model_type : {0, 1, 2}) {
    const SimSettings settings = cn_settings(1500, model_type, odds_ratio, 70 + model_type);
    const SimSubjects subjects = make_subjects(settings);
    int fitted = 0;
    int covered = 0;
    for (int probe = 0; probe < 10; ++probe) {
      FitRun run;
      fit_simulated(run, model_type, settings, subjects, probe, 1);
      if (run.start_status != 0 || run.fit_status != 0) continue;
      ++fitted;
      const double beta = run.theta[0];  // K comes first in the design vector
      if (std::fabs(beta - std::log(odds_ratio)) <= 1.96 * run.se[0]) ++covered;
    }
    EXPECT_GE(fitted, 8) << "model " << model_type;
    EXPECT_GE(covered, fitted - 2) << "model " << model_type;
  }
}

// Null calibration through the whole per-probe road (start, fit, acceptance, Wald test).
TEST(CnFitCalibration, NullPValuesAreNearUniform) {
  OPTION option;
  set_default_options(option);
  option.probe_type = ProbeType::kCn;
  for (const int model_type : {0, 1, 2}) {
    const SimSettings settings = cn_settings(400, model_type, 1.0, 90 + model_type);
    const SimSubjects subjects = make_subjects(settings);
    DATA data = data_from_subjects(subjects, design_columns(model_type));
    ProbeWork work;
    int tested = 0;
    int rejected = 0;
    SimProbe probe;
    for (int index = 0; index < 250; ++index) {
      fill_probe(probe, settings, subjects, index);
      load_probe(data, probe);
      PARA para = para_for_model(model_type);
      const ProbeResult result = analyse_probe(option, para, data, probe.pfb, work);
      if (result.status >= 1) continue;
      ++tested;
      if (result.p_value < 0.05) ++rejected;
    }
    ASSERT_GE(tested, 225) << "model " << model_type;
    const double share = static_cast<double>(rejected) / tested;
    std::printf("model %d: %d of 250 null probes tested, share of p < 0.05: %.3f\n", model_type,
                tested, share);
    EXPECT_GE(share, 0.02) << "model " << model_type;
    EXPECT_LE(share, 0.09) << "model " << model_type;
  }
}

}  // namespace
