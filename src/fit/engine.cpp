#include "fit/engine.h"

#include <cmath>
#include <span>
#include <vector>

#include "core/layout.h"
#include "fit/class_models.h"
#include "fit/information.h"
#include "fit/measurement_models.h"


Outcome newton_step(double* theta, double* delta, const double* U, Matrix& E, const PARA& para) {
  const int P = para.num_params;
  mirror_upper(E, P);
  const std::span<double> step(delta, static_cast<std::size_t>(P));
  // An undefined step would leave undefined estimates that no later test rejects.
  switch (solve_over_positions(step, E, std::span<const double>(U, static_cast<std::size_t>(P)),
                               para.free_params)) {
    case SolveOutcome::kSolved:
      break;
    case SolveOutcome::kSingular:
      return Outcome::kFitSingularInformation;
    case SolveOutcome::kNonFinite:
      return Outcome::kFitNonFiniteStep;
  }
  for (int u = 0; u < P; ++u) theta[u] += delta[u];
  return Outcome::kOk;
}

Outcome invert_observed_information(Matrix& E, Matrix& V, int n,
                                    const std::vector<int>& free_positions) {
  mirror_upper(E, n);
  if (!invert_over_positions(V, E, free_positions, n)) return Outcome::kFitSingularInformation;
  if (variances_improper(V, n)) return Outcome::kFitImproperVariance;
  return Outcome::kOk;
}

void hand_over(FitResult& result, const Matrix& E, const Matrix& V, int n,
               const std::vector<int>& free_positions, const PARA& para, FitReport* report) {
  if (report != nullptr) {
    report->size = n;
    report->information = E;
    report->covariance = V;
    report->free_positions = free_positions;
  }
  const int P = para.num_params;
  for (int u = 0; u < P; ++u) result.std_errors[u] = std::sqrt(V(u, u));
  const int D = para.design().num_disease_coefs;
  result.disease_covariance.resize(D, D);
  for (int u = 0; u < D; ++u)
    for (int v = 0; v < D; ++v) result.disease_covariance(u, v) = V(u, v);
}

Outcome finish_retrospective(FitResult& result, Matrix& E, Matrix& V, const PARA& para,
                             FitReport* report) {
  const Outcome inverted = invert_observed_information(E, V, para.num_params, para.free_params);
  if (inverted != Outcome::kOk) return inverted;
  hand_over(result, E, V, para.num_params, para.free_params, para, report);
  std::vector<int> slots;
  for (const int k : present_cn_classes(para))
    if (k != para.ref_cn_class) slots.push_back(frequency_slot(para, k));
  back_transform_frequencies(result.estimates.data(), result.std_errors.data(), V, slots.data(),
                             static_cast<int>(slots.size()));
  return Outcome::kOk;
}

bool has_guarded_iteration(bool snp_probe, const PARA& para) {
  return snp_probe || para.design().model_family == ModelFamily::kProspectiveSieve;
}

FitResult fit_probe(bool snp_probe, const double* start, const DATA& data, const PARA& para,
                    FitIteration iteration, FitConvergence convergence) {
  const auto converging = [convergence](const FitControl& control) {
    return convergence == FitConvergence::kNewtonFinish ? with_newton_finish(control) : control;
  };
  const bool guarded = iteration == FitIteration::kGuarded && has_guarded_iteration(snp_probe, para);
  const auto guarding = [guarded](FitControl control) {
    control.guard_clusters = guarded;
    return control;
  };
  switch (para.design().model_family) {
    case ModelFamily::kRetrospective:
      return snp_probe ? fit_retro_KL(start, data, para, guarding(converging(retro_KL_control())))
                       : fit_retro_K(start, data, para, converging(FitControl{}));
    case ModelFamily::kRetrospectiveWithCovariates:
      return snp_probe ? fit_retro_KLZ(start, data, para, guarding(converging(retro_KLZ_control())))
                       : fit_retro_KZ(start, data, para, converging(FitControl{}));
    case ModelFamily::kProspectiveSieve:
      break;
  }
  if (snp_probe)
    return fit_pro_KLZ_sieve(start, data, para, guarding(converging(sieve_KLZ_control())));
  FitControl control = guarding(converging(FitControl{}));
  control.sieve_from_calls = guarded;
  return fit_pro_KZ_sieve(start, data, para, control);
}

Outcome finish_retro_allele(FitResult& result, Matrix& E, Matrix& V, const PARA& para,
                            FitReport* report) {
  const Outcome finished = finish_retrospective(result, E, V, para, report);
  if (finished != Outcome::kOk) return finished;
  const int gamma = ParamLayout(para).b_allele_logit();
  const double p_B = 1.0 / (1.0 + std::exp(-result.estimates[gamma]));
  result.std_errors[gamma] *= p_B * (1.0 - p_B);
  result.estimates[gamma] = p_B;
  return Outcome::kOk;
}
