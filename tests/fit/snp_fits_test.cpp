// The allele-specific fits judged by their mathematics: the B factor's bounds, the
// gradient of an independently written observed log-likelihood at the optimum, Louis's
// observed information against its finite-difference Hessian, recovery of a simulated
// odds ratio and the calibration of null p-values.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "core/layout.h"
#include "checks/acceptance.h"
#include "driver/probe.h"
#include "fit/class_models.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "fit/measurement_models.h"
#include "numeric/lu.h"
#include "snp_fixture.h"
#include "start/start.h"
#include "wald/wald.h"

namespace {

// ---------------------------------------------------------------- B factor

TEST(AlleleModel, BFactorBoundsAndPointMass) {
  struct Row {
    int k, l;
    double b;
    ArrayType array_type;
    double value;  // < 0: the kernel
    bool kernel;
  };
  const Row rows[] = {
      {1, 0, 0.0, ArrayType::kLrrBaf, 0.5, false},             // A at 0: point mass
      {2, 0, 0.0, ArrayType::kLrrBaf, 0.5, false},             // AA at 0: point mass
      {2, 2, 1.0, ArrayType::kLrrBaf, 0.5, false},             // BB at 1: point mass
      {1, 1, 1.0, ArrayType::kLrrBaf, 0.5, false},             // B at 1
      {2, 0, 1.0, ArrayType::kLrrBaf, 0.0, false},             // AA beyond the other bound: nothing
      {2, 2, 0.0, ArrayType::kLrrBaf, 0.0, false},             // BB at 0: nothing
      {2, 0, 1e-10, ArrayType::kLrrBaf, 0.0, false},           // exactly at the lower bound: neither
      {2, 2, 0.9999999999, ArrayType::kLrrBaf, 0.0, false},    // exactly at the upper bound: neither
      {2, 0, 2e-10, ArrayType::kLrrBaf, -1.0, true},           // just inside
      {2, 2, 0.99999999989, ArrayType::kLrrBaf, -1.0, true},
      {2, 1, 0.0, ArrayType::kLrrBaf, -1.0, true},             // AB always uses the kernel
      {2, 1, 1.0, ArrayType::kLrrBaf, -1.0, true},
      {0, 0, 0.0, ArrayType::kLrrBaf, -1.0, true},             // no copy: always the kernel
      {0, 0, 1.0, ArrayType::kLrrBaf, -1.0, true},
      {2, 0, 0.0, ArrayType::kAlleleSpecificR, -1.0, true},             // 'A' arrays: always the kernel
  };
  for (const Row& row : rows) {
    AlleleClass cls;
    cls.k = row.k;
    cls.l = row.l;
    cls.homozygous = row.k > 0 && (row.l == 0 || row.l == row.k);
    Cluster cl;
    cl.mu_b = row.l == row.k && row.k > 0 ? 1.0 : 0.0;
    cl.s2_b = 0.01;
    const BFactor f = b_factor(row.b, cls, cl, row.array_type);
    const double expected = row.value < 0 ? normal_density(row.b, cl.mu_b, cl.s2_b) : row.value;
    EXPECT_DOUBLE_EQ(f.value, expected) << row.k << "," << row.l << " b=" << row.b;
    EXPECT_EQ(f.kernel, row.kernel) << row.k << "," << row.l << " b=" << row.b;
  }
}

// ---------------------------------------------------------------- running a fit

struct FitOutcome {
  int status = 1;
  Outcome outcome = Outcome::kOk;
  int iterations = 0;
  double loglik = 0.0;
  std::vector<double> params;
  std::vector<double> se;
  Matrix cov;  // the disease-model covariance, the observed information around it
};

// A stopping rule far tighter than production, for the tests at the optimum.
FitControl tight_control() {
  FitControl control;
  control.step_tolerance = 1e-9;
  control.loglik_tolerance = 1e-13;
  control.max_iterations = 5000;
  return control;
}

// Production entry points (control == nullptr) or the controlled ones.
FitOutcome run_fit(SnpProbeCase& pc, const FitControl* control) {
  const double* start = pc.start.data();
  FitResult fit;
  switch (pc.para.design().model_family) {
    case ModelFamily::kRetrospective:
      fit = control ? fit_retro_KL(start, pc.data, pc.para, *control) : fit_retro_KL(start, pc.data, pc.para);
      break;
    case ModelFamily::kRetrospectiveWithCovariates:
      fit = control ? fit_retro_KLZ(start, pc.data, pc.para, *control) : fit_retro_KLZ(start, pc.data, pc.para);
      break;
    case ModelFamily::kProspectiveSieve:
      fit = control ? fit_pro_KLZ_sieve(start, pc.data, pc.para, *control)
                    : fit_pro_KLZ_sieve(start, pc.data, pc.para);
      break;
  }
  FitOutcome out;
  out.status = fit.ok() ? 0 : 1;
  out.outcome = fit.outcome;
  out.iterations = fit.iterations;
  out.loglik = fit.loglik;
  out.params = pc.start;
  std::copy(fit.estimates.begin(), fit.estimates.end(), out.params.begin());
  out.se.assign(kMaxParams, 0.0);
  std::copy(fit.std_errors.begin(), fit.std_errors.end(), out.se.begin());
  if (!fit.ok()) return out;
  // The covariance of the disease-model coefficients in the leading block; the observed
  // information, when reported, around it.
  const int D = pc.para.design().num_disease_coefs;
  if (control && control->report) out.cov = control->report->information;
  if (out.cov.rows() < D) out.cov = Matrix(D, D);
  for (int u = 0; u < D; ++u)
    for (int v = 0; v < D; ++v) out.cov(u, v) = fit.disease_covariance(u, v);
  return out;
}

// The reported vector back in the fits' parametrisation: frequencies to log-ratios
// against two copies, the B-allele frequency to its logit.
std::vector<double> internal_theta(const SnpProbeCase& pc, const std::vector<double>& reported) {
  std::vector<double> theta = reported;
  const PARA& para = pc.para;
  if (para.design().model_family == ModelFamily::kProspectiveSieve) return theta;
  double p_ref = 1.0;
  for (int k = 0; k < 2; ++k)
    if (para.cn_class_present[k]) p_ref -= reported[ParamLayout(para).frequency(k)];
  for (int k = 0; k < 2; ++k)
    if (para.cn_class_present[k])
      theta[ParamLayout(para).frequency(k)] = std::log(reported[ParamLayout(para).frequency(k)] / p_ref);
  const double p_B = reported[ParamLayout(para).b_allele_logit()];
  theta[ParamLayout(para).b_allele_logit()] = std::log(p_B / (1.0 - p_B));
  return theta;
}

using Sieve = std::vector<std::vector<double>>;

// The sieve probabilities that maximise the likelihood at theta (EM with theta fixed).
Sieve profile_sieve(const SnpProbeCase& pc, const std::vector<double>& theta) {
  int S = 0;
  const std::vector<int> stratum = reference_strata(pc, S);
  std::vector<std::array<double, 6>> terms(pc.data.num_subjects);
  for (int i = 0; i < pc.data.num_subjects; ++i)
    if (!pc.data.excluded[i]) terms[i] = reference_terms(pc, theta, i);
  Sieve q(S, std::vector<double>(6, 1.0 / 6.0));
  for (int iter = 0; iter < 20000; ++iter) {
    Sieve next(S, std::vector<double>(6, 0.0));
    std::vector<double> size(S, 0.0);
    for (int i = 0; i < pc.data.num_subjects; ++i) {
      if (pc.data.excluded[i]) continue;
      const int s = stratum[i];
      double sum = 0.0;
      for (int c = 0; c < 6; ++c) sum += q[s][c] * terms[i][c];
      for (int c = 0; c < 6; ++c) next[s][c] += q[s][c] * terms[i][c] / sum;
      size[s] += 1.0;
    }
    double change = 0.0;
    for (int s = 0; s < S; ++s)
      for (int c = 0; c < 6; ++c) {
        next[s][c] /= size[s];
        change = std::max(change, std::fabs(next[s][c] - q[s][c]));
      }
    q = next;
    if (change < 1e-14) break;
  }
  return q;
}

// A free coordinate of the observed likelihood: a vector position, or the sieve
// probability of class c in stratum s (the reference class AB takes up the difference).
struct Coordinate {
  int position = -1;  // 0-based in the vector extended by the sieve slots
  int stratum = -1;
  int cls = -1;
  double h = 1e-4;
};

struct Oracle {
  const SnpProbeCase& pc;
  std::vector<double> theta;
  Sieve q;
  std::vector<Coordinate> coords;

