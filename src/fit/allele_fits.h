#pragma once
// The allele-specific (SNP) fits under an explicit control: fit_retro_KL stops when both
// the relative change of the log-likelihood and the largest step entry are within their
// tolerances, fit_retro_KLZ by the largest step entry, the sieve fit by the relative change
// of the log-likelihood. FitControl::report, when set, receives the finish's matrices (for
// the sieve fit over the parameter vector extended by the free sieve slots, and sieve_q at
// [s * num_allele_classes + c]).

#include "fit/fit_control.h"
