// The engine's skeleton on a model of one parameter whose Newton step halves the distance
// to its maximum: theta_k = 3 - 3 / 2^k from theta_0 = 0. The iteration counts of the
// stopping rules and the cap come from that closed form; the failures a model reports
// reach the result unchanged.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "fit/engine.h"

namespace {

constexpr double kTarget = 3.0;
constexpr int kCount = 10;

// l(theta) = -1 - (n / 2) (theta - 3)^2 with information 2n: each step covers half the way.
struct HalvingModel {
  double theta = 0.0;
  int updates = 0;
  int nan_from_update = -1;       // update number from which l is NaN (-1: never)
  double upper_bound = 1e300;     // plausible below this
  Outcome prepared = Outcome::kOk;
  Outcome finished = Outcome::kOk;

  int size() const { return 1; }
  int num_subjects() const { return 1; }
  int num_classes() const { return 1; }
  double update(const double* t) {
    theta = t[0];
    if (nan_from_update >= 0 && updates++ >= nan_from_update)
      return std::numeric_limits<double>::quiet_NaN();
    return -1.0 - 0.5 * kCount * (theta - kTarget) * (theta - kTarget);
  }
  double joint(int, int) const { return 1.0; }
  void accumulate(double* U, Information E, const Posteriors&) const {
    U[0] = kCount * (kTarget - theta);
    E(0, 0) = 2.0 * kCount;
  }
  bool plausible(const double* t) const { return t[0] < upper_bound; }
  Outcome prepare_louis(const Posteriors&) const { return prepared; }
  void complete_scores(int, Information, const Posteriors&, SparseScore&, LouisCorrection&) const {}
  Outcome finish(FitResult& result, Matrix&, Matrix&, FitReport*) const {
    result.std_errors[0] = 1.0;
    return finished;
  }
};

PARA one_parameter() {
  PARA para;
  para.num_params = 1;
  para.free_params = {0};
  return para;
}

// Iterations until the rule holds, from the closed form.
int closed_form_iterations(StoppingRule rule, const FitControl& control) {
  const auto ell = [](double t) { return -1.0 - 0.5 * kCount * (t - kTarget) * (t - kTarget); };
  double previous = 2.0;
  for (int k = 1;; ++k) {
    const double step = kTarget / std::pow(2.0, k);
    const double l = ell(kTarget - step);
    const bool step_small = step <= control.step_tolerance;
    const bool loglik_small = std::fabs((l - previous) / previous) <= control.loglik_tolerance;
    previous = l;
    if (rule == StoppingRule::kLargestStep && step_small) return k;
    if (rule == StoppingRule::kRelativeLoglik && loglik_small) return k;
    if (rule == StoppingRule::kRelativeLoglikAndStep && step_small && loglik_small) return k;
  }
}

TEST(Engine, EachStoppingRuleStopsWhereItsClosedFormSays) {
  const PARA para = one_parameter();
  const double start = 0.0;
  // With the first control the log-likelihood comes to rest after the step, with the
  // second before it, so each rule stops at its own iteration.
  for (const auto& [step_tolerance, loglik_tolerance] : {std::pair{1e-4, 1e-9}, std::pair{1e-6, 1e-6}}) {
    FitControl control;
    control.step_tolerance = step_tolerance;
    control.loglik_tolerance = loglik_tolerance;
    for (const StoppingRule rule : {StoppingRule::kLargestStep, StoppingRule::kRelativeLoglik,
                                    StoppingRule::kRelativeLoglikAndStep}) {
      HalvingModel model;
      const FitResult result = run_engine(model, &start, para, control, rule);
      const int expected = closed_form_iterations(rule, control);
      ASSERT_EQ(result.outcome, Outcome::kOk) << static_cast<int>(rule);
      EXPECT_EQ(result.iterations, expected) << static_cast<int>(rule) << " " << step_tolerance;
      EXPECT_NEAR(result.estimates[0], kTarget - kTarget / std::pow(2.0, expected), 1e-12);
      EXPECT_NEAR(result.loglik, -1.0 - 0.5 * kCount * std::pow(kTarget / std::pow(2.0, expected), 2),
                  1e-12);
    }
  }
  // The closed forms: 3 / 2^k <= 1e-4 first at k = 15; 45 * 3 / 4^k relative change
  // below 1e-9 first at k = 19.
  FitControl control;
  control.step_tolerance = 1e-4;
  control.loglik_tolerance = 1e-9;
  EXPECT_EQ(closed_form_iterations(StoppingRule::kLargestStep, control), 15);
  EXPECT_EQ(closed_form_iterations(StoppingRule::kRelativeLoglik, control), 19);
  EXPECT_EQ(closed_form_iterations(StoppingRule::kRelativeLoglikAndStep, control), 19);
}

TEST(Engine, TheCapFailsTheIterationThatReachesIt) {
  const PARA para = one_parameter();
  const double start = 0.0;
  for (const int cap : {15, 16}) {
    FitControl control;
    control.max_iterations = cap;
    HalvingModel model;
    const FitResult result = run_engine(model, &start, para, control, StoppingRule::kLargestStep);
    EXPECT_EQ(result.outcome, cap == 15 ? Outcome::kFitIterationCap : Outcome::kOk) << cap;
    EXPECT_EQ(result.iterations, 15) << cap;
  }
}

TEST(Engine, AModelsFailureReachesTheResult) {
  const PARA para = one_parameter();
  const double start = 0.0;
  struct Row {
    const char* name;
    void (*set)(HalvingModel&);
    Outcome expected;
    int iterations;
  };
  const Row rows[] = {
      {"cluster order lost after the first step", [](HalvingModel& m) { m.upper_bound = 1.0; },
       Outcome::kFitClusterOrder, 0},
      {"log-likelihood not finite after the third step",
       [](HalvingModel& m) { m.nan_from_update = 3; }, Outcome::kFitNonFiniteStep, 3},
      {"Louis's correction cannot be prepared",
       [](HalvingModel& m) { m.prepared = Outcome::kFitSieveReference; },
       Outcome::kFitSieveReference, 15},
      {"the finish rejects the variances",
       [](HalvingModel& m) { m.finished = Outcome::kFitImproperVariance; },
       Outcome::kFitImproperVariance, 15},
  };
  for (const Row& row : rows) {
    HalvingModel model;
    row.set(model);
    const FitResult result = run_engine(model, &start, para, FitControl{}, StoppingRule::kLargestStep);
    EXPECT_EQ(result.outcome, row.expected) << row.name;
    EXPECT_EQ(result.iterations, row.iterations) << row.name;
    EXPECT_FALSE(result.ok()) << row.name;
  }
}

}  // namespace
