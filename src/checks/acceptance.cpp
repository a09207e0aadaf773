#include "checks/acceptance.h"

#include <cmath>
#include <initializer_list>

#include "checks/cluster_checks.h"
#include "core/layout.h"

namespace {
// The fit moved a mean by more than one fitted standard deviation.
bool moved_too_far(const double* f, const double* s, int mean, int logvar) {
  return std::fabs(f[mean] - s[mean]) > std::exp(f[logvar] / 2.0);
}

// First modelled class among `order`, or -1.
int first_modelled(const PARA& para, std::initializer_list<int> order) {
  for (int c : order)
    if (para.allele_class_present[c] != 0) return c;
  return -1;
}
}  // namespace

// R entries of a SNP probe on an 'A' array are laid out per allele-specific class (stride
// 6), and each modelled class of one total class starts from that total class's LRR
// statistics. There the tests that 'I' arrays make on the one- and two-copy R cells are made
// on allele classes instead:
//  - the move of the one-copy R mean (step 2a) is judged for each modelled one-copy class,
//    A (c = 1) and B (c = 2);
//  - the case-minus-control shift (step 3) compares the first modelled one-copy class (A,
//    else B) with the first modelled two-copy class (AB, else AA, else BB); when either
//    total class has no modelled class the test has nothing to compare and is skipped.
// Unmodelled classes hold no values, so neither test ever reads them.

Outcome accept_fit(const double* f, const double* s, const PARA& para, bool snp_probe) {
  const int clusters = snp_probe ? check_cluster_means_SNP(f, para) : check_cluster_means_CN(f, para);
  if (clusters != 0) return Outcome::kAcceptClusterMeans;
  const ParamLayout layout(para);
  const bool by_allele = snp_probe && layout.r_by_allele_class();
  for (int d = 0; d <= para.differential_measurement_errors; ++d) {
    if (para.cn_class_present[1] == 0) break;
    if (by_allele) {
      for (int c = 1; c <= 2; ++c)
        if (para.allele_class_present[c] != 0 &&
            moved_too_far(f, s, layout.r_mean(d, c), layout.r_logvar(d, c)))
          return Outcome::kAcceptMeanMoved;
    } else if (moved_too_far(f, s, layout.r_mean(d, 1), layout.r_logvar(d, 1))) {
      return Outcome::kAcceptMeanMoved;
    }
    if (!snp_probe) continue;
    for (int c = 1; c <= 2; ++c)
      if (para.allele_class_present[c] != 0 &&
          moved_too_far(f, s, layout.b_mean(d, c), layout.b_logvar(d, c)))
        return Outcome::kAcceptMeanMoved;
    // The heterozygous class must keep its B mean near 0.5; an unmodelled AB class has
    // no fitted mean to judge.
    if (para.allele_class_present[4] != 0 && std::fabs(f[layout.b_mean(d, 4)] - 0.5) > 0.13)
      return Outcome::kAcceptHeterozygousB;
  }
  if (para.differential_measurement_errors == 1) {
    int one = 1, two = 2;
    if (by_allele) {
      one = first_modelled(para, {1, 2});
      two = first_modelled(para, {4, 3, 5});
    }
    if (one >= 0 && two >= 0) {
      const double shift1 = f[layout.r_mean(1, one)] - f[layout.r_mean(0, one)];
      const double shift2 = f[layout.r_mean(1, two)] - f[layout.r_mean(0, two)];
      if (std::fabs(shift1 - shift2) > 0.25) return Outcome::kAcceptCaseShift;
    }
  }
  return Outcome::kOk;
}

