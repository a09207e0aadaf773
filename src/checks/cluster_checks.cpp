// Cluster-mean plausibility. Every comparison is strict and false when either side is
// NaN, so a NaN mean or log-variance never rejects a vector by itself.

#include <cmath>

#include "checks/cluster_checks.h"
#include "core/layout.h"

int check_cluster_means_CN(const double* vector, const PARA& para) {
  const ParamLayout layout(para);
  const int K = para.num_cn_classes;
  for (int k = 0; k + 1 < K; ++k) {
    if (para.cn_class_present[k] == 0 || para.cn_class_present[k + 1] == 0) continue;
    for (int g = 0; g <= para.differential_measurement_errors; ++g) {
      const double mu0 = vector[layout.r_mean(g, k)];
      const double mu1 = vector[layout.r_mean(g, k + 1)];
      if (mu0 > mu1) return 1;
      const double s0 = std::exp(vector[layout.r_logvar(g, k)] / 2.0);
      const double s1 = std::exp(vector[layout.r_logvar(g, k + 1)] / 2.0);
      // Lower two-standard-deviation limit against lower limit.
      if (mu0 - 2.0 * s0 > mu1 - 2.0 * s1) return 1;
    }
  }
  return 0;
}

namespace {
// Reads the R and B entries of one SNP vector by group and class.
struct SnpView {
  const double* v;
  const PARA& para;
  ParamLayout layout;
  int c(int k, int l) const { return para.allele_class_index[k][l]; }
  bool cn(int k) const { return para.cn_class_present[k] != 0; }
  bool allele(int cls) const { return para.allele_class_present[cls] != 0; }
  // R entries: by total class k on 'I' arrays, by allele-specific class on 'A' arrays.
  double r_mean(int g, int s) const { return v[layout.r_mean(g, s)]; }
  double r_logvar(int g, int s) const { return v[layout.r_logvar(g, s)]; }
  double b_mean(int g, int cls) const { return v[layout.b_mean(g, cls)]; }
  double b_logvar(int g, int cls) const { return v[layout.b_logvar(g, cls)]; }
  // One standard deviation of clearance on each side between a lower and an upper R cluster.
  bool overlap(int g, int lower, int upper) const {
    const double s_lower = std::exp(r_logvar(g, lower) / 2.0);
    const double s_upper = std::exp(r_logvar(g, upper) / 2.0);
    return r_mean(g, upper) - s_upper < r_mean(g, lower) + s_lower;
  }
};
}  // namespace

int check_cluster_means_SNP(const double* vector, const PARA& para) {
  const SnpView s{vector, para, ParamLayout(para)};
  const ArrayType type = para.array_type;
  const int G = para.differential_measurement_errors;
  const double max_r_logvar = std::log(WIN_R * WIN_R);
  const double max_b_logvar = std::log(WIN_B * WIN_B);

  // Zero-copy class location.
  for (int g = 0; g <= G; ++g) {
    if (type == ArrayType::kLrrBaf && s.cn(0) && s.r_mean(g, 0) > THRESH_CN0) return 1;
    if (type == ArrayType::kAlleleSpecificR && s.allele(s.c(0, 0)) && s.r_mean(g, s.c(0, 0)) > 100.0) return 1;
  }
  // Spread of the one- and two-copy classes.
  for (int k = 1; k <= 2; ++k) {
    if (!s.cn(k)) continue;
    for (int l = 0; l <= k; ++l) {
      const int cls = s.c(k, l);
      if (!s.allele(cls)) continue;
      for (int g = 0; g <= G; ++g) {
        if (type == ArrayType::kLrrBaf && (s.r_logvar(g, k) > max_r_logvar || s.b_logvar(g, cls) > max_b_logvar))
          return 1;
        if (type == ArrayType::kAlleleSpecificR && (s.r_logvar(g, cls) > 0.0 || s.b_logvar(g, cls) > 0.0)) return 1;
      }
    }
  }
  // Order by copy number.
  for (int k = 0; k <= 1; ++k) {
    if (!s.cn(k)) continue;
    if (type == ArrayType::kLrrBaf && s.cn(k + 1)) {
      for (int g = 0; g <= G; ++g)
        if (s.r_mean(g, k) > s.r_mean(g, k + 1)) return 1;
    }
    if (type == ArrayType::kAlleleSpecificR) {
      for (int l = 0; l <= k; ++l) {
        if (!s.allele(s.c(k, l)) || !s.allele(s.c(k + 1, l))) continue;
        for (int g = 0; g <= G; ++g)
          if (s.r_mean(g, s.c(k, l)) > s.r_mean(g, s.c(k + 1, l))) return 1;
      }
    }
  }
  // Order by B alleles, every array type.
  for (int k = 0; k <= 2; ++k) {
    if (!s.cn(k)) continue;
    for (int l = 0; l < k; ++l) {
      if (!s.allele(s.c(k, l)) || !s.allele(s.c(k, l + 1))) continue;
      for (int g = 0; g <= G; ++g)
        if (s.b_mean(g, s.c(k, l)) > s.b_mean(g, s.c(k, l + 1))) return 1;
    }
  }
  // Separation of one and two copies.
  for (int g = 0; g <= G; ++g) {
    if (type == ArrayType::kLrrBaf && s.cn(1) && s.cn(2) && s.overlap(g, 1, 2)) return 1;
    if (type == ArrayType::kAlleleSpecificR) {
      if (s.allele(s.c(1, 0)) && s.allele(s.c(2, 0)) && s.overlap(g, s.c(1, 0), s.c(2, 0))) return 1;
      if (s.allele(s.c(1, 1)) && s.allele(s.c(2, 2)) && s.overlap(g, s.c(1, 1), s.c(2, 2))) return 1;
    }
  }
  return 0;
}
