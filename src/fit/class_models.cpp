#include "fit/class_models.h"

#include "core/layout.h"

#include <cmath>
#include <vector>

void disease_design(double* a, int k, int l, const double* z, const PARA& para) {
  const RunDesign& design = para.design();
  const int J = design.num_covariate_columns;
  const double dk = k;
  const double dl = k - 2 * l;  // the effect named L: B alleles counted against A alleles
  int u = 0;
  if (in_model(design.genetic_effects(0, 0))) a[u++] = dk;
  if (in_model(design.genetic_effects(1, 1))) a[u++] = dl;
  for (int j = 0; j < J; ++j) {
    if (in_model(design.gene_covariate_effects(j, 0))) a[u++] = dk * z[j];
    if (in_model(design.gene_covariate_effects(j, 1))) a[u++] = dl * z[j];
  }
  for (int j = 0; j < J; ++j) {
    if (in_model(design.covariate_effects(j, j))) a[u++] = z[j];
    for (int jj = j + 1; jj < J; ++jj)
      if (in_model(design.covariate_effects(j, jj))) a[u++] = z[j] * z[jj];
  }
  if (J > 0) a[u++] = 1.0;
}

void measurement_indicator(double* v, int y, int k, int l, const double* /*z*/, const PARA& para) {
  const ParamLayout layout(para);
  for (int u = layout.head(); u < para.num_params; ++u) v[u] = 0.0;
  const int g = layout.group(y);
  const bool allele_specific = para.num_allele_classes > 0 && para.array_type != ArrayType::kTotalOnly;
  const int s = allele_specific ? layout.r_class(k, l) : k;
  v[layout.r_mean(g, s)] = 1.0;
  v[layout.r_logvar(g, s)] = 1.0;
  if (!allele_specific) return;
  const int c = para.allele_class_index[k][l];
  v[layout.b_mean(g, c)] = 1.0;
  v[layout.b_logvar(g, c)] = 1.0;
}

std::vector<int> present_cn_classes(const PARA& para) {
  std::vector<int> classes;
  for (int k = 0; k < para.num_cn_classes; ++k)
    if (para.cn_class_present[k] != 0) classes.push_back(k);
  return classes;
}

bool reference_cn_class_missing(const PARA& para) {
  return !present_cn_classes(para).empty() && para.cn_class_present[para.ref_cn_class] == 0;
}

bool included_subjects(const DATA& data, std::vector<int>& subjects) {
  subjects.clear();
  for (int i = 0; i < data.num_subjects; ++i) {
    if (data.excluded[i] == 1) continue;
    if (data.disease_status[i] != 0 && data.disease_status[i] != 1) return false;
    subjects.push_back(i);
  }
  return true;
}

Outcome select_fit_subjects(const DATA& data, std::vector<int>& subjects) {
  if (!included_subjects(data, subjects)) return Outcome::kStartInvalidInput;
  return subjects.empty() ? Outcome::kNoUsableSubject : Outcome::kOk;
}

std::vector<double> cn_design_table(const DATA& data, const PARA& para,
                                    const std::vector<int>& subjects,
                                    const std::vector<int>& classes) {
  const int D = para.design().num_disease_coefs;
  std::vector<double> a(static_cast<std::size_t>(data.num_subjects) * 3 * D);
  for (const int i : subjects)
    for (const int k : classes)
      disease_design(&a[(static_cast<std::size_t>(i) * 3 + k) * D], k, 0, data.covariates.row(i), para);
  return a;
}

double int_power(double x, int n) {
  double r = 1.0;
  for (int i = 0; i < n; ++i) r *= x;
  return r;
}

std::vector<AlleleClass> modelled_allele_classes(const PARA& para) {
  const ParamLayout layout(para);
  std::vector<AlleleClass> classes;
  for (int k = 0; k < para.num_cn_classes; ++k) {
    if (para.cn_class_present[k] != 1) continue;
    for (int l = 0; l <= k; ++l) {
      const int c = para.allele_class_index[k][l];
      if (para.allele_class_present[c] != 1) continue;
      AlleleClass cls;
      cls.k = k;
      cls.l = l;
      cls.c = c;
      cls.homozygous = k > 0 && (l == 0 || l == k);
      cls.slot = k == para.ref_cn_class ? -1 : layout.frequency(k);
      for (int y = 0; y < 2; ++y) {
        const int g = layout.group(y);
        cls.r_mean[y] = layout.r_mean(g, layout.r_class(k, l));
        cls.r_logvar[y] = layout.r_logvar(g, layout.r_class(k, l));
        cls.b_mean[y] = layout.b_mean(g, c);
        cls.b_logvar[y] = layout.b_logvar(g, c);
      }
      classes.push_back(cls);
    }
  }
  return classes;
}

std::vector<double> allele_design_table(const DATA& data, const PARA& para,
                                        const std::vector<int>& subjects,
                                        const std::vector<AlleleClass>& classes, double* scratch) {
  const std::size_t n = subjects.size();
  const std::size_t C = classes.size();
  const int ndc = para.design().num_disease_coefs;
  std::vector<double> design(n * C * static_cast<std::size_t>(ndc), 0.0);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t c = 0; c < C; ++c) {
      disease_design(scratch, classes[c].k, classes[c].l,
           para.design().num_covariate_columns > 0 ? data.covariates.row(subjects[a]) : nullptr, para);
      for (int u = 0; u < ndc; ++u) design[(a * C + c) * ndc + u] = scratch[u];
    }
  return design;
}

double binomial_weight(int k, int l, double p_B, const PARA& para) {
  const int C = para.factorial[k] / para.factorial[l] / para.factorial[k - l];
  return C * int_power(p_B, l) * int_power(1.0 - p_B, k - l);
}

void back_transform_frequencies(double* params, double* std_errors, const Matrix& V,
                                const int* slots, int num_slots) {
  if (num_slots <= 0) return;
  double c = 1.0;
  std::vector<double> p(static_cast<std::size_t>(num_slots));
  for (int a = 0; a < num_slots; ++a) {
    p[a] = std::exp(params[slots[a]]);
    c += p[a];
  }
  for (int a = 0; a < num_slots; ++a) p[a] /= c;
  // Delta method: d p_a / d alpha_b = p_a (delta_ab - p_b).
  for (int a = 0; a < num_slots; ++a) {
    double var = 0.0;
    for (int b = 0; b < num_slots; ++b) {
      const double Tab = p[a] * ((a == b ? 1.0 : 0.0) - p[b]);
      for (int d = 0; d < num_slots; ++d) {
        const double Tad = p[a] * ((a == d ? 1.0 : 0.0) - p[d]);
        var += Tab * V(slots[b], slots[d]) * Tad;
      }
    }
    std_errors[slots[a]] = std::sqrt(var);
  }
  for (int a = 0; a < num_slots; ++a) params[slots[a]] = p[a];
}
