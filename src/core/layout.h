#pragma once
// Where each parameter of one probe's model sits in the parameter vector (0-based), by
// what it holds. The starting values write the layout into PARA; fits, checks and tests
// read it through these accessors instead of computing offsets by hand.
//
// Order: the disease-model coefficients; the class frequencies as log-ratios to the
// reference total class (SNP models without a sieve: then the logit of the B-allele
// frequency); the R means, then the R log-variances, of every measurement group and R
// class; the B means, then the B log-variances, of every measurement group and
// allele-specific class (SNP probes).

#include "core/para.h"

class ParamLayout {
 public:
  explicit ParamLayout(const PARA& para) : para_(para) {}

  // Measurement group of disease status y: 0, or y with differential measurement errors.
  int group(int y) const { return y * para_.differential_measurement_errors; }
  // Number of positions before the intensity parameters: disease-model coefficients and
  // class frequencies.
  int head() const { return para_.r_mean_start; }
  // Position of the disease-model coefficient u.
  int disease(int u) const { return u; }
  // Frequency log-ratio of total class k against the reference class (k != reference).
  int frequency(int k) const {
    return k < para_.ref_cn_class ? para_.freq_start + k : para_.freq_start + k - 1;
  }
  // Logit of the B-allele frequency (SNP models without a sieve), the last head position.
  int b_allele_logit() const { return para_.r_mean_start - 1; }

  // Whether R parameters belong to allele-specific classes ('A' arrays of a SNP probe)
  // rather than to total classes.
  bool r_by_allele_class() const {
    return para_.num_allele_classes > 0 && para_.array_type == ArrayType::kAlleleSpecificR;
  }
  // Number of R classes per measurement group.
  int r_classes() const {
    return r_by_allele_class() ? para_.num_allele_classes : para_.num_cn_classes;
  }
  // R class of allele-specific class (k, l): its total class k, or its own index.
  int r_class(int k, int l) const {
    return r_by_allele_class() ? para_.allele_class_index[k][l] : k;
  }
  // R mean of measurement group g and R class s.
  int r_mean(int g, int s) const { return para_.r_mean_start + r_classes() * g + s; }
  // R log-variance of measurement group g and R class s.
  int r_logvar(int g, int s) const { return para_.r_logvar_start + r_classes() * g + s; }
  // B mean of measurement group g and allele-specific class c.
  int b_mean(int g, int c) const { return para_.b_mean_start + para_.num_allele_classes * g + c; }
  // B log-variance of measurement group g and allele-specific class c.
  int b_logvar(int g, int c) const {
    return para_.b_logvar_start + para_.num_allele_classes * g + c;
  }

 private:
  const PARA& para_;
};
