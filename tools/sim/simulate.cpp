// Subjects and probes of a simulated input set (model: simulate.h).
#include "sim/simulate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "sim/random.h"

namespace {

// Stream ids: probes use their index, the subjects one id above every probe index, and
// the caller profile of probe i the id CALLER_STREAM + i, above both.
constexpr std::uint64_t SUBJECT_STREAM = 0xFFFFFFFFFFULL;
constexpr std::uint64_t CALLER_STREAM = 0x10000000000ULL;

// Intensity model, per measurement group (0 controls or everybody, 1 cases) and class.
constexpr double R_MEAN[3] = {-2.5, -0.5, 0.0};
constexpr double R_SD[3] = {0.4, 0.18, 0.15};
constexpr double R_CASE_SHIFT[3] = {0.10, 0.06, 0.04};
constexpr double CASE_SD_FACTOR = 1.15;
// B means and sds by allele class c = k(k+1)/2 + l: none, A, B, AA, AB, BB.
constexpr double B_MEAN[6] = {0.5, 0.0, 1.0, 0.0, 0.5, 1.0};
constexpr double B_SD[6] = {0.25, 0.03, 0.03, 0.03, 0.045, 0.03};

constexpr int NUM_CHROMOSOMES = 22;
constexpr int FIRST_POSITION = 100000;
constexpr int POSITION_SPACING = 2000;
constexpr int POSITION_JITTER = 1000;  // below the spacing: positions keep increasing

bool is_snp(const SimSettings& s) { return s.probe_type == "SNP"; }

int case_count(const SimSettings& s) {
  if (s.num_cases >= 0) return s.num_cases;
  return static_cast<int>(std::lround(s.case_fraction * s.num_subjects));
}

// Scale of the 0- and 1-copy frequencies for value z of the dependent covariate.
double dependent_scale(const SimSettings& s, int z) {
  if (!s.dependent_covariate) return 1.0;
  return 0.5 + static_cast<double>(z) / (s.dependent_levels - 1);
}

double round_to(double x, double scale) {
  // Adding 0.0 turns -0.0 into +0.0, so no "-0.0000" is written.
  return std::nearbyint(x * scale) / scale + 0.0;
}

bool probe_is_associated(const SimSettings& s, int index) {
  const double a = 1.0 - s.null_fraction;
  return std::floor((index + 1.0) * a) > std::floor(index * a);
}

}  // namespace

std::string validate_settings(const SimSettings& s) {
  if (s.probe_type != "CN" && s.probe_type != "SNP") return "probe type must be 'CN' or 'SNP'";
  if (s.array_type != 'I' && s.array_type != 'A') return "array type must be 'I' or 'A'";
  if (s.num_subjects < 2) return "the number of subjects must be at least 2";
  if (s.num_cases < 0 && !(s.case_fraction >= 0.0 && s.case_fraction <= 1.0))
    return "the case fraction must lie in [0, 1]";
  const int cases = case_count(s);
  if (cases < 1 || cases >= s.num_subjects)
    return "there must be at least one case and at least one control";
  if (s.num_probes < 0) return "the number of probes must not be negative";
  if (!(s.null_fraction >= 0.0 && s.null_fraction <= 1.0))
    return "the null fraction must lie in [0, 1]";
  if (!(s.odds_ratio > 0.0) || !std::isfinite(s.odds_ratio)) return "the odds ratio must be positive";
  if (!(s.odds_ratio_L > 0.0) || !std::isfinite(s.odds_ratio_L))
    return "the odds ratio of L must be positive";
  if (!is_snp(s) && (s.odds_ratio_L != 1.0 || s.effect_L))
    return "the effect L needs SNP probes";
  if (!(s.miscall_rate >= 0.0 && s.miscall_rate <= 1.0))
    return "the miscall rate must lie in [0, 1]";
  if (!(s.missed_carrier_rate >= 0.0 && s.missed_carrier_rate <= 1.0))
    return "the missed-carrier rate must lie in [0, 1]";
  if (!(s.false_call_rate >= 0.0 && s.false_call_rate <= 1.0))
    return "the false-call rate must lie in [0, 1]";
  if (s.num_numeric_covariates < 0) return "the number of numeric covariates must not be negative";
  if (s.categorical_levels < 0 || s.categorical_levels == 1 || s.categorical_levels > 50)
    return "a categorical covariate needs 2 to 50 levels (0: none)";
  if (!std::isfinite(s.covariate_log_or)) return "the covariate log odds ratio must be finite";
  if (s.dependent_covariate && (s.num_numeric_covariates > 0 || s.categorical_levels > 0))
    return "the dependent covariate cannot be combined with other covariates "
           "(the program fits one dependent covariate alone)";
  if (s.dependent_covariate && (s.dependent_levels < 2 || s.dependent_levels > 20))
    return "the dependent covariate needs 2 to 20 values";
  const int genetic = 1 + ((s.odds_ratio_L != 1.0 || s.effect_L) ? 1 : 0);
  const int columns = s.num_numeric_covariates + (s.categorical_levels > 0 ? 1 : 0) +
                      (s.dependent_covariate ? 1 : 0);
  if (columns + genetic > 20) return "at most 20 variables (covariates, K and L) are allowed";
  const double top = s.dependent_covariate ? 1.5 : 1.0;
  if (!(s.freq0 >= 0.0 && s.freq1 >= 0.0 && (s.freq0 + s.freq1) * top < 1.0))
    return s.dependent_covariate
               ? "the frequencies of 0 and 1 copies must be >= 0 with 1.5 * (freq0 + freq1) < 1"
               : "the frequencies of 0 and 1 copies must be >= 0 with a sum below 1";
  if (!(s.pfb_min > 0.0 && s.pfb_min <= s.pfb_max && s.pfb_max < 1.0))
    return "the B allele frequency range must satisfy 0 < min <= max < 1";
  if (s.decimals < 1 || s.decimals > 8) return "the number of decimals must be 1 to 8";
  return {};
}

