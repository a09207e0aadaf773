// The robust start: intensity-consistent calls under robust per-class centres, the stated
// start built from them, and (CN probes) EM steps of the intensity mixture
//
//   f(x_i) = sum_k pi_k N(x_i; mu_gk, sigma2_gk),   g the measurement group of subject i,
//
// which is the model's likelihood with the disease effect at 0: one set of class
// frequencies for cases and controls.

#include "start/robust_start.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "checks/cluster_checks.h"
#include "core/layout.h"
#include "start/start.h"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kMinClass = 3;        // subjects a class needs before it has a centre
// Subjects of one status a class needs before it has a centre of its own in that status;
// below, one wrong call among a handful would set the spread.
constexpr int kMinStatusClass = 10;
constexpr double kMadToSd = 1.4826; // median absolute deviation to sd under normality
// Lowest spread of a class: a few equal intensities would otherwise give a class of zero
// width that claims no subject but its own.
constexpr double kMinSpread = 0.02;
// B allele frequencies of a heterozygous-looking subject, which carries two copies.
constexpr double kHetLow = 0.25;
constexpr double kHetHigh = 0.75;
// A call is overturned only when its intensity is this much likelier (log scale, 50-fold)
// in another class, prior-weighted: where clusters overlap the call keeps the subject, so
// correct calls in the tails are not moved while a cluster padded by a neighbour's subjects
// is emptied of them.
constexpr double kMoveEvidence = 3.912;
// Half-width, in spreads, of the core of the largest class.
constexpr double kCore = 2.0;
constexpr int kRefineSteps = 10;    // EM steps of the intensity mixture
constexpr double kMinVariance = 1e-6;

bool judged(const DATA& data, int i, bool snp_probe) {
  const int y = data.disease_status[i];
  const int call = data.called_cn[i];
  if ((y != 0 && y != 1) || call < 0 || !std::isfinite(data.intensity_r[i])) return false;
  if (snp_probe) return call <= 2 && std::isfinite(data.intensity_b[i]);
  return true;
}

bool heterozygous_looking(double b) { return b > kHetLow && b <= kHetHigh; }

// Median and scaled MAD of `values` (reordered).
void centre_and_spread(std::vector<double>& values, double& centre, double& spread) {
  centre = median_of(values);
  for (double& v : values) v = std::fabs(v - centre);
  spread = std::max(kMadToSd * median_of(values), kMinSpread);
}

RobustCentres centres_of(const DATA& data, const std::vector<int>& cls, const std::vector<char>& use) {
  RobustCentres out;
  std::vector<double> values[2];
  std::vector<double> pooled;
  for (int k = 0; k < kRobustClasses; ++k) {
    values[0].clear();
    values[1].clear();
    for (int i = 0; i < data.num_subjects; ++i)
      if (use[i] && cls[i] == k) values[data.disease_status[i]].push_back(data.intensity_r[i]);
    pooled = values[0];
    pooled.insert(pooled.end(), values[1].begin(), values[1].end());
    double pooled_spread = kNaN;
    out.pooled[k] = kNaN;
    if (!pooled.empty()) centre_and_spread(pooled, out.pooled[k], pooled_spread);
    for (int y = 0; y < 2; ++y) {
      RobustCentres& c = out;
      c.count[y][k] = static_cast<int>(values[y].size());
      if (c.count[y][k] >= kMinStatusClass) {
        centre_and_spread(values[y], c.centre[y][k], c.spread[y][k]);
      } else {  // too few in this status to judge by: the class over both statuses
        c.centre[y][k] = out.pooled[k];
        c.spread[y][k] = pooled_spread;
      }
    }
  }
  return out;
}

// Positions of R entries of group g that hold total class k.
template <typename Visit>
void for_r_entries(const PARA& para, int g, int k, Visit visit) {
  const ParamLayout layout(para);
  if (!layout.r_by_allele_class()) {
    if (para.cn_class_present[k] != 0) visit(layout.r_mean(g, k), layout.r_logvar(g, k));
    return;
  }
  for (int l = 0; l <= k; ++l) {
    const int c = para.allele_class_index[k][l];
    if (para.allele_class_present[c] != 0) visit(layout.r_mean(g, c), layout.r_logvar(g, c));
  }
}

