// SNP starting values: after the subjects are cleaned (snp_cleaning.cpp), choose the
// classes of the model, lay out the parameter vector, list its free parameters, fill the
// start vector from the cleaned tallies, and screen the probe.
//
// Array type 'A' lays out its R blocks per allele-specific class (stride 6). Its R start
// values come from the cleaned LRR statistics of the class's total copy number, so every
// modelled class of one total class starts from the same mean and variance; no intensity
// parameter of an 'A' array is free.

#include <algorithm>
#include <cmath>

#include "core/layout.h"
#include "start/start.h"
#include "start/snp_cleaning.h"

namespace {
constexpr int kRefCnClass = 2;
constexpr int kRefAlleleClass = 4;
constexpr int kMinClassSize = 3;         // cleaned subjects in each status
constexpr int kMinOneCopyCalls = 10;     // first-tally one-copy subjects, both statuses
constexpr int kGrowthLimit = 9;          // cleaned / first count (integer division) above it
constexpr int kMaxHighCalls = 350;       // subjects called above two copies

// Total copy number of allele class c.
constexpr int kCopiesOf[kNumSnpClasses] = {0, 1, 1, 2, 2, 2};

bool valid_input(const DATA& data, const std::vector<int>& calls, int differential_measurement_errors) {
  if (differential_measurement_errors != 0 && differential_measurement_errors != 1) return false;
  const auto n = static_cast<std::size_t>(data.num_subjects);
  if (data.num_subjects < 0 || calls.size() < n ||
      data.disease_status.size() < n || data.intensity_r.size() < n || data.intensity_b.size() < n)
    return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (calls[i] < 0) return false;
    if (data.disease_status[i] != 0 && data.disease_status[i] != 1) return false;
  }
  return true;
}

// Dimensions, block positions and the per-probe arrays, with no class present yet.
void write_SNP_layout(PARA& para, ArrayType array_type, int differential_measurement_errors) {
  const int groups = differential_measurement_errors + 1;
  para.array_type = array_type;
  para.differential_measurement_errors = differential_measurement_errors;
  para.ref_cn_class = kRefCnClass;
  para.ref_allele_class = kRefAlleleClass;
  para.num_cn_classes = kNumCnClasses;
  para.num_allele_classes = kNumSnpClasses;
  const int r_classes = array_type == ArrayType::kAlleleSpecificR ? kNumSnpClasses : kNumCnClasses;
  para.num_r_means = para.num_r_logvars = groups * r_classes;
  para.num_b_means = para.num_b_logvars = groups * kNumSnpClasses;
  para.freq_start = para.design().num_disease_coefs;
  // Two frequency log-ratios and the logit of the B-allele frequency; none in the sieve.
  para.r_mean_start = para.design().model_family == ModelFamily::kProspectiveSieve ? para.freq_start : para.freq_start + 3;
  para.r_logvar_start = para.r_mean_start + para.num_r_means;
  para.b_mean_start = para.r_logvar_start + para.num_r_logvars;
  para.b_logvar_start = para.b_mean_start + para.num_b_means;
  para.b_logvar_end = para.b_logvar_start + para.num_b_logvars;
  para.num_params = para.b_logvar_end;
  para.factorial = {1, 1, 2};
  para.cn_class_present.assign(kNumCnClasses, 0);
  para.allele_class_present.assign(kNumSnpClasses, 0);
}

// A class is modelled with at least three cleaned subjects in each status and a usable
// BAF spread in both; a total class when any of its allele classes is.
void select_SNP_classes(PARA& para, const SnpCleaning& clean) {
  for (int c = 0; c < kNumSnpClasses; ++c) {
    bool present = true;
    for (int y = 0; y < 2; ++y)
      if (clean.cleaned.y[y].b_count[c] < kMinClassSize || baf_stats(clean.cleaned.y[y], c).degenerate)
        present = false;
    para.allele_class_present[c] = present ? 1 : 0;
  }
  for (int c = 0; c < kNumSnpClasses; ++c)
    if (para.allele_class_present[c] != 0) para.cn_class_present[kCopiesOf[c]] = 1;
}

