#pragma once
// Which likelihood a run fits, chosen once by the model set-up from the design.

enum class ModelFamily {
  kRetrospective,                // no covariate: retrospective likelihood
  kRetrospectiveWithCovariates,  // independent covariates: retrospective likelihood
  kProspectiveSieve,             // one dependent covariate: prospective likelihood, sieve update
};
