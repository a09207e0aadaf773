// Every way a fit fails, forced on a simulated probe of each family (CN and SNP) and each
// model family, and the outcome the fit and analyse_probe give for it.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/layout.h"
#include "driver/option.h"
#include "driver/probe.h"
#include "fit/cn_fit_harness.h"
#include "fit/engine.h"
#include "fit/fit.h"
#include "fit/fit_control.h"
#include "snp_fixture.h"

namespace {

enum class Family { kCn, kSnp };

// A probe ready for a fit: layout, data and start vector.
struct Probe {
  PARA para;
  DATA data;
  std::vector<double> start;
};

Probe cn_probe(int model_type) {
  const SimSettings settings = cn_settings(600, model_type, 1.0, 40 + model_type);
  const SimSubjects subjects = make_subjects(settings);
  Probe p;
  p.para = para_for_model(model_type);
  p.data = data_from_subjects(subjects, design_columns(model_type));
  load_probe(p.data, make_probe(settings, subjects, 0));
  p.start.assign(kMaxParams, 0.0);
  EXPECT_EQ(get_CN_initial(p.start.data(), p.para, p.data, 2.0, 'I', 0), 0);
  return p;
}

Probe snp_probe(int model_type) {
  SimSettings settings;
  settings.num_subjects = 400;
  settings.freq0 = 0.05;
  settings.freq1 = 0.3;
  settings.null_fraction = 1.0;
  settings.seed = 60 + model_type;
  if (model_type == 1) settings.num_numeric_covariates = 1;
  if (model_type == 2) settings.dependent_covariate = true;
  const SimSubjects subjects = make_subjects(settings);
  SnpProbeCase pc = make_snp_case(settings, subjects, make_probe(settings, subjects, 0), {model_type, {}});
  return Probe{std::move(pc.para), std::move(pc.data), std::move(pc.start)};
}

Probe probe_of(Family family, int model_type) {
  return family == Family::kCn ? cn_probe(model_type) : snp_probe(model_type);
}

// The production control of each fit.
FitControl production_control(Family family, int model_type) {
  if (family == Family::kCn) return FitControl{};
  return model_type == 0 ? retro_KL_control() : model_type == 1 ? retro_KLZ_control() : sieve_KLZ_control();
}

FitResult fit(Family family, int model_type, const Probe& p, const FitControl& control) {
  const double* s = p.start.data();
  if (family == Family::kCn) {
    if (model_type == 0) return fit_retro_K(s, p.data, p.para, control);
    if (model_type == 1) return fit_retro_KZ(s, p.data, p.para, control);
    return fit_pro_KZ_sieve(s, p.data, p.para, control);
  }
  if (model_type == 0) return fit_retro_KL(s, p.data, p.para, control);
  if (model_type == 1) return fit_retro_KLZ(s, p.data, p.para, control);
  return fit_pro_KLZ_sieve(s, p.data, p.para, control);
}

// One way to make a fit fail, and the fits it applies to.
struct Forcing {
  std::string name;
  std::function<void(Probe&, FitControl&)> apply;
  Outcome expected;
  std::vector<std::pair<Family, int>> fits;
};

const std::vector<std::pair<Family, int>> kAllFits = {{Family::kCn, 0},  {Family::kCn, 1},
                                                      {Family::kCn, 2},  {Family::kSnp, 0},
                                                      {Family::kSnp, 1}, {Family::kSnp, 2}};

// Start value of the R mean of total class k in measurement group 0 ('I' arrays).
double& r_mean(Probe& p, int k) { return p.start[ParamLayout(p.para).r_mean(0, k)]; }

std::vector<Forcing> forcings() {
  return {
      {"a cap of one iteration", [](Probe&, FitControl& c) { c.max_iterations = 1; },
       Outcome::kFitIterationCap, kAllFits},
      {"one- and two-copy R means swapped in the start",
       [](Probe& p, FitControl&) { std::swap(r_mean(p, 1), r_mean(p, 2)); },
       Outcome::kFitClusterOrder, {{Family::kCn, 0}, {Family::kCn, 1}}},
      {"the one-copy R mean far beyond every subject",
       [](Probe& p, FitControl&) { r_mean(p, 1) = 100.0; }, Outcome::kFitSingularInformation,
       kAllFits},
      // Stopped one step from a start whose one-copy class is e^2 times too wide, the fit
      // is far from the maximum and its observed information there is not positive definite.
      {"stopped one step from a too wide one-copy class",
       [](Probe& p, FitControl& c) {
         c.step_tolerance = 1e9;
         c.loglik_tolerance = 1e9;
         p.start[ParamLayout(p.para).r_logvar(0, 1)] += 4.0;
       },
       Outcome::kFitImproperVariance, kAllFits},
  };
}

std::string fit_name(Family family, int model_type) {
  return std::string(family == Family::kCn ? "CN" : "SNP") + " model " + std::to_string(model_type);
}

TEST(FitOutcomes, EachForcedFailureGivesItsOutcome) {
  for (const Forcing& forcing : forcings())
    for (const auto& [family, model_type] : forcing.fits) {
      Probe p = probe_of(family, model_type);
      // The probe fits as it stands, so the forcing alone makes it fail.
      ASSERT_EQ(fit(family, model_type, p, production_control(family, model_type)).outcome, Outcome::kOk)
          << fit_name(family, model_type);
      FitControl control = production_control(family, model_type);
      forcing.apply(p, control);
      const FitResult result = fit(family, model_type, p, control);
      EXPECT_EQ(describe(result.outcome).code, describe(forcing.expected).code)
          << forcing.name << ", " << fit_name(family, model_type);
    }
}

// A Newton step whose information inverts but whose score is not finite: the fits cannot
// reach it from finite data without an information that fails first, so it is forced here.
TEST(FitOutcomes, NewtonStepOutcomes) {
  PARA para;
  para.num_params = 2;
  para.free_params = {0, 1};
  Matrix E(2, 2);
  struct Row {
    const char* name;
    double e11, e12, e22, u0, u1;
    Outcome expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {"invertible information, finite score", 2, 1, 2, 1, 1, Outcome::kOk},
      {"infinite score", 2, 1, 2, inf, 1, Outcome::kFitNonFiniteStep},
      {"zero row", 2, 0, 0, 1, 1, Outcome::kFitSingularInformation},
      {"singular without a zero row", 1, 2, 4, 1, 1, Outcome::kFitSingularInformation},
  };
  for (const Row& row : rows) {
    E(0, 0) = row.e11;
    E(0, 1) = row.e12;
    E(1, 1) = row.e22;
    double theta[2] = {0.5, 0.5};
    double delta[2] = {0.0, 0.0};
    const double U[2] = {row.u0, row.u1};
    EXPECT_EQ(newton_step(theta, delta, U, E, para), row.expected) << row.name;
    if (row.expected == Outcome::kOk) {
      // theta + E^-1 U with E = [[2, 1], [1, 2]] and U = (1, 1).
      EXPECT_NEAR(theta[0], 0.5 + 1.0 / 3.0, 1e-12);
      EXPECT_NEAR(theta[1], 0.5 + 1.0 / 3.0, 1e-12);
    }
  }
}

// analyse_probe reports the fit's own outcome, with its iterations, and no statistic.
TEST(FitOutcomes, AnalyseProbeReportsTheFitsOutcome) {
  for (const Family family : {Family::kCn, Family::kSnp}) {
    Probe p = probe_of(family, 0);
    OPTION option;
    set_default_options(option);
    option.probe_type = family == Family::kCn ? ProbeType::kCn : ProbeType::kSnp;
    option.differential_measurement_errors = 0;
    PARA para = family == Family::kCn ? para_for_model(0) : p.para;
    ProbeWork work;
    const ProbeResult reference = analyse_probe(option, para, p.data, 0.5, work);
    ASSERT_EQ(reference.outcome, Outcome::kOk) << probe_type_name(option.probe_type);
    work.fit_override = [family](const double* start, const DATA& data, const PARA& layout) {
      FitControl control = production_control(family, 0);
      control.max_iterations = 2;
      return fit(family, 0, Probe{layout, data, std::vector<double>(start, start + layout.num_params)},
                 control);
    };
    const ProbeResult capped = analyse_probe(option, para, p.data, 0.5, work);
    EXPECT_EQ(capped.outcome, Outcome::kFitIterationCap) << probe_type_name(option.probe_type);
    EXPECT_EQ(capped.status, 1) << probe_type_name(option.probe_type);
    EXPECT_EQ(capped.iterations, 2) << probe_type_name(option.probe_type);
    EXPECT_TRUE(capped.tested.empty()) << probe_type_name(option.probe_type);
  }
}

}  // namespace