SimSubjects make_subjects(const SimSettings& s) {
  sim_random::Stream rng(s.seed, SUBJECT_STREAM);
  const int n = s.num_subjects;
  const int cases = std::clamp(case_count(s), 0, n);
  SimSubjects out;
  out.status.assign(static_cast<std::size_t>(n), 0);
  std::fill(out.status.begin(), out.status.begin() + cases, 1);
  for (int i = n - 1; i > 0; --i) {  // Fisher-Yates
    const auto j = static_cast<int>(rng.below(static_cast<std::uint64_t>(i) + 1));
    std::swap(out.status[static_cast<std::size_t>(i)], out.status[static_cast<std::size_t>(j)]);
  }

  for (int j = 1; j <= s.num_numeric_covariates; ++j) out.covariate_names.push_back("cov" + std::to_string(j));
  if (s.categorical_levels > 0) out.covariate_names.push_back("cat");
  if (s.dependent_covariate) out.covariate_names.push_back("dep");

  const double scale = std::pow(10.0, s.decimals);
  // Case weights of the categorical levels: exp(covariate_log_or * (level - 1)).
  std::vector<double> case_cumulative;
  double total = 0.0;
  for (int level = 1; level <= s.categorical_levels; ++level) {
    total += std::exp(s.covariate_log_or * (level - 1));
    case_cumulative.push_back(total);
  }
  out.covariates.resize(static_cast<std::size_t>(n));
  out.dependent_value.assign(static_cast<std::size_t>(n), 0);
  for (int i = 0; i < n; ++i) {
    const int y = out.status[static_cast<std::size_t>(i)];
    auto& row = out.covariates[static_cast<std::size_t>(i)];
    for (int j = 0; j < s.num_numeric_covariates; ++j)
      row.push_back(round_to(rng.normal() + s.covariate_log_or * y, scale));
    if (s.categorical_levels > 0) {
      int level = 1;
      if (y == 0) {
        level = 1 + static_cast<int>(rng.below(static_cast<std::uint64_t>(s.categorical_levels)));
      } else {
        const double u = rng.uniform() * total;
        while (level < s.categorical_levels && u >= case_cumulative[static_cast<std::size_t>(level - 1)]) ++level;
      }
      row.push_back(level);
    }
    if (s.dependent_covariate) {
      const int z = static_cast<int>(rng.below(static_cast<std::uint64_t>(s.dependent_levels)));
      out.dependent_value[static_cast<std::size_t>(i)] = z;
      row.push_back(z);
    }
  }
  return out;
}

SimProbe make_probe(const SimSettings& s, const SimSubjects& subjects, int probe_index) {
  SimProbe p;
  fill_probe(p, s, subjects, probe_index);
  return p;
}

