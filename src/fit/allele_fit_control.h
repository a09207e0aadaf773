#pragma once
// Convergence settings of the allele-specific (SNP) fits. Each fit compares its own convergence quantity
// (relative change of the log-likelihood, or the largest Newton-step entry) with
// `tolerance` and gives up when its iteration counter reaches `max_iterations`. The
// program runs every fit with its production setting below; the controlled entry points
// exist so that tests can drive a fit to a tighter optimum.

struct AlleleFitControl {
  double tolerance = 1e-4;
  int max_iterations = 2000;
};

// Relative change of the log-likelihood, retrospective fits without covariates.
inline constexpr AlleleFitControl kRetroControl{1e-4, 2000};
// Largest entry of the Newton step, retrospective fits with covariates.
inline constexpr AlleleFitControl kRetroCovariateControl{1e-4, 2000};
// Relative change of the log-likelihood, sieve fits.
inline constexpr AlleleFitControl kSieveControl{1e-6, 2000};