// EM steps of the CN intensity mixture over the included subjects, from the start and the
// class shares of `calls`; the start keeps its values where a step is not finite.
void refine_cn_start(double* start, const PARA& para, const DATA& data, const ProbeSelection& selection) {
  const std::vector<int>& calls = selection.calls;
  const ParamLayout layout(para);
  const int G = para.differential_measurement_errors;
  const int K = kRobustClasses;
  double mu[2][kRobustClasses] = {};
  double var[2][kRobustClasses] = {};
  double pi[kRobustClasses] = {};
  double included = 0.0;
  for (int i = 0; i < data.num_subjects; ++i) {
    if (!selection.retained(i)) continue;
    pi[std::min(calls[i], 2)] += 1.0;
    included += 1.0;
  }
  if (included == 0.0) return;
  for (int k = 0; k < K; ++k) pi[k] /= included;
  for (int g = 0; g <= G; ++g)
    for (int k = 0; k < K; ++k) {
      if (para.cn_class_present[k] == 0) continue;
      mu[g][k] = start[layout.r_mean(g, k)];
      var[g][k] = std::exp(start[layout.r_logvar(g, k)]);
    }
  for (int step = 0; step < kRefineSteps; ++step) {
    double W[2][kRobustClasses] = {}, S[2][kRobustClasses] = {}, Q[2][kRobustClasses] = {};
    double share[kRobustClasses] = {};
    for (int i = 0; i < data.num_subjects; ++i) {
      if (!selection.retained(i)) continue;
      const int g = layout.group(data.disease_status[i]);
      const double x = data.intensity_r[i];
      double w[kRobustClasses] = {};
      double total = 0.0;
      for (int k = 0; k < K; ++k) {
        if (para.cn_class_present[k] == 0) continue;
        const double z = x - mu[g][k];
        w[k] = pi[k] * std::exp(-0.5 * z * z / var[g][k]) / std::sqrt(var[g][k]);
        total += w[k];
      }
      if (!(total > 0.0) || !std::isfinite(total)) continue;  // far from every class
      for (int k = 0; k < K; ++k) {
        const double r = w[k] / total;
        W[g][k] += r;
        S[g][k] += r * x;
        Q[g][k] += r * x * x;
        share[k] += r;
      }
    }
    double sum = 0.0;
    for (int k = 0; k < K; ++k) sum += share[k];
    if (!(sum > 0.0)) return;
    for (int k = 0; k < K; ++k) {
      if (para.cn_class_present[k] == 0) continue;
      pi[k] = share[k] / sum;
      for (int g = 0; g <= G; ++g) {
        if (W[g][k] < 1.0) continue;  // a cell without weight keeps its values
        mu[g][k] = S[g][k] / W[g][k];
        var[g][k] = std::max(Q[g][k] / W[g][k] - mu[g][k] * mu[g][k], kMinVariance);
      }
    }
  }
  for (int g = 0; g <= G; ++g)
    for (int k = 0; k < K; ++k) {
      if (para.cn_class_present[k] == 0) continue;
      if (!std::isfinite(mu[g][k]) || !std::isfinite(var[g][k])) return;
    }
  for (int g = 0; g <= G; ++g)
    for (int k = 0; k < K; ++k) {
      if (para.cn_class_present[k] == 0) continue;
      start[layout.r_mean(g, k)] = mu[g][k];
      start[layout.r_logvar(g, k)] = std::log(var[g][k]);
    }
  if (para.design().model_family != ModelFamily::kProspectiveSieve) {
    const int ref = para.ref_cn_class;
    for (int k = 0; k < K; ++k) {
      if (k == ref || para.cn_class_present[k] == 0) continue;
      const double ratio = std::log(pi[k] / pi[ref]);
      if (std::isfinite(ratio)) start[layout.frequency(k)] = ratio;
    }
  }
}
}  // namespace

double median_of(std::vector<double>& values) {
  if (values.empty()) return kNaN;
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
  const double upper = values[half];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
  return 0.5 * (lower + upper);
}

