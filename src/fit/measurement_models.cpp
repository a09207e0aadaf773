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

SubjectColumns::SubjectColumns(const DATA& data, const std::vector<int>& subjects) {
  const std::size_t n = subjects.size();
  x.resize(n);
  b.resize(n);
  case_.resize(n);
  status.resize(n);
  const bool has_b = !data.intensity_b.empty();
  for (std::size_t a = 0; a < n; ++a) {
    const int i = subjects[a];
    x[a] = data.intensity_r[i];
    b[a] = has_b ? data.intensity_b[i] : 0.0;
    status[a] = data.disease_status[i];
    case_[a] = status[a] == 1 ? 1.0 : 0.0;
  }
}

void kernel_exponents(double* out, const double* v, const double* case_, int n,
                      const KernelByStatus& kernel) {
  const double mu0 = kernel.mu[0];
  const double mu1 = kernel.mu[1];
  const double t0 = kernel.two_s2[0];
  const double t1 = kernel.two_s2[1];
  for (int a = 0; a < n; ++a) {
    const bool is_case = case_[a] != 0.0;
    const double e = v[a] - (is_case ? mu1 : mu0);
    out[a] = -e * e / (is_case ? t1 : t0);
  }
}

void exp_in_place(double* out, int n) {
  for (int a = 0; a < n; ++a) out[a] = std::exp(out[a]);
}

void IntensityTables::update(const double* theta, const PARA& para, const SubjectColumns& columns,
                             const std::vector<int>& classes) {
  double inv_sd[2][3];
  for (int y = 0; y < 2; ++y)
    for (int k = 0; k < 3; ++k) {
      slot[y][k] = r_slot(para, y, k);
      mu[y][k] = theta[slot[y][k].mean];
      s2[y][k] = std::exp(theta[slot[y][k].logvar]);
      inv_sd[y][k] = 1.0 / std::sqrt(s2[y][k]);
    }
  n = columns.size();
  phi.resize(static_cast<std::size_t>(n) * classes.size());
  const double* case_ = columns.case_.data();
  for (std::size_t c = 0; c < classes.size(); ++c) {
    const int k = classes[c];
    KernelByStatus kernel;
    for (int y = 0; y < 2; ++y) {
      kernel.mu[y] = mu[y][k];
      kernel.two_s2[y] = 2.0 * s2[y][k];
    }
    double* out = &phi[c * static_cast<std::size_t>(n)];
    kernel_exponents(out, columns.x.data(), case_, n, kernel);
    exp_in_place(out, n);
    const double f0 = inv_sd[0][k];
    const double f1 = inv_sd[1][k];
    for (int a = 0; a < n; ++a) out[a] *= case_[a] != 0.0 ? f1 : f0;
  }
}

ClassDensities::ClassDensities(const std::vector<AlleleClass>& classes,
                               const SubjectColumns& columns)
    : n_(columns.size()) {
  const std::size_t C = classes.size();
  const std::size_t n = static_cast<std::size_t>(n_);
  for (std::size_t c = 0; c < C; ++c) {
    int group = -1;
    for (std::size_t g = 0; g < r_first_.size(); ++g) {
      const AlleleClass& first = classes[static_cast<std::size_t>(r_first_[g])];
      bool same = true;
      for (int y = 0; y < 2; ++y)
        same = same && first.r_mean[y] == classes[c].r_mean[y] &&
               first.r_logvar[y] == classes[c].r_logvar[y];
      if (same) group = static_cast<int>(g);
    }
    if (group < 0) {
      group = static_cast<int>(r_first_.size());
      r_first_.push_back(static_cast<int>(c));
    }
    r_group_.push_back(group);
  }
  r_.assign(r_first_.size() * n, 0.0);
  f_.assign(C * n, 0.0);
  scratch_.assign(n, 0.0);
}

void ClassDensities::update(const std::vector<Cluster> (&cluster)[2],
                            const std::vector<AlleleClass>& classes,
                            const SubjectColumns& columns, char array_type) {
  const int n = n_;
  const std::size_t stride = static_cast<std::size_t>(n);
  const double* case_ = columns.case_.data();
  const double* b = columns.b.data();
  // The R kernels, one per group of classes sharing their R parameters.
  for (std::size_t g = 0; g < r_first_.size(); ++g) {
    const std::size_t first = static_cast<std::size_t>(r_first_[g]);
    KernelByStatus kernel;
    for (int y = 0; y < 2; ++y) {
      kernel.mu[y] = cluster[y][first].mu_r;
      kernel.two_s2[y] = 2.0 * cluster[y][first].s2_r;
      kernel.sd[y] = std::sqrt(cluster[y][first].s2_r);
    }
    double* out = &r_[g * stride];
    kernel_exponents(out, columns.x.data(), case_, n, kernel);
    exp_in_place(out, n);
    for (int a = 0; a < n; ++a) out[a] /= case_[a] != 0.0 ? kernel.sd[1] : kernel.sd[0];
  }
  // The B factors, times the R kernel of the class.
  for (std::size_t c = 0; c < classes.size(); ++c) {
    const AlleleClass& cls = classes[c];
    KernelByStatus kernel;
    for (int y = 0; y < 2; ++y) {
      kernel.mu[y] = cluster[y][c].mu_b;
      kernel.two_s2[y] = 2.0 * cluster[y][c].s2_b;
      kernel.sd[y] = std::sqrt(cluster[y][c].s2_b);
    }
    double* B = scratch_.data();
    kernel_exponents(B, b, case_, n, kernel);
    if (array_type == 'I' && cls.homozygous) {
      // Beyond the bounds: the point mass on the class's own side, else nothing; the
      // kernel only strictly inside.
      const double below = cls.l == 0 ? 0.5 : 0.0;
      const double above = cls.l == cls.k ? 0.5 : 0.0;
      for (int a = 0; a < n; ++a) {
        if (kBLowerBound < b[a] && b[a] < kBUpperBound)
          B[a] = std::exp(B[a]) / (case_[a] != 0.0 ? kernel.sd[1] : kernel.sd[0]);
        else
          B[a] = b[a] < kBLowerBound ? below : (b[a] > kBUpperBound ? above : 0.0);
      }
    } else {
      exp_in_place(B, n);
      for (int a = 0; a < n; ++a) B[a] /= case_[a] != 0.0 ? kernel.sd[1] : kernel.sd[0];
    }
    const double* R = &r_[static_cast<std::size_t>(r_group_[c]) * stride];
    double* out = &f_[c * stride];
    for (int a = 0; a < n; ++a) out[a] = R[a] * B[a];
  }
}