void fill_probe(SimProbe& p, const SimSettings& s, const SimSubjects& subjects, int index) {
  sim_random::Stream rng(s.seed, static_cast<std::uint64_t>(index));
  const bool snp = is_snp(s);
  const std::size_t n = subjects.status.size();
  const double scale = std::pow(10.0, s.decimals);

  char name[32];
  std::snprintf(name, sizeof name, snp ? "rs%06d" : "cnv_%06d", index + 1);
  p.name = name;
  const int per_chromosome = std::max(1, (s.num_probes + NUM_CHROMOSOMES - 1) / NUM_CHROMOSOMES);
  p.chr = 1 + index / per_chromosome;
  p.pos = FIRST_POSITION + (index % per_chromosome) * POSITION_SPACING +
          static_cast<int>(rng.below(POSITION_JITTER));
  p.pfb = snp ? round_to(s.pfb_min + (s.pfb_max - s.pfb_min) * rng.uniform(), 1000.0) : 2.0;
  p.associated = probe_is_associated(s, index);
  p.log_or = p.associated ? std::log(s.odds_ratio) : 0.0;
  p.log_or_L = (p.associated && snp) ? std::log(s.odds_ratio_L) : 0.0;

  // Cumulative class probabilities per status y and dependent value z, over the
  // allele classes c = k(k+1)/2 + l (CN probes: classes 0, 1, 3 stand for k = 0, 1, 2).
  const int levels = s.dependent_covariate ? s.dependent_levels : 1;
  std::vector<std::array<double, 6>> cumulative(static_cast<std::size_t>(2 * levels));
  static constexpr int K_OF[6] = {0, 1, 1, 2, 2, 2};
  static constexpr int L_OF[6] = {0, 0, 1, 0, 1, 2};
  for (int y = 0; y < 2; ++y) {
    for (int z = 0; z < levels; ++z) {
      const double m = dependent_scale(s, z);
      const double fk[3] = {s.freq0 * m, s.freq1 * m, 1.0 - (s.freq0 + s.freq1) * m};
      auto& cum = cumulative[static_cast<std::size_t>(y * levels + z)];
      double total = 0.0;
      for (int c = 0; c < 6; ++c) {
        const int k = K_OF[c], l = L_OF[c];
        double w = 0.0;
        if (snp) {
          const double binom = (k == 2 && l == 1) ? 2.0 : 1.0;
          w = fk[k] * binom * std::pow(p.pfb, l) * std::pow(1.0 - p.pfb, k - l);
        } else if (l == 0) {
          w = fk[k];
        }
        w *= std::exp(y * (p.log_or * k + p.log_or_L * (k - 2 * l)));
        total += w;
        cum[static_cast<std::size_t>(c)] = total;
      }
      for (auto& v : cum) v /= total;
      cum[5] = 1.0;
    }
  }

  p.true_k.resize(n);
  p.true_l.resize(n);
  p.called_cn.resize(n);
  p.r.resize(n);
  p.b.resize(snp ? n : 0);
  const bool profile = s.missed_carrier_rate > 0.0 || s.false_call_rate > 0.0;
  sim_random::Stream caller(s.seed, CALLER_STREAM + static_cast<std::uint64_t>(index));
  for (std::size_t i = 0; i < n; ++i) {
    const int y = subjects.status[i];
    const int z = s.dependent_covariate ? subjects.dependent_value[i] : 0;
    const auto& cum = cumulative[static_cast<std::size_t>(y * levels + z)];
    const double u = rng.uniform();
    int c = 0;
    while (c < 5 && u >= cum[static_cast<std::size_t>(c)]) ++c;
    const int k = K_OF[c], l = L_OF[c];
    p.true_k[i] = k;
    p.true_l[i] = l;

    int called = k;
    if (profile) {
      const double u_call = caller.uniform();
      if (k < 2 && u_call < s.missed_carrier_rate) called = 2;
      else if (k == 2 && u_call < s.false_call_rate) called = 1;
    }
    if (s.miscall_rate > 0.0 && rng.uniform() < s.miscall_rate) {
      if (k == 0) called = 1;
      else if (k == 2) called = 1;
      else called = (rng.uniform() < 0.5) ? 0 : 2;
    }
    p.called_cn[i] = called;

    const bool shifted = s.differential && y == 1;
    const double r_mean = R_MEAN[k] + (shifted ? R_CASE_SHIFT[k] : 0.0);
    const double r_sd = R_SD[k] * (shifted ? CASE_SD_FACTOR : 1.0);
    p.r[i] = round_to(r_mean + r_sd * rng.normal(), scale);
    if (snp) {
      const double b_sd = B_SD[c] * (shifted ? CASE_SD_FACTOR : 1.0);
      const double b = std::clamp(B_MEAN[c] + b_sd * rng.normal(), 0.0, 1.0);
      p.b[i] = round_to(b, scale);
    }
  }
}
