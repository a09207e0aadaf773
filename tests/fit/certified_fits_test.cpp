// The certificate at the stop of a fit, the continuation to a maximum and the safeguarded
// step, judged by their mathematics: the solve and the expected information against closed
// forms, and fits of probes with calling errors against finite differences of an
// independently written observed log-likelihood (the gradient is zero at a reported fit,
// Louis's information is the negative Hessian there), reached through the whole per-probe
// road (the starting values from the called copy numbers).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "checks/cluster_checks.h"
#include "core/layout.h"
#include "driver/option.h"
#include "driver/probe.h"
#include "fit/certificate.h"
#include "fit/cn_fit_harness.h"
#include "fit/fit_control.h"
#include "fit/measurement_models.h"
#include "snp_fixture.h"

namespace {

// ---------------------------------------------------------------- the algebra

// A symmetric matrix from the upper triangle of rows (the lower one is left unset, as the
// models leave it).
Matrix symmetric(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  Matrix m(n, n);
  for (int u = 0; u < n; ++u)
    for (int v = u; v < n; ++v) m(u, v) = rows[u][v];
  return symmetric_copy(Information(m), n);
}

TEST(CertificateAlgebra, SolvesPositiveDefiniteBlocksAndRefusesOthers) {
  struct Row {
    const char* name;
    std::vector<std::vector<double>> m;
    std::vector<int> free;
    bool solvable;
  };
  const Row rows[] = {
      {"definite", {{4, 1, 0.5}, {1, 3, -0.2}, {0.5, -0.2, 2}}, {0, 1, 2}, true},
      // The fixed position's row is anything: only the free block counts.
      {"fixed row ignored", {{4, 1, 9}, {1, 3, 9}, {9, 9, -5}}, {0, 1}, true},
      {"indefinite", {{1, 2, 0}, {2, 1, 0}, {0, 0, 1}}, {0, 1, 2}, false},
      {"singular", {{1, 1, 0}, {1, 1, 0}, {0, 0, 1}}, {0, 1, 2}, false},
      {"negative definite", {{-2, 0, 0}, {0, -1, 0}, {0, 0, -1}}, {0, 1, 2}, false},
  };
  const double score[3] = {1.0, -2.0, 0.5};
  for (const Row& row : rows) {
    const Matrix m = symmetric(row.m);
    std::vector<double> x;
    ASSERT_EQ(solve_over_free(m, row.free, score, x), row.solvable) << row.name;
    if (!row.solvable) continue;
    // M x = U over the free block, and U'x = x'M x > 0.
    double quadratic = 0.0;
    for (std::size_t i = 0; i < row.free.size(); ++i) {
      double mx = 0.0;
      for (std::size_t j = 0; j < row.free.size(); ++j) mx += m(row.free[i], row.free[j]) * x[j];
      EXPECT_NEAR(mx, score[row.free[i]], 1e-12) << row.name;
      quadratic += x[i] * mx;
    }
    EXPECT_NEAR(score_statistic(row.free, score, x), quadratic, 1e-12) << row.name;
    EXPECT_GT(quadratic, 0.0);
  }
}

// The complete-data terms of two normal intensities (R and B, each a mean and a
// log-variance), turned into their expectation, against the closed form: the mean's
// sum rho / s2, no cross term, the log-variance's sum rho / 2; other entries unchanged.
TEST(CertificateAlgebra, ExpectedIntensityBlockIsFisherInformation) {
  PARA para;
  para.r_mean_start = 1;
  para.num_r_means = para.num_r_logvars = 1;
  para.r_logvar_start = 2;
  para.b_mean_start = 3;
  para.num_b_means = para.num_b_logvars = 1;
  para.b_logvar_start = 4;
  const int n = 5;
  Matrix m(n, n);
  const Information E(m);
  E(0, 0) = 7.0;  // a head entry, left alone
  E(0, 1) = 0.3;
  std::vector<double> U(n, 0.0);
  const double x[] = {-0.4, 0.1, 0.35, -0.05, 0.2};
  const double rho[] = {1.0, 0.25, 0.8, 0.6, 1.0};
  const double s2_r = 0.04;
  const double s2_b = 0.01;
  double weight = 0.0;
  for (int i = 0; i < 5; ++i) {
    add_normal_terms(U.data(), E, 1, 2, rho[i], x[i] - 0.02, s2_r);
    add_normal_terms(U.data(), E, 3, 4, rho[i], x[i] + 0.1, s2_b);
    weight += rho[i];
  }
  Matrix expected = symmetric_copy(E, n);
  expect_intensity_block(expected, U.data(), para);
  EXPECT_DOUBLE_EQ(expected(0, 0), 7.0);
  EXPECT_DOUBLE_EQ(expected(0, 1), 0.3);
  EXPECT_NEAR(expected(1, 1), weight / s2_r, 1e-9);
  EXPECT_NEAR(expected(3, 3), weight / s2_b, 1e-9);
  EXPECT_NEAR(expected(1, 2), 0.0, 1e-9);
  EXPECT_NEAR(expected(2, 1), 0.0, 1e-9);
  EXPECT_NEAR(expected(3, 4), 0.0, 1e-9);
  EXPECT_NEAR(expected(2, 2), 0.5 * weight, 1e-9);
  EXPECT_NEAR(expected(4, 4), 0.5 * weight, 1e-9);
}

// ---------------------------------------------------------------- fits of probes

// One probe through the per-probe road, its fit run twice from the start the road gives:
// by the stated iteration alone and with the rescue. The inputs of the fit are kept for
// the finite differences.
struct TwoFits {
  PARA para;
  DATA data;
  FitResult stated;
  FitResult rescued;
  FitReport report;  // of the rescued fit
};

TwoFits fit_probe_twice(bool snp, int model_type, const SimSettings& settings,
                        const SimSubjects& subjects, int index,
                        const std::function<void(FitControl&)>& adjust = [](FitControl&) {}) {
  OPTION option;
  set_default_options(option);
  option.probe_type = snp ? ProbeType::kSnp : ProbeType::kCn;
  DATA data = data_from_subjects(subjects, design_columns(model_type));
  SimProbe probe;
  fill_probe(probe, settings, subjects, index);
  load_probe(data, probe);
  if (snp)
    for (int i = 0; i < data.num_subjects; ++i) data.intensity_b[i] = probe.b[i];
  PARA para = para_for_model(model_type);
  ProbeWork work;
  work.rescue = false;  // the fits of the stated start only
  TwoFits two;
  work.fit_override = [&](const double* start, const DATA& d, const PARA& p) {
    two.para = p;
    two.data = d;
    FitControl control = snp ? (model_type == 1 ? retro_KLZ_control() : retro_KL_control())
                             : FitControl{};
    adjust(control);
    const auto fit = [&](const FitControl& c) {
      if (snp)
        return model_type == 1 ? fit_retro_KLZ(start, d, p, c) : fit_retro_KL(start, d, p, c);
      return model_type == 1 ? fit_retro_KZ(start, d, p, c) : fit_retro_K(start, d, p, c);
    };
    control.rescue = false;
    two.stated = fit(control);
    control.rescue = true;
    control.report = &two.report;
    two.rescued = fit(control);
    return two.rescued;
  };
  analyse_probe(option, para, data, probe.pfb, work);
  return two;
}

// The fits' internal vector from a reported one: frequencies back to log-ratios against
// two copies, a SNP probe's B-allele frequency back to its logit.
std::vector<double> internal_vector(const PARA& para, bool snp, std::vector<double> theta) {
  const ParamLayout layout(para);
  double reference = 1.0;
  for (int k = 0; k < 2; ++k)
    if (para.cn_class_present[k]) reference -= theta[layout.frequency(k)];
  for (int k = 0; k < 2; ++k)
    if (para.cn_class_present[k])
      theta[layout.frequency(k)] = std::log(theta[layout.frequency(k)] / reference);
  if (snp) {
    const double p_B = theta[layout.b_allele_logit()];
    theta[layout.b_allele_logit()] = std::log(p_B / (1.0 - p_B));
  }
  return theta;
}

// Central differences of the independently written observed log-likelihood over the free
// parameters at theta (internal), each with step h[u].
struct Differences {
  std::vector<double> gradient;
  std::vector<std::vector<double>> hessian;
};

Differences differences(const TwoFits& two, bool snp, const std::vector<double>& theta,
                        const std::vector<double>& h) {
  SnpProbeCase pc;
  pc.para = two.para;
  pc.data = two.data;
  const auto loglik = [&](const std::vector<double>& t) {
    return snp ? reference_loglik(pc, t, {}) : oracle::retrospective(t, two.data, two.para);
  };
  const std::vector<int> free = two.para.free_params;
  const std::size_t F = free.size();
  Differences d;
  d.gradient.assign(F, 0.0);
  d.hessian.assign(F, std::vector<double>(F, 0.0));
  const double l0 = loglik(theta);
  const auto at = [&](std::size_t u, double su, std::size_t v, double sv) {
    std::vector<double> t = theta;
    t[free[u]] += su;
    t[free[v]] += sv;
    return loglik(t);
  };
  for (std::size_t u = 0; u < F; ++u) {
    const double plus = at(u, h[u], u, 0.0);
    const double minus = at(u, -h[u], u, 0.0);
    d.gradient[u] = (plus - minus) / (2.0 * h[u]);
    d.hessian[u][u] = (plus - 2.0 * l0 + minus) / (h[u] * h[u]);
    for (std::size_t v = 0; v < u; ++v) {
      const double sum = at(u, h[u], v, h[v]) - at(u, h[u], v, -h[v]) - at(u, -h[u], v, h[v]) +
                         at(u, -h[u], v, -h[v]);
      d.hessian[u][v] = d.hessian[v][u] = sum / (4.0 * h[u] * h[v]);
    }
  }
  return d;
}

// g' (-H)^-1 g of the differences: twice the log-likelihood still to gain; infinite when
// -H is not positive definite.
double gain_statistic(const Differences& d) {
  const int F = static_cast<int>(d.gradient.size());
  std::vector<std::vector<double>> negative(F, std::vector<double>(F));
  std::vector<int> all(F);
  for (int u = 0; u < F; ++u) {
    all[u] = u;
    for (int v = 0; v < F; ++v) negative[u][v] = -d.hessian[u][v];
  }
  std::vector<double> x;
  if (!solve_over_free(symmetric(negative), all, d.gradient.data(), x))
    return std::numeric_limits<double>::infinity();
  return score_statistic(all, d.gradient.data(), x);
}

// A rescued or continued fit is a maximum: the finite-difference gain statistic at its estimates is
// below the certificate's threshold, and Louis's information (the report) is the negative
// finite-difference Hessian to within 2 % of the diagonal scale. Steps are a twentieth of
// the standard error Louis's information gives.
void expect_certified_maximum(const TwoFits& two, bool snp, const std::string& name) {
  const FitResult& fit = two.rescued;
  ASSERT_TRUE(fit.ok()) << name << " " << describe(fit.outcome).code;
  EXPECT_NE(fit.path, FitPath::kStated) << name;
  EXPECT_LT(fit.score_statistic, kCertificateThreshold) << name;
  const std::vector<int> free = two.para.free_params;
  std::vector<double> h;
  for (const int p : free) h.push_back(0.05 / std::sqrt(two.report.information(p, p)));
  const Differences d = differences(two, snp, internal_vector(two.para, snp, fit.estimates), h);
  EXPECT_LT(gain_statistic(d), 2.0 * kCertificateThreshold) << name;
  for (std::size_t u = 0; u < free.size(); ++u)
    for (std::size_t v = 0; v < free.size(); ++v) {
      const double louis = two.report.information(free[u], free[v]);
      const double scale = std::sqrt(two.report.information(free[u], free[u]) *
                                     two.report.information(free[v], free[v]));
      EXPECT_NEAR(louis, -d.hessian[u][v], 0.02 * scale) << name << " (" << u << ", " << v << ")";
    }
}

// The Wald statistic of K's coefficient.
double wald_k(const FitResult& fit) {
  return fit.estimates[0] * fit.estimates[0] / fit.disease_covariance(0, 0);
}

// SNP probes without covariates, half of them associated (odds ratio 1.5 per copy).
SimSettings snp_set(int subjects, std::uint64_t seed, double freq0, double freq1, double miscall,
                    int probes) {
  SimSettings settings = cn_settings(subjects, 0, 1.5, seed);
  settings.probe_type = "SNP";
  settings.null_fraction = 0.5;
  settings.freq0 = freq0;
  settings.freq1 = freq1;
  settings.miscall_rate = miscall;
  settings.num_probes = probes;
  return settings;
}

// A SNP probe with 1 % random miscalls: 1,400 subjects, frequencies of zero and one copy
// 0.04 and 0.15.
SimSettings miscalled_snp_set() { return snp_set(1400, 77, 0.04, 0.15, 0.01, 20); }

// A stated fit that stops short of the maximum, as an EM crawl does: on a probe whose
// stated iteration converges slowly, a stopping rule met while the estimates still move
// (largest step 1e-2) leaves a large finite-difference gain statistic. The certificate
// continues it to the maximum: the log-likelihood gained, the gain statistic near 0 there,
// Louis's information the Hessian, the test statistic changed, and the estimates those of
// the stated iteration run to a tight stopping rule.
TEST(CertifiedFits, StoppedShortSnpFitIsContinuedToTheMaximum) {
  const SimSettings settings = miscalled_snp_set();
  const SimSubjects subjects = make_subjects(settings);
  constexpr int kSlowProbe = 11;
  const auto loose = [](FitControl& c) { c.step_tolerance = 1e-2; };
  const TwoFits two = fit_probe_twice(true, 0, settings, subjects, kSlowProbe, loose);
  ASSERT_TRUE(two.stated.ok()) << describe(two.stated.outcome).code;
  EXPECT_EQ(two.stated.path, FitPath::kStated);
  EXPECT_TRUE(two.rescued.continued());
  EXPECT_EQ(two.rescued.path, FitPath::kContinued);
  EXPECT_GT(two.rescued.rescue_steps, 0);
  EXPECT_EQ(two.rescued.iterations, two.stated.iterations);
  EXPECT_NEAR(two.rescued.loglik_gained, two.rescued.loglik - two.stated.loglik, 1e-9);
  EXPECT_GT(two.rescued.loglik_gained, 0.5);

  std::vector<double> h;
  for (const int p : two.para.free_params)
    h.push_back(0.05 / std::sqrt(two.report.information(p, p)));
  const Differences at_stop =
      differences(two, true, internal_vector(two.para, true, two.stated.estimates), h);
  EXPECT_GT(gain_statistic(at_stop), 0.2);
  expect_certified_maximum(two, true, "stopped short");
  EXPECT_GT(std::fabs(wald_k(two.rescued) - wald_k(two.stated)), 1.0);

  const TwoFits tight = fit_probe_twice(true, 0, settings, subjects, kSlowProbe, [](FitControl& c) {
    c.step_tolerance = 1e-9;
    c.loglik_tolerance = 1e-13;
    c.max_iterations = 20000;
  });
  ASSERT_TRUE(tight.stated.ok());
  for (std::size_t u = 0; u < tight.stated.estimates.size(); ++u)
    EXPECT_NEAR(two.rescued.estimates[u], tight.stated.estimates[u],
                0.02 * tight.stated.std_errors[u] + 1e-9)
        << u;
}

// Probes whose stated fit fails (an information that is singular or implausible at a step)
// reach a certified maximum by the safeguarded step: CN probes with 2 % random miscalls,
// SNP probes with rare CNVs and 0.5 % miscalls. Every probe of the sets whose stated fit
// converges and is certified keeps its result bit for bit.
TEST(CertifiedFits, FailedFitsReachACertifiedMaximumAndCertifiedOnesStay) {
  struct Row {
    bool snp;
    int model_type;
    double freq0, freq1, miscall;
    std::vector<int> failing;  // probes whose stated fit fails
    int unchanged;             // probes 0 .. unchanged-1 that converge and are certified
  };
  const Row rows[] = {
      {false, 0, 0.04, 0.15, 0.02, {29, 51}, 6},
      {false, 1, 0.04, 0.15, 0.02, {51}, 4},
      {true, 0, 0.02, 0.08, 0.005, {14, 26}, 4},
  };
  for (const Row& row : rows) {
    SimSettings settings = cn_settings(row.snp ? 1400 : 2000, row.model_type, 1.5, 77);
    settings.probe_type = row.snp ? "SNP" : "CN";
    settings.null_fraction = 0.5;
    settings.freq0 = row.freq0;
    settings.freq1 = row.freq1;
    settings.miscall_rate = row.miscall;
    settings.num_probes = 100;
    const SimSubjects subjects = make_subjects(settings);
    const std::string set =
        std::string(row.snp ? "SNP" : "CN") + " model " + std::to_string(row.model_type);
    for (const int index : row.failing) {
      const TwoFits two = fit_probe_twice(row.snp, row.model_type, settings, subjects, index);
      const std::string name = set + " probe " + std::to_string(index);
      EXPECT_EQ(two.stated.outcome, Outcome::kFitSingularInformation) << name;
      EXPECT_FALSE(two.rescued.continued()) << name;
      expect_certified_maximum(two, row.snp, name);
    }
    for (int index = 0; index < row.unchanged; ++index) {
      const TwoFits two = fit_probe_twice(row.snp, row.model_type, settings, subjects, index);
      const std::string name = set + " probe " + std::to_string(index);
      ASSERT_TRUE(two.stated.ok()) << name;
      EXPECT_EQ(two.rescued.path, FitPath::kStated) << name;
      EXPECT_FALSE(two.rescued.continued()) << name;
      EXPECT_EQ(two.rescued.loglik, two.stated.loglik) << name;
      EXPECT_EQ(two.rescued.estimates, two.stated.estimates) << name;
      EXPECT_EQ(two.rescued.std_errors, two.stated.std_errors) << name;
      EXPECT_LT(two.rescued.score_statistic, kCertificateThreshold) << name;
    }
  }
}

// A stated fit stopped by the iteration cap after its first step is rescued: the
// continuation from the start reaches the maximum that the stated iteration reaches under a
// tight stopping rule, for each retrospective fit.
TEST(CertifiedFits, AFitStoppedByTheCapReachesTheMaximumOfTheTightFit) {
  for (const bool snp : {false, true})
    for (const int model_type : {0, 1}) {
      SimSettings settings = cn_settings(snp ? 1400 : 2000, model_type, 1.5, 78);
      settings.probe_type = snp ? "SNP" : "CN";
      settings.null_fraction = 0.0;
      settings.num_probes = 1;
      const SimSubjects subjects = make_subjects(settings);
      const std::string name =
          std::string(snp ? "SNP" : "CN") + " model " + std::to_string(model_type);
      const TwoFits capped = fit_probe_twice(snp, model_type, settings, subjects, 0,
                                             [](FitControl& c) { c.max_iterations = 1; });
      const TwoFits tight =
          fit_probe_twice(snp, model_type, settings, subjects, 0, [](FitControl& c) {
            c.step_tolerance = 1e-9;
            c.loglik_tolerance = 1e-13;
            c.max_iterations = 20000;
          });
      EXPECT_EQ(capped.stated.outcome, Outcome::kFitIterationCap) << name;
      ASSERT_TRUE(capped.rescued.ok()) << name << " " << describe(capped.rescued.outcome).code;
      ASSERT_TRUE(tight.stated.ok()) << name;
      EXPECT_EQ(capped.rescued.path, FitPath::kRescued) << name;
      EXPECT_LT(capped.rescued.score_statistic, kCertificateThreshold) << name;
      EXPECT_NEAR(capped.rescued.loglik, tight.stated.loglik, 1e-3) << name;
      for (std::size_t u = 0; u < tight.stated.estimates.size(); ++u)
        EXPECT_NEAR(capped.rescued.estimates[u], tight.stated.estimates[u],
                    0.02 * tight.stated.std_errors[u] + 1e-9)
            << name << " " << u;
    }
}

// The Newton finish (--newton-finish): the stated iteration stopped early and finished by
// damped Newton steps with Louis's information reaches the maximum itself. Its estimates
// equal those of the stated iteration run to a tight stopping rule, to a ten-thousandth of
// a standard error, and lie far closer to them than the production stopping rule's stop;
// its stop is a maximum by the finite differences, and it never ends below the stated fit.
// The sets: clean probes and probes with 1 % random miscalls, each retrospective fit.
TEST(CertifiedFits, NewtonFinishReachesTheMaximumOfTheTightFit) {
  const auto newton = [](FitControl& c) { c = with_newton_finish(c); };
  const auto tight_rule = [](FitControl& c) {
    c.step_tolerance = 1e-9;
    c.loglik_tolerance = 1e-13;
    c.max_iterations = 20000;
  };
  for (const bool snp : {false, true})
    for (const int model_type : {0, 1})
      for (const double miscall : {0.0, 0.01}) {
        SimSettings settings = cn_settings(snp ? 1400 : 2000, model_type, 1.5, 79);
        settings.probe_type = snp ? "SNP" : "CN";
        settings.null_fraction = 0.5;
        settings.miscall_rate = miscall;
        settings.num_probes = 2;
        const SimSubjects subjects = make_subjects(settings);
        double finish_off = 0.0;  // largest distance from the tight fit, in standard errors
        double stated_off = 0.0;
        for (int index = 0; index < settings.num_probes; ++index) {
          const std::string name = std::string(snp ? "SNP" : "CN") + " model " +
                                   std::to_string(model_type) + " miscall " +
                                   std::to_string(miscall) + " probe " + std::to_string(index);
          const TwoFits fast = fit_probe_twice(snp, model_type, settings, subjects, index, newton);
          const TwoFits stated = fit_probe_twice(snp, model_type, settings, subjects, index);
          const TwoFits tight = fit_probe_twice(snp, model_type, settings, subjects, index, tight_rule);
          if (!stated.rescued.ok()) continue;  // the stated start failed: not the finish's case
          ASSERT_TRUE(tight.stated.ok()) << name;
          expect_certified_maximum(fast, snp, name);
          EXPECT_EQ(fast.rescued.path, FitPath::kNewtonFinish) << name;
          EXPECT_FALSE(fast.rescued.continued()) << name;
          EXPECT_LT(fast.rescued.score_statistic, kNewtonFinishThreshold) << name;
          EXPECT_LT(fast.rescued.iterations, stated.rescued.iterations) << name;
          EXPECT_GE(fast.rescued.loglik, stated.rescued.loglik - 1e-9) << name;
          for (std::size_t u = 0; u < tight.stated.estimates.size(); ++u) {
            const double se = tight.stated.std_errors[u];
            if (!(se > 0.0)) continue;
            const double tight_u = tight.stated.estimates[u];
            finish_off = std::max(finish_off, std::fabs(fast.rescued.estimates[u] - tight_u) / se);
            stated_off = std::max(stated_off, std::fabs(stated.rescued.estimates[u] - tight_u) / se);
          }
        }
        EXPECT_LT(finish_off, 1e-4) << (snp ? "SNP" : "CN") << " model " << model_type;
        EXPECT_GT(stated_off, 10.0 * finish_off) << (snp ? "SNP" : "CN") << " model " << model_type;
      }
}

// SNP probes on rare CNVs (zero and one copy 2 % and 5 %), exact calls, 2,000 subjects.
SimSettings rare_cnv_snp_set() { return snp_set(2000, 2001, 0.02, 0.05, 0.0, 100); }

// The guarded SNP iteration (a probe's last attempt). On a rare-CNV probe (one copy 5 %)
// the maximum of the stated iteration has its one- and two-copy clusters closer than the
// cluster check allows, and the check rejects it. Guarded, every step keeps the clusters
// where the check accepts them, and the fit is certified only at a maximum inside that
// region: here the maximum lies on the region's edge, within the certificate's tolerance,
// so the guarded fit ends there, a maximum by the finite differences and never above the
// free one.
TEST(CertifiedFits, GuardedSnpFitEndsAtAMaximumTheClusterCheckAccepts) {
  const SimSettings settings = rare_cnv_snp_set();
  const SimSubjects subjects = make_subjects(settings);
  constexpr int kProbe = 96;
  const TwoFits free = fit_probe_twice(true, 0, settings, subjects, kProbe);
  ASSERT_FALSE(free.rescued.estimates.empty()) << "the stated start was rejected";
  ASSERT_TRUE(free.rescued.ok()) << describe(free.rescued.outcome).code;
  EXPECT_EQ(check_cluster_means_SNP(free.rescued.estimates.data(), free.para), 1);

  const TwoFits guarded = fit_probe_twice(true, 0, settings, subjects, kProbe,
                                          [](FitControl& c) { c.guard_clusters = true; });
  ASSERT_TRUE(guarded.rescued.ok()) << describe(guarded.rescued.outcome).code;
  EXPECT_EQ(check_cluster_means_SNP(guarded.rescued.estimates.data(), guarded.para), 0);
  EXPECT_LE(guarded.rescued.loglik, free.rescued.loglik + 1e-9);
  expect_certified_maximum(guarded, true, "guarded");
}

// Where the maximum lies outside the region, the guarded fit finds no maximum inside it
// and fails its certificate: it never reports the edge it was stopped at.
TEST(CertifiedFits, GuardedSnpFitNeverEndsOnTheRegionsEdge) {
  const SimSettings settings = rare_cnv_snp_set();
  const SimSubjects subjects = make_subjects(settings);
  for (const int probe : {0, 17}) {
    const TwoFits free = fit_probe_twice(true, 0, settings, subjects, probe);
    ASSERT_TRUE(free.rescued.ok() && !free.rescued.estimates.empty()) << probe;
    EXPECT_EQ(check_cluster_means_SNP(free.rescued.estimates.data(), free.para), 1) << probe;
    const TwoFits guarded = fit_probe_twice(true, 0, settings, subjects, probe,
                                            [](FitControl& c) { c.guard_clusters = true; });
    EXPECT_EQ(guarded.rescued.outcome, Outcome::kFitNotMaximum) << probe;
  }
}

}  // namespace