// Free parameters as positions, in increasing order.
void list_SNP_free_params(PARA& para) {
  para.free_params.clear();
  const auto add = [&](int position) { para.free_params.push_back(position); };
  const ParamLayout layout(para);
  for (int u = 0; u < para.design().num_disease_coefs; ++u) add(u);
  if (para.design().model_family != ModelFamily::kProspectiveSieve) {
    for (int k = 0; k < kRefCnClass; ++k)
      if (para.cn_class_present[k] != 0) add(layout.frequency(k));
    add(layout.b_allele_logit());
  }
  if (para.array_type == ArrayType::kLrrBaf) {
    const int G = para.differential_measurement_errors;
    for (int g = 0; g <= G; ++g)
      for (int k = 0; k < kNumCnClasses; ++k)
        if (para.cn_class_present[k] != 0) add(layout.r_mean(g, k));
    for (int g = 0; g <= G; ++g)
      for (int k = 0; k < kNumCnClasses; ++k)
        if (para.cn_class_present[k] != 0) add(layout.r_logvar(g, k));
    // Only the BAF means of (0,0) and (2,1) are estimated; the others sit at 0 or 1.
    for (int g = 0; g <= G; ++g)
      for (int c : {0, 4})
        if (para.allele_class_present[c] != 0) add(layout.b_mean(g, c));
    for (int g = 0; g <= G; ++g)
      for (int c = 0; c < kNumSnpClasses; ++c)
        if (para.allele_class_present[c] != 0) add(layout.b_logvar(g, c));
  }
}

// Left-out subjects of absent classes.
void exclude_absent_classes(ProbeSelection& selection, int n, const PARA& para, const SnpCleaning& clean) {
  for (int i = 0; i < n; ++i) {
    if (!selection.retained(i)) continue;
    const int c = clean.cleaned_class[i];
    selection.excluded[i] = (c < 0 || para.allele_class_present[c] == 0) ? 1 : 0;
  }
}

double logit(double p) { return std::log(p / (1.0 - p)); }

// Group g of the intensity blocks starts from disease status g, so with one set of
// intensity parameters it starts from the controls alone.
void fill_SNP_start(double* start, const PARA& para, const SnpCleaning& clean, double pfb) {
  for (int u = 0; u < para.num_params; ++u) start[u] = 0.0;
  const ParamLayout layout(para);
  if (para.design().model_family != ModelFamily::kProspectiveSieve) {
    int C[kNumCnClasses];
    for (int k = 0; k < kNumCnClasses; ++k)
      C[k] = clean.cleaned.y[0].r_count[k] + clean.cleaned.y[1].r_count[k];
    const double T = C[0] + C[1] + C[2];
    for (int k = 0; k < kRefCnClass; ++k)
      if (para.cn_class_present[k] != 0) start[layout.frequency(k)] = std::log((C[k] / T) / (C[2] / T));
    start[layout.b_allele_logit()] = logit(pfb);
  }
  const bool by_allele = para.array_type == ArrayType::kAlleleSpecificR;
  for (int g = 0; g <= para.differential_measurement_errors; ++g) {
    const SnpGroupTally& t = clean.cleaned.y[g];
    if (!by_allele) {
      for (int k = 0; k < kNumCnClasses; ++k) {
        if (para.cn_class_present[k] == 0) continue;
        const LrrStats s = lrr_stats(t, k);
        start[layout.r_mean(g, k)] = s.m;
        start[layout.r_logvar(g, k)] = std::log(s.s * s.s);
      }
    }
    for (int c = 0; c < kNumSnpClasses; ++c) {
      if (para.allele_class_present[c] == 0) continue;
      if (by_allele) {
        const LrrStats s = lrr_stats(t, kCopiesOf[c]);
        start[layout.r_mean(g, c)] = s.m;
        start[layout.r_logvar(g, c)] = std::log(s.s * s.s);
      }
      const BafStats w = baf_stats(t, c);
      start[layout.b_mean(g, c)] = w.b;
      start[layout.b_logvar(g, c)] = std::log(w.w * w.w);
    }
  }
}

