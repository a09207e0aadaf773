// Simulated case-control input sets for Quillmark.
//
// The generative model is the one the program fits, so fitted effects can be
// checked against the truth:
//
//   status    fixed per subject for the whole study: round(case_fraction * n)
//             cases (or num_cases), shuffled over the subjects.
//   covariates
//             numeric "cov1".."covJ": controls N(0, 1), cases N(covariate_log_or, 1),
//               so the log odds of disease rise by covariate_log_or per unit;
//             categorical "cat" with levels 1..m: uniform in the controls,
//               P(level j | case) proportional to exp(covariate_log_or * (j - 1)),
//               so level j has log odds ratio covariate_log_or * (j - 1) against level 1;
//             dependent "dep" with values 0..D-1, uniform and independent of status;
//               it scales the frequencies of 0 and 1 copies by 0.5 + z / (D - 1).
//   classes   per probe and subject, latent (k, l): k total copies in {0, 1, 2}
//             with P(k = 0 | z) = freq0 * m(z), P(k = 1 | z) = freq1 * m(z)
//             (m = 1 without the dependent covariate), l ~ Binomial(k, pfb) B alleles;
//             drawn given the status y as
//               P(k, l | y, z) ∝ P(k, l | z) * exp(y * eta),
//               eta = log_or * k + log_or_L * (k - 2l).
//             This is the logistic disease model logit P(y = 1 | k, l, z) =
//             b0 + eta + gamma * z in its rare-disease form (b0 -> -inf): the
//             intercept and the covariate terms cancel from the class draw, and
//             the retrospective likelihoods (controls follow the population class
//             frequencies, cases the frequencies tilted by exp(eta)) hold exactly;
//             the prospective sieve model holds exactly for K's coefficient when
//             the dependent covariate enters the design saturated (binary, or
//             CATEGORICAL for more than two values).
//   intensities
//             R (log R ratio): Normal(mean_k, sd_k), means -2.5, -0.5, 0.0 and
//               sds 0.4, 0.18, 0.15 for k = 0, 1, 2;
//             B (B allele frequency, SNP probes): Normal around 0 (A, AA), 1 (B, BB)
//               with sd 0.03, 0.5 (AB) with sd 0.045, and 0.5 with sd 0.25 for no
//               copy; clipped to [0, 1] as arrays report it;
//             with `differential`, cases have R means raised by 0.10, 0.06, 0.04
//               and all sds multiplied by 1.15;
//             array type 'A' uses the same two intensities as 'I'.
//             Written values are rounded to `decimals` places, and the values held
//             in SimProbe are the rounded ones, so the files and the library agree.
//   calls     called CN = true k, except that a share miscall_rate of subjects
//             (drawn per probe) is called a neighbouring value: 0 -> 1, 1 -> 0 or 2,
//             2 -> 1. Besides these random miscalls, a segment caller's profile:
//             a share missed_carrier_rate of the subjects with k < 2 is called 2
//             (a missed deletion) and a share false_call_rate of the subjects with
//             k = 2 is called 1 (a false deletion). The profile is drawn per subject
//             from a stream of its own, independent of the intensities and of the
//             random miscalls, so settings without it give the same data as
//             before; a subject picked by the random miscall is called as that
//             says, the others as the profile says.
//
// Probe i (from 0) is null (no effect) unless floor((i + 1) a) > floor(i a) with
// a = 1 - null_fraction, so the associated probes are spread evenly and their
// count among the first N probes is floor(N a).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimSettings {
  std::string probe_type = "SNP";  // "CN" or "SNP"
  char array_type = 'I';           // 'I' (LRR/BAF) or 'A'
  int num_subjects = 2000;
  double case_fraction = 0.5;      // used when num_cases < 0
  int num_cases = -1;              // exact number of cases; -1: round(case_fraction * n)
  int num_probes = 100;
  double null_fraction = 0.5;      // share of probes with no effect
  double odds_ratio = 1.5;         // per copy (effect of K) for associated probes
  double odds_ratio_L = 1.0;       // per unit of k - 2l (effect "L"), SNP only
  bool effect_L = false;           // put L in EFFECT/TEST even when odds_ratio_L is 1
  bool differential = false;       // separate intensity means/sds for cases and controls
  double miscall_rate = 0.0;       // share of subjects whose called CN differs from the truth
  double missed_carrier_rate = 0.0;  // share of subjects with k < 2 called 2 (segment caller)
  double false_call_rate = 0.0;      // share of subjects with k = 2 called 1 (segment caller)
  int num_numeric_covariates = 0;
  int categorical_levels = 0;      // 0 = no categorical covariate
  double covariate_log_or = 0.3;   // log odds ratio of each numeric covariate (per unit)
  bool dependent_covariate = false;  // covariate "dep" on which the class frequencies depend
  int dependent_levels = 2;        // values 0..dependent_levels-1 of "dep"
  double freq0 = 0.02, freq1 = 0.10;  // population frequencies of 0 and 1 copies (rest: 2)
  double pfb_min = 0.2, pfb_max = 0.8;
  int decimals = 4;                // decimals of intensities and numeric covariates
  bool write_true_classes = false;  // also write every subject's true class (true_classes.dat)
  std::uint64_t seed = 1;
};

struct SimSubjects {
  std::vector<int> status;                       // 0 control, 1 case
  std::vector<std::string> covariate_names;      // header order: cov1.., cat, dep
  std::vector<std::vector<double>> covariates;   // [subject][column]
  std::vector<int> dependent_value;              // value of "dep" per subject (0 when absent)
};

struct SimProbe {
  std::string name;
  int chr = 1;
  int pos = 0;
  double pfb = 0.0;           // SNP: B allele frequency; CN: 2 (no alleles)
  double log_or = 0.0;
  double log_or_L = 0.0;
  bool associated = false;
  std::vector<int> true_k, true_l, called_cn;
  std::vector<double> r, b;   // b is empty for CN probes
};

// Empty when the settings can be simulated, otherwise a one-line reason.
std::string validate_settings(const SimSettings& settings);

// Status and covariates; deterministic in the seed.
SimSubjects make_subjects(const SimSettings& settings);

// One probe; deterministic in (seed, probe_index) and independent of other probes.
SimProbe make_probe(const SimSettings& settings, const SimSubjects& subjects, int probe_index);

// make_probe into existing storage (its vectors are resized and reused).
void fill_probe(SimProbe& probe, const SimSettings& settings, const SimSubjects& subjects,
                int probe_index);

// Writes phenotype.dat, raw.dat, raw.info, CN.dat, CN.info, truth.txt and
// specification.txt (and true_classes.dat when asked) into directory (created if
// missing), streaming probe by probe. Throws std::invalid_argument for invalid settings and
// std::runtime_error when a file cannot be written.
void write_input_set(const SimSettings& settings, const std::string& directory);

// The specification file's text for these settings (relative paths).
std::string specification_text(const SimSettings& settings);
