#pragma once
// What became of one probe: analysed, or the step that turned it down. Every probe
// reported "NA" carries one of these, so a user can tell a probe with too few carriers
// from a fit that diverged. Codes are short, stable and meant for tables and scripts;
// the sentence explains the code to a reader.

#include <array>
#include <string_view>

enum class Outcome {
  kOk,
  // Starting values and the screens of the probe before any fit.
  kNoUsableSubject,
  kStartClusterCheck,
  kStartZeroCopyHigh,
  kStartInvalidInput,
  kStartOneCopyHigh,
  kStartBafSpread,
  kStartFewOneCopy,
  kStartClassGrew,
  kStartNoOneCopy,
  kStartManyHighCalls,
  kTooManyParameters,
  kNoReferenceClass,
  // The fit.
  kFitSingularInformation,
  kFitNonFiniteStep,
  kFitClusterOrder,
  kFitIterationCap,
  kFitImproperVariance,
  kFitNotMaximum,
  kFitSieveReference,
  // The acceptance tests of a fitted vector against its start.
  kAcceptClusterMeans,
  kAcceptMeanMoved,
  kAcceptHeterozygousB,
  kAcceptCaseShift,
  // The Wald test.
  kTestCovariance,
};

inline constexpr int kNumOutcomes = static_cast<int>(Outcome::kTestCovariance) + 1;

// The step of a probe's road an outcome belongs to, for summaries.
enum class OutcomeStage { kAnalysed, kStart, kFit, kAcceptance, kTest };

struct OutcomeDescription {
  Outcome outcome;
  std::string_view code;      // short stable code, e.g. "FIT_ITERATION_CAP"
  OutcomeStage stage;
  std::string_view sentence;  // one sentence for a reader
};

// Every outcome in enum order.
inline constexpr std::array<OutcomeDescription, kNumOutcomes> kOutcomeDescriptions{{
    {Outcome::kOk, "OK", OutcomeStage::kAnalysed, "The probe was analysed."},
    {Outcome::kNoUsableSubject, "NO_SUBJECTS", OutcomeStage::kStart,
     "No subject is left to analyse at this probe."},
    {Outcome::kStartClusterCheck, "START_CLUSTER", OutcomeStage::kStart,
     "The starting cluster means fail the plausibility check (order, overlap, zero-copy level "
     "or spread)."},
    {Outcome::kStartZeroCopyHigh, "START_ZERO_COPY_HIGH", OutcomeStage::kStart,
     "The subjects called zero copies have a mean log R ratio above the zero-copy threshold."},
    {Outcome::kStartInvalidInput, "START_INVALID_INPUT", OutcomeStage::kStart,
     "An intensity or call lies outside the data model (e.g. a B allele frequency outside "
     "[0, 1])."},
    {Outcome::kStartOneCopyHigh, "START_ONE_COPY_HIGH", OutcomeStage::kStart,
     "The one-copy log R ratio mean lies within a two-copy standard deviation of the two-copy "
     "mean."},
    {Outcome::kStartBafSpread, "START_BAF_SPREAD", OutcomeStage::kStart,
     "A one- or two-copy class spreads too widely in B allele frequency."},
    {Outcome::kStartFewOneCopy, "START_FEW_ONE_COPY", OutcomeStage::kStart,
     "Fewer than 10 subjects are called one copy."},
    {Outcome::kStartClassGrew, "START_CLASS_GREW", OutcomeStage::kStart,
     "A class of at most one copy grew tenfold when subjects were reassigned by intensity."},
    {Outcome::kStartNoOneCopy, "START_NO_ONE_COPY", OutcomeStage::kStart,
     "Neither one-copy allele class can be modelled."},
    {Outcome::kStartManyHighCalls, "START_MANY_HIGH_CALLS", OutcomeStage::kStart,
     "More than 350 subjects are called above two copies."},
    {Outcome::kTooManyParameters, "TOO_MANY_PARAMETERS", OutcomeStage::kStart,
     "The model of this probe has more parameters than a fit can hold."},
    {Outcome::kNoReferenceClass, "NO_REFERENCE_CLASS", OutcomeStage::kStart,
     "The reference copy-number class has too few subjects, so the class frequencies cannot be "
     "identified."},
    {Outcome::kFitSingularInformation, "FIT_SINGULAR", OutcomeStage::kFit,
     "The information matrix of a Newton step is not invertible or its inverse is implausible."},
    {Outcome::kFitNonFiniteStep, "FIT_NONFINITE", OutcomeStage::kFit,
     "A Newton step or the log-likelihood is not finite."},
    {Outcome::kFitClusterOrder, "FIT_CLUSTER_ORDER", OutcomeStage::kFit,
     "The cluster means lost their order during the fit."},
    {Outcome::kFitIterationCap, "FIT_ITERATION_CAP", OutcomeStage::kFit,
     "The fit did not converge within its iteration cap."},
    {Outcome::kFitImproperVariance, "FIT_IMPROPER_VARIANCE", OutcomeStage::kFit,
     "The observed information at the fit gives a negative or implausibly large variance."},
    {Outcome::kFitNotMaximum, "FIT_NOT_MAXIMUM", OutcomeStage::kFit,
     "The fit stopped where the score is not zero, and no continuation reached a maximum."},
    {Outcome::kFitSieveReference, "FIT_SIEVE_REFERENCE", OutcomeStage::kFit,
     "A stratum of the dependent covariate kept no subject in the reference class, so the "
     "sieve's class probabilities there cannot be identified."},
    {Outcome::kAcceptClusterMeans, "ACCEPT_CLUSTER", OutcomeStage::kAcceptance,
     "The fitted cluster means fail the plausibility check."},
    {Outcome::kAcceptMeanMoved, "ACCEPT_MEAN_MOVED", OutcomeStage::kAcceptance,
     "A one-copy cluster mean moved more than one fitted standard deviation from its start."},
    {Outcome::kAcceptHeterozygousB, "ACCEPT_AB_BAF", OutcomeStage::kAcceptance,
     "The fitted B allele frequency of the heterozygous class lies more than 0.13 from 0.5."},
    {Outcome::kAcceptCaseShift, "ACCEPT_CASE_SHIFT", OutcomeStage::kAcceptance,
     "The case-minus-control shift of the log R ratio differs between one and two copies by "
     "more than 0.25."},
    {Outcome::kTestCovariance, "TEST_COVARIANCE", OutcomeStage::kTest,
     "The covariance of the tested effects is not positive definite."},
}};

inline constexpr const OutcomeDescription& describe(Outcome outcome) {
  return kOutcomeDescriptions[static_cast<int>(outcome)];
}

// Which path of the fit gave a probe's result: the stated iteration from the stated start;
// that iteration stopped short of its maximum and continued there by damped Newton steps
// (the certificate); a rescue (safeguarded steps after a failed step, a robust start); or,
// in a run that asks for it, the stated iteration stopped early and finished by Newton
// steps on the observed log-likelihood.
enum class FitPath { kStated, kContinued, kRescued, kNewtonFinish };

inline constexpr std::string_view path_code(FitPath path) {
  switch (path) {
    case FitPath::kStated: return "stated";
    case FitPath::kContinued: return "continued";
    case FitPath::kRescued: return "rescued";
    case FitPath::kNewtonFinish: return "newton";
  }
  return "rescued";
}