  double value(const std::vector<double>& shift) const {
    std::vector<double> t = theta;
    Sieve qq = q;
    for (std::size_t u = 0; u < coords.size(); ++u) {
      const Coordinate& x = coords[u];
      if (x.stratum < 0) {
        t[x.position] += shift[u];
      } else {
        qq[x.stratum][x.cls] += shift[u];
        qq[x.stratum][4] -= shift[u];
      }
    }
    return reference_loglik(pc, t, qq);
  }
};

Oracle make_oracle(const SnpProbeCase& pc, const FitOutcome& fit) {
  Oracle o{pc, internal_theta(pc, fit.params), {}, {}};
  for (const int position : pc.para.free_params) {
    Coordinate x;
    x.position = position;
    o.coords.push_back(x);
  }
  if (pc.para.design().model_family == ModelFamily::kProspectiveSieve) {
    o.q = profile_sieve(pc, o.theta);
    const int P = pc.para.num_params;
    for (std::size_t s = 0; s < o.q.size(); ++s)
      for (int c = 0; c < 6; ++c) {
        if (c == 4 || !pc.para.allele_class_present[c] || !(o.q[s][c] > 0.0)) continue;
        Coordinate x;
        x.stratum = static_cast<int>(s);
        x.cls = c;
        x.position = P + static_cast<int>(s) * 5 + (c < 4 ? c : c - 1);
        x.h = 1e-3 * o.q[s][c];
        o.coords.push_back(x);
      }
  }
  return o;
}

// ---------------------------------------------------------------- gradient and information

struct MathCase {
  const char* name;
  int model_type;
  std::vector<int> dropped;
  bool differential;
  std::uint64_t seed;
  bool effect_L = false;
  ArrayType array_type = ArrayType::kLrrBaf;
  double blur_b = 0.05;  // extra spread of the B intensities (see blur)
};

// Widens the simulated clusters until neighbouring classes overlap, so that posteriors
// are far from 0 and 1 and Louis's correction is large: with the simulator's well-separated
// clusters the class of almost every subject is plain and the correction nearly vanishes.
void blur(SimProbe& probe, double b_spread, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> r_noise(0.0, 0.1);
  std::normal_distribution<double> b_noise(0.0, b_spread);
  for (std::size_t i = 0; i < probe.r.size(); ++i) {
    probe.r[i] += r_noise(rng);
    probe.b[i] = std::clamp(probe.b[i] + b_noise(rng), 0.0, 1.0);
  }
}

void PrintTo(const MathCase& mc, std::ostream* os) { *os << mc.name; }

class SnpFitMath : public ::testing::TestWithParam<MathCase> {};

TEST_P(SnpFitMath, GradientZeroAndLouisMatchesHessian) {
  const MathCase& mc = GetParam();
  SimSettings settings;
  settings.num_subjects = 600;
  settings.null_fraction = 0.0;
  settings.odds_ratio = 1.5;
  settings.freq0 = 0.05;
  settings.freq1 = 0.15;
  settings.pfb_min = 0.35;
  settings.pfb_max = 0.65;
  settings.differential = mc.differential;
  settings.seed = mc.seed;
  settings.effect_L = mc.effect_L;
  settings.odds_ratio_L = mc.effect_L ? 1.3 : 1.0;
  if (mc.model_type == 1) settings.num_numeric_covariates = 1;
  if (mc.model_type == 2) settings.dependent_covariate = true;
  const SimSubjects subjects = make_subjects(settings);
  SimProbe probe = make_probe(settings, subjects, 0);
  blur(probe, mc.blur_b, mc.seed);
  SnpProbeCase pc = make_snp_case(settings, subjects, probe, {mc.model_type, mc.dropped, 1, mc.array_type});
  for (const int c : mc.dropped) ASSERT_EQ(pc.para.allele_class_present[c], 0);
  ASSERT_EQ(pc.para.allele_class_present[4], 1);

  FitReport report;
  FitControl tight = tight_control();
  tight.report = &report;
  const int P0 = pc.para.num_params;
  const std::size_t F0 = pc.para.free_params.size();
  const FitOutcome fit = run_fit(pc, &tight);
  ASSERT_EQ(fit.status, 0) << mc.name;
  EXPECT_EQ(pc.para.num_params, P0);
  EXPECT_EQ(pc.para.free_params.size(), F0);
  {  // Louis's correction pooled over the subjects (the fit without covariates) against
     // the correction subject by subject: the same sums in another order.
    FitReport by_subject;
    FitControl oracle_control = tight;
    oracle_control.louis_by_subject = true;
    oracle_control.report = &by_subject;
    ASSERT_EQ(run_fit(pc, &oracle_control).status, 0) << mc.name;
    ASSERT_EQ(by_subject.size, report.size) << mc.name;
    for (int u = 0; u < report.size; ++u)
      for (int v = 0; v < report.size; ++v) {
        const double scale = std::sqrt(std::fabs(by_subject.information(u, u) * by_subject.information(v, v)));
        EXPECT_NEAR(report.information(u, v), by_subject.information(u, v), 1e-11 * scale + 1e-300)
            << mc.name << " (" << u << ", " << v << ")";
      }
  }

  Oracle oracle = make_oracle(pc, fit);
  const int F = static_cast<int>(oracle.coords.size());
  if (mc.model_type == 2) {  // the fit's sieve against the independently profiled one
    ASSERT_EQ(report.num_strata, static_cast<int>(oracle.q.size()));
    for (int s = 0; s < report.num_strata; ++s)
      for (int c = 0; c < 6; ++c)
        if (pc.para.allele_class_present[c]) {
          EXPECT_NEAR(report.sieve_q[s * 6 + c], oracle.q[s][c], 1e-5);
        }
  }
  std::vector<double> shift(F, 0.0);
  const double l0 = oracle.value(shift);
  if (mc.model_type != 2) {
    EXPECT_NEAR(fit.loglik, l0, 1e-8 * std::fabs(l0));
  }

  // Finite-difference gradient and Hessian of the observed log-likelihood.
  std::vector<double> grad(F);
  std::vector<std::vector<double>> H(F, std::vector<double>(F));
  auto at = [&](int u, double su, int v, double sv) {
    std::fill(shift.begin(), shift.end(), 0.0);
    shift[u] += su;
    if (v >= 0) shift[v] += sv;
    return oracle.value(shift);
  };
  // Steps of a twentieth of a standard error keep both the rounding of l and the
  // higher-order terms far below the tolerances.
  for (int u = 0; u < F; ++u) {
    double& h = oracle.coords[u].h;
    const double curvature = -(at(u, h, -1, 0) - 2 * l0 + at(u, -h, -1, 0)) / (h * h);
    ASSERT_GT(curvature, 0.0) << mc.name << " coordinate " << oracle.coords[u].position;
    h = std::min(0.05 / std::sqrt(curvature), 5 * h);
  }
  for (int u = 0; u < F; ++u) {
    const double h = oracle.coords[u].h;
    const double lp = at(u, h, -1, 0);
    const double lm = at(u, -h, -1, 0);
    grad[u] = (lp - lm) / (2 * h);
    H[u][u] = -(lp - 2 * l0 + lm) / (h * h);
    for (int v = 0; v < u; ++v) {
      const double k = oracle.coords[v].h;
      H[u][v] = H[v][u] =
          -(at(u, h, v, k) - at(u, h, v, -k) - at(u, -h, v, k) + at(u, -h, v, -k)) / (4 * h * k);
    }
  }
  for (int u = 0; u < F; ++u) {
    ASSERT_GT(H[u][u], 0.0) << mc.name << " coordinate " << oracle.coords[u].position;
    EXPECT_LT(std::fabs(grad[u]) / std::sqrt(H[u][u]), 1e-3)
        << mc.name << " gradient at position " << oracle.coords[u].position << ": " << grad[u];
  }

  // Louis's observed information (kept outside the leading block of cov).
  const int ndc = pc.para.design().num_disease_coefs;
  for (int u = 0; u < F; ++u)
    for (int v = 0; v < F; ++v) {
      const int a = oracle.coords[u].position;
      const int b = oracle.coords[v].position;
      if (a < ndc && b < ndc) continue;
      EXPECT_NEAR(fit.cov(a, b), H[u][v], 2e-3 * std::sqrt(H[u][u] * H[v][v]))
          << mc.name << " information [" << a << "][" << b << "]";
    }

  // The covariance of the coefficients against the inverse finite-difference Hessian.
  Matrix hessian(F, F);
  for (int u = 0; u < F; ++u)
    for (int v = 0; v < F; ++v) hessian(u, v) = H[u][v];
  const Matrix Hm = LuDecomposition(hessian).inverse();
  for (int a = 0; a < ndc; ++a)
    for (int b = 0; b < ndc; ++b)
      EXPECT_NEAR(fit.cov(a, b), Hm(a, b), 5e-3 * std::sqrt(Hm(a, a) * Hm(b, b)))
          << mc.name << " covariance [" << a << "][" << b << "]";
  for (int a = 0; a < ndc; ++a) EXPECT_NEAR(fit.se[a], std::sqrt(Hm(a, a)), 5e-3 * std::sqrt(Hm(a, a)));
}

INSTANTIATE_TEST_SUITE_P(
    Fits, SnpFitMath,
    ::testing::Values(MathCase{"KL_all_classes", 0, {}, false, 11},
                      MathCase{"KL_no_BB", 0, {5}, false, 12},
                      MathCase{"KL_no_zero_copy_differential", 0, {0}, true, 13},
                      MathCase{"KL_no_AA", 0, {3}, false, 14},
                      MathCase{"KLZ_all_classes", 1, {}, false, 21},
                      MathCase{"KLZ_no_BB_differential", 1, {5}, true, 22},
                      MathCase{"sieve_all_classes", 2, {}, false, 31},
                      MathCase{"sieve_no_BB", 2, {5}, false, 32},
                      MathCase{"sieve_no_zero_copy_differential", 2, {0}, true, 33},
                      MathCase{"KL_effect_L_no_BB", 0, {5}, false, 15, true},
                      MathCase{"KLZ_effect_L", 1, {}, false, 23, true},
                      MathCase{"sieve_effect_L_no_AA", 2, {3}, false, 34, true},
                      MathCase{"KL_array_A_no_BB", 0, {5}, true, 16, false, ArrayType::kAlleleSpecificR},
                      MathCase{"KLZ_array_A", 1, {}, false, 24, false, ArrayType::kAlleleSpecificR},
                      MathCase{"sieve_array_A", 2, {}, false, 35, false, ArrayType::kAlleleSpecificR},
                      MathCase{"KL_heterozygote_overlap", 0, {}, false, 17, false, ArrayType::kLrrBaf, 0.1},
                      MathCase{"sieve_heterozygote_overlap", 2, {}, false, 36, false, ArrayType::kLrrBaf, 0.1}),
    [](const ::testing::TestParamInfo<MathCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Small probes with common copy-number variation: with only a few dozen subjects away
// from two copies the Wald test turns conservative (about 1.5% below 0.05 at 300
// subjects), a property of the test in small samples rather than of the fits.
SimSettings small_settings(int model_type, std::uint64_t seed) {
  SimSettings s;
  s.num_subjects = 400;
  s.freq0 = 0.05;
  s.freq1 = 0.3;
  s.null_fraction = 1.0;
  s.seed = seed;
  if (model_type == 1) s.num_numeric_covariates = 1;
  if (model_type == 2) s.dependent_covariate = true;
  return s;
}

// ---------------------------------------------------------------- odds ratio

TEST(SnpFits, RecoverSimulatedOddsRatio) {
  for (int model_type = 0; model_type < 3; ++model_type) {
    SimSettings settings = small_settings(model_type, 101);
    settings.num_subjects = 2000;
    settings.null_fraction = 0.0;
    settings.odds_ratio = 1.6;
    const SimSubjects subjects = make_subjects(settings);
    const SimProbe probe = make_probe(settings, subjects, 0);
    SnpProbeCase pc = make_snp_case(settings, subjects, probe, {model_type, {}});
    const FitOutcome fit = run_fit(pc, nullptr);
    ASSERT_EQ(fit.status, 0) << "model type " << model_type;
    const double truth = std::log(settings.odds_ratio);
    EXPECT_LT(std::fabs(fit.params[0] - truth), 1.96 * fit.se[0])
        << "model type " << model_type << ": " << fit.params[0] << " se " << fit.se[0];
    EXPECT_NEAR(fit.se[0], std::sqrt(fit.cov(0, 0)), 1e-12);
    if (model_type != 2) {  // the B-allele frequency comes back as a frequency
      const double p_B = fit.params[ParamLayout(pc.para).b_allele_logit()];
      EXPECT_NEAR(p_B, probe.pfb, 0.05);
    }
  }
}

// With a covariate that is independent of the class, the joint model of status and class
// given the covariate factorises into the retrospective model and a logistic model of the
// status on the covariate: both fits give the same estimate of K's effect and the same
// standard error at the optimum.
TEST(SnpFits, IndependentCovariateLeavesTheGeneticEffectUnchanged) {
  SimSettings settings = small_settings(1, 41);
  settings.null_fraction = 0.0;
  const SimSubjects subjects = make_subjects(settings);
  const SimProbe probe = make_probe(settings, subjects, 0);
  SnpProbeCase without = make_snp_case(settings, subjects, probe, {0, {5}});
  SnpProbeCase with = make_snp_case(settings, subjects, probe, {1, {5}});
  const FitControl tight = tight_control();
  const FitOutcome a = run_fit(without, &tight);
  const FitOutcome b = run_fit(with, &tight);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  EXPECT_NEAR(a.params[0], b.params[0], 1e-6);
  EXPECT_NEAR(a.se[0], b.se[0], 1e-6 * a.se[0]);
  EXPECT_LT(std::fabs(b.params[1] - settings.covariate_log_or), 3.0 * b.se[1]);
}

// The log-likelihood of these models lacks its constant and is large on probes with tight
// clusters, so its relative change falls below 1e-4 while the estimates still move; the
// production stopping rule of fit_retro_KL also waits for the step to come down, and ends
// where the tight rule ends.
TEST(SnpFits, RetrospectiveFitStopsAtTheOptimumFromADistantStart) {
  SimSettings settings = small_settings(0, 51);
  settings.num_subjects = 2000;
  settings.null_fraction = 0.0;
  settings.miscall_rate = 0.02;
  const SimSubjects subjects = make_subjects(settings);
  const SimProbe probe = make_probe(settings, subjects, 0);
  SnpProbeCase pc = make_snp_case(settings, subjects, probe, {0, {}});
  const PARA& para = pc.para;
  // Start values as a cleaning of the called copy numbers gives them: one copy too
  // frequent, its R mean too close to two copies, its R and B spreads too wide.
  const ParamLayout layout(para);
  pc.start[layout.frequency(1)] += 0.9;
  pc.start[layout.r_mean(0, 1)] += 0.12;
  pc.start[layout.r_logvar(0, 1)] += 0.4;
  pc.start[layout.b_logvar(0, 1)] += 2.5;
  pc.start[layout.b_logvar(0, 2)] += 3.5;
  const FitControl tight = tight_control();
  const FitOutcome reference = run_fit(pc, &tight);
  const FitOutcome production = run_fit(pc, nullptr);
  ASSERT_EQ(reference.status, 0);
  ASSERT_EQ(production.status, 0);
  EXPECT_NEAR(production.params[0], reference.params[0], 0.02 * reference.se[0]);
  EXPECT_NEAR(production.se[0], reference.se[0], 0.01 * reference.se[0]);
}

// ---------------------------------------------------------------- null calibration

TEST(SnpFits, NullPValuesNearUniform) {
  const int kProbes = 250;
  const char* names[3] = {"fit_retro_KL", "fit_retro_KLZ", "fit_pro_KLZ_sieve"};
  for (int model_type = 0; model_type < 3; ++model_type) {
    const SimSettings settings = small_settings(model_type, 7 + model_type);
    const SimSubjects subjects = make_subjects(settings);
    int start_na = 0, fit_na = 0, accept_na = 0, test_na = 0, below = 0, tested = 0;
    for (int probe_index = 0; probe_index < kProbes; ++probe_index) {
      const SimProbe probe = make_probe(settings, subjects, probe_index);
      SnpProbeCase pc = make_snp_case(settings, subjects, probe, {model_type, {}});
      if (check_cluster_means_SNP(pc.start.data(), pc.para) == 1) {
        ++start_na;
        continue;
      }
      const FitOutcome fit = run_fit(pc, nullptr);
      if (fit.status != 0) {
        ++fit_na;
        continue;
      }
      if (accept_fit(fit.params.data(), pc.start.data(), pc.para, true) != Outcome::kOk) {
        ++accept_na;
        continue;
      }
      double w = 0.0, p = 1.0;
      if (get_testing_results(w, p, fit.params.data(), fit.cov, pc.para) != 0) {
        ++test_na;
        continue;
      }
      ++tested;
      if (p < 0.05) ++below;
    }
    std::printf("%s: %d null probes, NA at start check %d, fit %d, acceptance %d, test %d; "
                "p < 0.05 in %d of %d\n",
                names[model_type], kProbes, start_na, fit_na, accept_na, test_na, below, tested);
    ASSERT_GT(tested, kProbes * 3 / 4) << names[model_type];
    const double share = static_cast<double>(below) / tested;
    EXPECT_GE(share, 0.02) << names[model_type];
    EXPECT_LE(share, 0.09) << names[model_type];
  }
}

// ---------------------------------------------------------------- iteration limit

// The limit is tested before convergence: a fit that needs exactly the limit fails.
TEST(SnpFits, IterationLimitComesBeforeConvergence) {
  for (int model_type = 0; model_type < 3; ++model_type) {
    const SimSettings settings = small_settings(model_type, 9);
    const SimSubjects subjects = make_subjects(settings);
    const SimProbe probe = make_probe(settings, subjects, 0);
    const FitControl production = model_type == 0   ? retro_KL_control()
                                  : model_type == 1 ? retro_KLZ_control()
                                                    : sieve_KLZ_control();
    SnpProbeCase pc = make_snp_case(settings, subjects, probe, {model_type, {}});
    const FitOutcome free_run = run_fit(pc, &production);
    ASSERT_EQ(free_run.status, 0);
    ASSERT_GE(free_run.iterations, 1);
    for (const int extra : {0, 1}) {
      FitControl limited = production;
      limited.max_iterations = free_run.iterations + extra;
      limited.rescue = false;  // the stated iteration's own cap
      const FitOutcome fit = run_fit(pc, &limited);
      EXPECT_EQ(fit.status, extra == 0 ? 1 : 0) << "model type " << model_type;
      EXPECT_EQ(fit.outcome, extra == 0 ? Outcome::kFitIterationCap : Outcome::kOk)
          << "model type " << model_type;
      EXPECT_EQ(fit.iterations, free_run.iterations) << "model type " << model_type;
    }
  }
}

// ---------------------------------------------------------------- failures

TEST(SnpFits, UnusableProbesFailWithoutTouchingTheLayout) {
  // Every subject excluded.
  for (int model_type = 0; model_type < 3; ++model_type) {
    const SimSettings settings = small_settings(model_type, 3);
    const SimSubjects subjects = make_subjects(settings);
    SnpProbeCase pc = make_snp_case(settings, subjects, make_probe(settings, subjects, 0), {model_type, {}});
    std::fill(pc.data.excluded.begin(), pc.data.excluded.end(), 1);
    EXPECT_EQ(run_fit(pc, nullptr).outcome, Outcome::kNoUsableSubject) << "model type " << model_type;
  }
  // A disease status other than 0 or 1 among the included subjects.
  for (int model_type = 0; model_type < 3; ++model_type) {
    const SimSettings settings = small_settings(model_type, 3);
    const SimSubjects subjects = make_subjects(settings);
    SnpProbeCase pc = make_snp_case(settings, subjects, make_probe(settings, subjects, 0), {model_type, {}});
    int i = 0;
    while (pc.data.excluded[i] == 1) ++i;
    pc.data.disease_status[i] = 2;
    EXPECT_EQ(run_fit(pc, nullptr).outcome, Outcome::kStartInvalidInput) << "model type " << model_type;
  }
  // The reference level (two copies) out of the model: the frequency log-ratios have no anchor.
  for (int model_type = 0; model_type < 2; ++model_type) {
    const SimSettings settings = small_settings(model_type, 4);
    const SimSubjects subjects = make_subjects(settings);
    SnpProbeCase pc =
        make_snp_case(settings, subjects, make_probe(settings, subjects, 0), {model_type, {3, 4, 5}});
    ASSERT_EQ(pc.para.cn_class_present[2], 0);
    EXPECT_EQ(run_fit(pc, nullptr).outcome, Outcome::kNoReferenceClass) << "model type " << model_type;
  }
  // Sieve: one stratum per subject over two dependent columns; P + Q exceeds the matrix.
  {
    SimSettings settings = small_settings(1, 5);
    settings.num_numeric_covariates = 2;
    const SimSubjects subjects = make_subjects(settings);
    SnpProbeCase pc = make_snp_case(settings, subjects, make_probe(settings, subjects, 0), {2, {}, 2});
    const int P = pc.para.num_params;
    const std::size_t F = pc.para.free_params.size();
    EXPECT_EQ(run_fit(pc, nullptr).outcome, Outcome::kTooManyParameters);
    EXPECT_EQ(pc.para.num_params, P);
    EXPECT_EQ(pc.para.free_params.size(), F);
  }
  // Sieve: a stratum without heterozygous subjects has reference-class probability 0.
  {
    const SimSettings settings = small_settings(2, 6);
    const SimSubjects subjects = make_subjects(settings);
    const SimProbe probe = make_probe(settings, subjects, 0);
    SnpProbeCase pc = make_snp_case(settings, subjects, probe, {2, {}});
    for (int i = 0; i < pc.data.num_subjects; ++i)
      if (pc.data.covariates(i, 0) == 1.0 && probe.true_k[i] == 2 && probe.true_l[i] == 1) pc.data.excluded[i] = 1;
    const int P = pc.para.num_params;
    const std::size_t F = pc.para.free_params.size();
    const FitOutcome fit = run_fit(pc, nullptr);
    EXPECT_EQ(fit.outcome, Outcome::kFitSieveReference);
    EXPECT_GT(fit.iterations, 0);  // it fails at the finish, not before
    EXPECT_EQ(pc.para.num_params, P);
    EXPECT_EQ(pc.para.free_params.size(), F);
  }
}

}  // namespace