// The first test that applies decides; comparisons with undefined statistics are false.
int screen_SNP_probe(const double* start, const PARA& para, const SnpCleaning& clean, double pfb) {
  const SnpGroupTally* cleaned = clean.cleaned.y;
  const SnpGroupTally* first = clean.first.y;

  // A B-allele frequency of 0 or 1 (or none) and a probe without two-copy subjects give
  // infinite frequency log-ratios: no start for a fit.
  bool finite_frequencies = std::isfinite(logit(pfb));
  for (int u = para.freq_start; u < para.r_mean_start; ++u)
    if (!std::isfinite(start[u])) finite_frequencies = false;
  if (!finite_frequencies || check_cluster_means_SNP(start, para) == 1) return SNP_BAD_START;

  if (para.cn_class_present[0] == 1)
    for (int y = 0; y < 2; ++y)
      if (lrr_stats(cleaned[y], 0).m > THRESH_CN0) return SNP_ZERO_COPY_HIGH;

  for (int y = 0; y < 2; ++y) {
    const LrrStats one = lrr_stats(cleaned[y], 1);
    const LrrStats two = lrr_stats(cleaned[y], 2);
    if (one.m > two.m - two.s) return SNP_ONE_COPY_HIGH;
  }

  for (int c = 1; c < kNumSnpClasses; ++c) {
    if (para.allele_class_present[c] != 1) continue;
    for (int y = 0; y < 2; ++y)
      if (baf_stats(cleaned[y], c).w > WIN_B) return SNP_BAF_SPREAD;
  }

  if (first[0].r_count[1] + first[1].r_count[1] < kMinOneCopyCalls) return SNP_FEW_ONE_COPY;

  for (int c = 0; c <= 2; ++c) {
    if (para.allele_class_present[c] != 1) continue;
    for (int y = 0; y < 2; ++y) {
      const int before = first[y].b_count[c];
      if (before > 0 && cleaned[y].b_count[c] / before > kGrowthLimit) return SNP_CLASS_GREW;
    }
  }

  if (para.allele_class_present[1] + para.allele_class_present[2] == 0) return SNP_NO_ONE_COPY;
  if (clean.high_calls > kMaxHighCalls) return SNP_MANY_HIGH_CALLS;
  return SNP_USABLE;
}
}  // namespace

int get_SNP_initial_Illumina(double* start, PARA& para, const DATA& data, const std::vector<int>& calls,
                             double pfb, ArrayType array_type, int differential_measurement_errors,
                             ProbeSelection& selection) {
  selection.begin(calls, data.num_subjects);
  if (!valid_input(data, calls, differential_measurement_errors)) {
    // Nothing is modelled: the lists keep the disease model (and the logit) only. A flag
    // other than 0 or 1 would size the blocks from garbage; one group stands in for it.
    const bool flag_ok = differential_measurement_errors == 0 || differential_measurement_errors == 1;
    write_SNP_layout(para, array_type, flag_ok ? differential_measurement_errors : 0);
    list_SNP_free_params(para);
    std::fill(selection.excluded.begin(), selection.excluded.end(), 1);
    return SNP_INVALID_INPUT;
  }

  write_SNP_layout(para, array_type, differential_measurement_errors);
  const SnpCleaning clean = clean_SNP_subjects(data, selection);
  select_SNP_classes(para, clean);
  list_SNP_free_params(para);
  exclude_absent_classes(selection, data.num_subjects, para, clean);
  // The driver's vectors hold kMaxParams entries; a longer layout cannot be started.
  if (para.num_params > kMaxParams) return SNP_INVALID_INPUT;
  fill_SNP_start(start, para, clean, pfb);
  return screen_SNP_probe(start, para, clean, pfb);
}

int get_SNP_initial_Illumina(double* start, PARA& para, DATA& data, double pfb, ArrayType array_type,
                             int differential_measurement_errors) {
  return with_selection_applied(data.excluded, [&](ProbeSelection& selection) {
    return get_SNP_initial_Illumina(start, para, data, data.called_cn, pfb, array_type,
                                    differential_measurement_errors, selection);
  });
}
