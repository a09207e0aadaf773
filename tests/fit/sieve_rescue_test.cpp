// The CN sieve fit on rare CNVs (one copy 5 %, zero copies 2 %). Its stated iteration
// starts every class at a third in every stratum and takes every Newton step: one step
// can throw a cluster mean far away, the class then has no posterior weight and the
// information is singular; or the one- and two-copy clusters trade places on the way to
// a stop the acceptance tests reject. The rescue retakes a failed step from the last good
// iterate (with the class probabilities it had there) by safeguarded steps that keep the
// cluster order, and the guarded iteration keeps the order on every step. Each gives a
// maximum: the finite-difference gradient of an independently written observed
// log-likelihood vanishes and Louis's information is its Hessian.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/layout.h"
#include "fit/cn_fit_harness.h"
#include "fit/sieve_maximum.h"

namespace {

constexpr int kSieve = 2;

SimSettings rare_cnv_settings(std::uint64_t seed) {
  SimSettings s = cn_settings(2000, kSieve, 1.5, seed);
  s.null_fraction = 0.5;
  s.freq0 = 0.02;
  s.freq1 = 0.05;
  return s;
}

FitControl tight(bool rescue, bool guard) {
  FitControl control;
  control.step_tolerance = 1e-10;
  control.loglik_tolerance = 1e-13;
  control.max_iterations = 20000;
  control.rescue = rescue;
  control.guard_clusters = guard;
  return control;
}

bool order_kept(const FitRun& run) {
  const ParamLayout layout(run.para);
  return run.theta[layout.r_mean(0, 0)] < run.theta[layout.r_mean(0, 1)] &&
         run.theta[layout.r_mean(0, 1)] < run.theta[layout.r_mean(0, 2)];
}

// A stated iteration that fails with singular information is, guarded, rescued to a
// maximum with the clusters in order. (Unguarded it is not rescued: the stated iteration
// from the stated start and from the robust start comes first.)
TEST(SieveRescue, SingularStatedStepIsRetakenToAMaximum) {
  const SimSettings settings = rare_cnv_settings(1013);
  const SimSubjects subjects = make_subjects(settings);
  int found = 0;
  for (int probe = 0; probe < 12 && found < 2; ++probe) {
    FitRun stated;
    fit_simulated(stated, kSieve, settings, subjects, probe, 0, tight(false, false));
    if (stated.start_status != 0 || stated.outcome != Outcome::kFitSingularInformation) continue;
    ++found;
    const std::string what = "probe " + std::to_string(probe);
    FitRun unguarded;
    fit_simulated(unguarded, kSieve, settings, subjects, probe, 0, tight(true, false));
    EXPECT_EQ(unguarded.outcome, Outcome::kFitSingularInformation) << what;
    FitRun rescued;
    fit_simulated(rescued, kSieve, settings, subjects, probe, 0, tight(true, true));
    ASSERT_EQ(rescued.outcome, Outcome::kOk) << what << " " << describe(rescued.outcome).code;
    EXPECT_EQ(rescued.path, FitPath::kRescued) << what;
    EXPECT_TRUE(order_kept(rescued)) << what;
    expect_fit_maximum(rescued, kSieve, what);
  }
  EXPECT_EQ(found, 2);
}

// A stated iteration that ends with the one- and two-copy clusters traded ends, guarded,
// at a maximum with the clusters in order (or fails: the guard never reports traded
// clusters); a guarded iteration that took every stated step is the stated fit.
TEST(SieveRescue, GuardedIterationKeepsTheClusterOrder) {
  const SimSettings settings = rare_cnv_settings(1013);
  const SimSubjects subjects = make_subjects(settings);
  int traded = 0;
  int kept = 0;
  for (int probe = 0; probe < 30 && (traded < 2 || kept < 1); ++probe) {
    FitRun stated;
    fit_simulated(stated, kSieve, settings, subjects, probe, 0, tight(false, false));
    if (stated.start_status != 0 || stated.outcome != Outcome::kOk) continue;
    const std::string what = "probe " + std::to_string(probe);
    FitRun guarded;
    fit_simulated(guarded, kSieve, settings, subjects, probe, 0, tight(true, true));
    if (guarded.outcome != Outcome::kOk) continue;
    EXPECT_TRUE(order_kept(guarded)) << what;
    if (guarded.path == FitPath::kStated) {
      ++kept;
      EXPECT_TRUE(order_kept(stated)) << what;
      EXPECT_EQ(guarded.loglik, stated.loglik) << what;
      continue;
    }
    if (order_kept(stated)) continue;
    ++traded;
    expect_fit_maximum(guarded, kSieve, what);
  }
  EXPECT_GE(traded, 2);
  EXPECT_GE(kept, 1);
}

}  // namespace
