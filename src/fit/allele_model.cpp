#include "fit/allele_model.h"

#include "fit/engine.h"

#include <cmath>

#include "fit/helpers.h"

double int_power(double x, int n) {
  double r = 1.0;
  for (int i = 0; i < n; ++i) r *= x;
  return r;
}

namespace {
// The one position of [from, to) where the indicator v holds 1.
int picked(const double* v, int from, int to) {
  for (int u = from; u < to; ++u)
    if (v[u] == 1.0) return u;
  return from;
}
}  // namespace

std::vector<AlleleClass> modelled_allele_classes(const PARA& para, double* scratch) {
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
      cls.slot = k == para.ref_cn_class ? -1 : frequency_slot(para, k);
      for (int y = 0; y < 2; ++y) {
        BCDEvec(scratch, y, k, l, nullptr, para);
        cls.r_mean[y] = picked(scratch, para.r_mean_start, para.r_logvar_start);
        cls.r_logvar[y] = picked(scratch, para.r_logvar_start, para.b_mean_start);
        cls.b_mean[y] = picked(scratch, para.b_mean_start, para.b_logvar_start);
        cls.b_logvar[y] = picked(scratch, para.b_logvar_start, para.num_params);
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
  const int ndc = para.num_disease_coefs;
  std::vector<double> design(n * C * static_cast<std::size_t>(ndc), 0.0);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t c = 0; c < C; ++c) {
      Avec(scratch, classes[c].k, classes[c].l,
           para.num_covariate_columns > 0 ? data.covariates[subjects[a]].data() : nullptr, para);
      for (int u = 0; u < ndc; ++u) design[(a * C + c) * ndc + u] = scratch[u];
    }
  return design;
}

double binomial_weight(int k, int l, double p_B, const PARA& para) {
  const int C = para.factorial[k] / para.factorial[l] / para.factorial[k - l];
  return C * int_power(p_B, l) * int_power(1.0 - p_B, k - l);
}

Cluster cluster_of(const double* theta, const AlleleClass& cls, int y) {
  Cluster cl;
  cl.mu_r = theta[cls.r_mean[y]];
  cl.s2_r = std::exp(theta[cls.r_logvar[y]]);
  cl.mu_b = theta[cls.b_mean[y]];
  cl.s2_b = std::exp(theta[cls.b_logvar[y]]);
  return cl;
}

BFactor b_factor(double b, const AlleleClass& cls, const Cluster& cl, char array_type) {
  BFactor f;
  if (b_kernel_applies(b, cls, array_type)) {
    f.value = normal_density(b, cl.mu_b, cl.s2_b);
    f.kernel = true;
    return f;
  }
  // A homozygous class with the B intensity at or beyond a bound: the point mass on its
  // own side, nothing on the other side or exactly at a bound.
  if ((b < kBLowerBound && cls.l == 0) || (b > kBUpperBound && cls.l == cls.k)) f.value = 0.5;
  return f;
}

void ClassDensities::update(const std::vector<Cluster> (&cluster)[2],
                            const std::vector<AlleleClass>& classes,
                            const std::vector<int>& subjects, const DATA& data, char array_type) {
  C = classes.size();
  f.resize(subjects.size() * C);
  for (std::size_t a = 0; a < subjects.size(); ++a) {
    const int i = subjects[a];
    const std::vector<Cluster>& clusters = cluster[data.disease_status[i]];
    for (std::size_t c = 0; c < C; ++c)
      f[a * C + c] = class_density(data.intensity_r[i], data.intensity_b[i], classes[c],
                                   clusters[c], array_type);
  }
}

void add_intensity_terms(double* U, const DMatrix& E, const AlleleClass& cls, const Cluster& cl,
                         int y, double x, double b, char array_type, double rho) {
  add_normal_terms(U, E, cls.r_mean[y], cls.r_logvar[y], rho, x - cl.mu_r, cl.s2_r);
  if (!b_kernel_applies(b, cls, array_type)) return;
  if (array_type == 'I' && cls.homozygous)
    add_logvar_terms(U, E, cls.b_logvar[y], rho, b - cl.mu_b, cl.s2_b);
  else
    add_normal_terms(U, E, cls.b_mean[y], cls.b_logvar[y], rho, b - cl.mu_b, cl.s2_b);
}

void add_intensity_score(SparseScore& s, const AlleleClass& cls, const Cluster& cl, int y,
                         double x, double b, char array_type) {
  const double er = x - cl.mu_r;
  s.add(cls.r_mean[y], er / cl.s2_r);
  s.add(cls.r_logvar[y], -0.5 * (1.0 - er * er / cl.s2_r));
  if (!b_kernel_applies(b, cls, array_type)) return;
  const double eb = b - cl.mu_b;
  if (!(array_type == 'I' && cls.homozygous)) s.add(cls.b_mean[y], eb / cl.s2_b);
  s.add(cls.b_logvar[y], -0.5 * (1.0 - eb * eb / cl.s2_b));
}

void NormaliserTerms::add(double* U, const DMatrix& E, double n, double prob, const double* t,
                          int k) {
  const double w = n * prob;
  for (int u = 0; u < head_; ++u) {
    if (t[u] == 0.0) continue;
    U[u] -= w * t[u];
    mean_[u] += prob * t[u];
    for (int v = u; v < head_; ++v) E[u + 1][v + 1] += w * t[u] * t[v];
  }
  mean_k_ += prob * k;
}

void NormaliserTerms::end(const DMatrix& E, double n, int gamma, double p_B) const {
  for (int u = 0; u < head_; ++u)
    for (int v = u; v < head_; ++v) E[u + 1][v + 1] -= n * mean_[u] * mean_[v];
  E[gamma + 1][gamma + 1] -= n * p_B * (1.0 - p_B) * mean_k_;
}

Outcome finish_retro_allele(FitResult& result, const DMatrix& E, const DMatrix& V,
                            const PARA& para, FitReport* report) {
  const Outcome finished = finish_retrospective(result, E, V, para, report);
  if (finished != Outcome::kOk) return finished;
  const int gamma = para.r_mean_start - 1;
  const double p_B = 1.0 / (1.0 + std::exp(-result.estimates[gamma]));
  result.std_errors[gamma] *= p_B * (1.0 - p_B);
  result.estimates[gamma] = p_B;
  return Outcome::kOk;
}
