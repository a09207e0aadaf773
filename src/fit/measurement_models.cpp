#include "fit/measurement_models.h"

#include <cmath>
#include <vector>

Cluster cluster_of(const double* theta, const AlleleClass& cls, int y) {
  Cluster cl;
  cl.mu_r = theta[cls.r_mean[y]];
  cl.s2_r = std::exp(theta[cls.r_logvar[y]]);
  cl.mu_b = theta[cls.b_mean[y]];
  cl.s2_b = std::exp(theta[cls.b_logvar[y]]);
  return cl;
}

BFactor b_factor(double b, const AlleleClass& cls, const Cluster& cl, ArrayType array_type) {
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
                            const std::vector<int>& subjects, const DATA& data, ArrayType array_type) {
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

void add_intensity_terms(double* U, Information E, const AlleleClass& cls, const Cluster& cl,
                         int y, double x, double b, ArrayType array_type, double rho) {
  add_normal_terms(U, E, cls.r_mean[y], cls.r_logvar[y], rho, x - cl.mu_r, cl.s2_r);
  if (!b_kernel_applies(b, cls, array_type)) return;
  if (array_type == ArrayType::kLrrBaf && cls.homozygous)
    add_logvar_terms(U, E, cls.b_logvar[y], rho, b - cl.mu_b, cl.s2_b);
  else
    add_normal_terms(U, E, cls.b_mean[y], cls.b_logvar[y], rho, b - cl.mu_b, cl.s2_b);
}

void add_intensity_score(SparseScore& s, const AlleleClass& cls, const Cluster& cl, int y,
                         double x, double b, ArrayType array_type) {
  const double er = x - cl.mu_r;
  s.add(cls.r_mean[y], er / cl.s2_r);
  s.add(cls.r_logvar[y], -0.5 * (1.0 - er * er / cl.s2_r));
  if (!b_kernel_applies(b, cls, array_type)) return;
  const double eb = b - cl.mu_b;
  if (!(array_type == ArrayType::kLrrBaf && cls.homozygous)) s.add(cls.b_mean[y], eb / cl.s2_b);
  s.add(cls.b_logvar[y], -0.5 * (1.0 - eb * eb / cl.s2_b));
}