void add_intensity_terms(double* U, Information E, const AlleleClass& cls, const Cluster& cl,
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

namespace {

// Whether two statuses' positions coincide (one measurement group), are apart (one group
// per status), or neither, which the layout never gives and which is summed subject by
// subject.
enum class StatusPositions { kShared, kApart, kMixed };

StatusPositions status_positions(const int (&mean)[2], const int (&logvar)[2]) {
  if (mean[0] == mean[1] && logvar[0] == logvar[1]) return StatusPositions::kShared;
  if (mean[0] != mean[1] && logvar[0] != logvar[1] && mean[0] != logvar[1] &&
      mean[1] != logvar[0])
    return StatusPositions::kApart;
  return StatusPositions::kMixed;
}

// Sums add(sums, a, y, rho[a]) over the subjects a in order whose rho is at least the
// floor, into the sums of the positions of their status.
template <typename Add>
void sum_over_subjects(double* U, Information E, const int (&mean)[2], const int (&logvar)[2],
                       const SubjectColumns& columns, const double* rho, double floor,
                       Add add) {
  const int n = columns.size();
  const int* status = columns.status.data();
  NormalTermSums sums[2];
  switch (status_positions(mean, logvar)) {
    case StatusPositions::kShared:
      sums[0].load(U, E, mean[0], logvar[0]);
      for (int a = 0; a < n; ++a)
        if (!(rho[a] < floor)) add(sums[0], a, status[a], rho[a]);
      sums[0].store(U, E);
      return;
    case StatusPositions::kApart:
      for (int y = 0; y < 2; ++y) sums[y].load(U, E, mean[y], logvar[y]);
      for (int a = 0; a < n; ++a)
        if (!(rho[a] < floor)) add(sums[status[a]], a, status[a], rho[a]);
      for (int y = 0; y < 2; ++y) sums[y].store(U, E);
      return;
    case StatusPositions::kMixed:
      break;
  }
  for (int a = 0; a < n; ++a) {
    if (rho[a] < floor) continue;
    const int y = status[a];
    sums[0].load(U, E, mean[y], logvar[y]);
    add(sums[0], a, y, rho[a]);
    sums[0].store(U, E);
  }
}

}  // namespace

void TotalClassMeasurement::add_class_terms(double* U, Information E, int c,
                                            const double* rho, double floor) const {
  const int k = classes_[c];
  const int mean[2] = {R_.slot[0][k].mean, R_.slot[1][k].mean};
  const int logvar[2] = {R_.slot[0][k].logvar, R_.slot[1][k].logvar};
  const double* x = columns_.x.data();
  sum_over_subjects(U, E, mean, logvar, columns_, rho, floor,
                    [&](NormalTermSums& sums, int a, int y, double w) {
                      sums.add(w, x[a] - R_.mu[y][k], R_.s2[y][k]);
                    });
}

void AlleleClassMeasurement::add_class_terms(double* U, Information E, int c,
                                             const double* rho, double floor) const {
  const AlleleClass& cls = classes_[c];
  const Cluster* cl[2] = {&cluster_[0][c], &cluster_[1][c]};
  const double* x = columns_.x.data();
  const double* b = columns_.b.data();
  sum_over_subjects(U, E, cls.r_mean, cls.r_logvar, columns_, rho, floor,
                    [&](NormalTermSums& sums, int a, int y, double w) {
                      sums.add(w, x[a] - cl[y]->mu_r, cl[y]->s2_r);
                    });
  const char array_type = para_.array_type;
  const bool mean_fixed = array_type == 'I' && cls.homozygous;
  sum_over_subjects(U, E, cls.b_mean, cls.b_logvar, columns_, rho, floor,
                    [&](NormalTermSums& sums, int a, int y, double w) {
                      if (!b_kernel_applies(b[a], cls, array_type)) return;
                      if (mean_fixed)
                        sums.add_logvar(w, b[a] - cl[y]->mu_b, cl[y]->s2_b);
                      else
                        sums.add(w, b[a] - cl[y]->mu_b, cl[y]->s2_b);
                    });
}