IntensityCalls intensity_consistent_calls(const DATA& data, bool snp_probe) {
  const int n = data.num_subjects;
  IntensityCalls out;
  out.calls.assign(data.called_cn.begin(), data.called_cn.begin() + n);
  std::vector<char> use(static_cast<std::size_t>(n), 0);
  int num_judged = 0;
  for (int i = 0; i < n; ++i) {
    if (!judged(data, i, snp_probe)) continue;
    use[i] = 1;
    ++num_judged;
    out.calls[i] = std::min(out.calls[i], 2);
  }
  if (num_judged == 0) return out;
  // The centres of the smaller classes leave out subjects inside the core of the largest
  // class: where its subjects called otherwise outnumber a small class's own (5 % miscalls
  // of a 90 % class against a 5 % class), they would otherwise hold its median. The calls
  // are judged once against these centres; judging again against centres of the judged
  // classes would feed back, each doubtful subject kept widening the class that kept it.
  std::vector<char> screened = use;
  const RobustCentres first = centres_of(data, out.calls, use);
  int largest = 0;
  for (int k = 1; k < kRobustClasses; ++k)
    if (first.count[0][k] + first.count[1][k] > first.count[0][largest] + first.count[1][largest])
      largest = k;
  for (int i = 0; i < n; ++i) {
    if (!use[i] || out.calls[i] == largest) continue;
    const int y = data.disease_status[i];
    if (std::fabs(data.intensity_r[i] - first.centre[y][largest]) < kCore * first.spread[y][largest])
      screened[i] = 0;
  }
  const RobustCentres c = centres_of(data, out.calls, screened);
  out.centres = c;
  double log_prior[kRobustClasses];
  bool candidate[kRobustClasses];
  for (int k = 0; k < kRobustClasses; ++k) {
    const int total = c.count[0][k] + c.count[1][k];
    candidate[k] = total >= kMinClass;
    log_prior[k] = std::log(static_cast<double>(total) / num_judged);
  }
  for (int i = 0; i < n; ++i) {
    if (!use[i]) continue;
    const int y = data.disease_status[i];
    const double x = data.intensity_r[i];
    double score[kRobustClasses];
    int best = -1;
    for (int k = 0; k < kRobustClasses; ++k) {
      score[k] = -std::numeric_limits<double>::infinity();
      if (!candidate[k]) continue;
      if (snp_probe && k == 1 && heterozygous_looking(data.intensity_b[i])) continue;
      const double z = (x - c.centre[y][k]) / c.spread[y][k];
      score[k] = log_prior[k] - std::log(c.spread[y][k]) - 0.5 * z * z;
      if (best < 0 || score[k] > score[best]) best = k;
    }
    const int call = out.calls[i];
    if (best >= 0 && best != call &&
        (!std::isfinite(score[call]) || score[best] - score[call] > kMoveEvidence))
      out.calls[i] = best;
  }
  for (int i = 0; i < n; ++i)
    if (use[i] && out.calls[i] != std::min(data.called_cn[i], 2)) ++out.moved;
  return out;
}

int get_robust_initial(double* start, double* reference, PARA& para, const DATA& data, double pfb,
                       bool snp_probe, ArrayType array_type, int differential_measurement_errors,
                       ProbeSelection& selection) {
  const IntensityCalls judged_calls = intensity_consistent_calls(data, snp_probe);
  const std::vector<int>& calls = judged_calls.calls;
  int status = snp_probe ? get_SNP_initial_Illumina(start, para, data, calls, pfb, array_type,
                                                    differential_measurement_errors, selection)
                         : get_CN_initial(start, para, data, calls, pfb, array_type,
                                          differential_measurement_errors, selection);
  if (status == 0 && !snp_probe) {
    refine_cn_start(start, para, data, selection);
    status = check_cluster_means_CN(start, para);
  }
  if (para.num_params > kMaxParams) return status;

  // The reference: the start with each R mean at the robust centre of its total class in
  // its measurement group.
  std::copy(start, start + para.num_params, reference);
  if (status != 0) return status;
  const RobustCentres& centres = judged_calls.centres;
  for (int g = 0; g <= para.differential_measurement_errors; ++g)
    for (int k = 0; k < kRobustClasses; ++k) {
      const double centre = para.differential_measurement_errors == 1 ? centres.centre[g][k] : centres.pooled[k];
      if (!std::isfinite(centre)) continue;
      for_r_entries(para, g, k, [&](int mean, int /*logvar*/) { reference[mean] = centre; });
    }
  return status;
}
