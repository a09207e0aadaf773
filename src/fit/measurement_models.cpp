#include "fit/measurement_models.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "numeric/vector_exp.h"

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

SubjectColumns::SubjectColumns(const DATA& data, const std::vector<int>& subjects) {
  const std::size_t n = subjects.size();
  x.resize(n);
  b.resize(n);
  status.resize(n);
  case_.resize(n);
  const bool has_b = !data.intensity_b.empty();
  for (std::size_t a = 0; a < n; ++a) {
    const int i = subjects[a];
    x[a] = data.intensity_r[i];
    b[a] = has_b ? data.intensity_b[i] : 0.0;
    status[a] = data.disease_status[i];
    case_[a] = status[a] == 1 ? 1.0 : 0.0;
  }
}

// The loops of divisions below run four doubles at a time where the processor has AVX2
// (a clone chosen when the program loads; without FMA, so every value is the same double
// as on the two-at-a-time baseline).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUILLMARK_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUILLMARK_AVX2_CLONES
#endif

QUILLMARK_AVX2_CLONES
void kernel_exponents(double* out, const double* v, const double* case_, int n,
                      const KernelByStatus& kernel) {
  // Each parameter selected on its own before it is used, which the compiler turns into
  // vector blends (a branch would follow the statuses' unpredictable order).
  for (int a = 0; a < n; ++a) {
    const double mu = case_[a] != 0.0 ? kernel.mu[1] : kernel.mu[0];
    const double two_s2 = case_[a] != 0.0 ? kernel.two_s2[1] : kernel.two_s2[0];
    const double e = v[a] - mu;
    out[a] = -e * e / two_s2;
  }
}

namespace {

// out[a] /= sd of the subject's status.
QUILLMARK_AVX2_CLONES
void divide_by_sd(double* out, const double* case_, int n, const KernelByStatus& kernel) {
  for (int a = 0; a < n; ++a) {
    const double sd = case_[a] != 0.0 ? kernel.sd[1] : kernel.sd[0];
    out[a] /= sd;
  }
}

}  // namespace

void exp_in_place(double* out, int n) {
  const ExpRoute route = density_exp_route();
  if (route == ExpRoute::kScalar)
    exp_array_scalar(out, n);
  else
    exp_array(out, n, route);
}

namespace {

// Subjects per block of the density loops: every pass over a block stays in the cache.
constexpr int kBlock = 256;

}  // namespace

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
  for (int a0 = 0; a0 < n; a0 += kBlock) {
    const int m = std::min(kBlock, n - a0);
    const double* case_ = columns.case_.data() + a0;
    for (std::size_t c = 0; c < classes.size(); ++c) {
      const int k = classes[c];
      KernelByStatus kernel;
      for (int y = 0; y < 2; ++y) {
        kernel.mu[y] = mu[y][k];
        kernel.two_s2[y] = 2.0 * s2[y][k];
      }
      double* out = &phi[c * static_cast<std::size_t>(n) + a0];
      kernel_exponents(out, columns.x.data() + a0, case_, m, kernel);
      exp_in_place(out, m);
      const double f0 = inv_sd[0][k];
      const double f1 = inv_sd[1][k];
      for (int a = 0; a < m; ++a) {
        const double f = case_[a] != 0.0 ? f1 : f0;
        out[a] *= f;
      }
    }
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
  r_kernel_.assign(r_first_.size(), KernelByStatus{});
  b_kernel_.assign(C, KernelByStatus{});
  r_.assign(r_first_.size() * kBlock, 0.0);
  f_.assign(C * n, 0.0);
  scratch_.assign(kBlock, 0.0);
}

void ClassDensities::update(const std::vector<Cluster> (&cluster)[2],
                            const std::vector<AlleleClass>& classes,
                            const SubjectColumns& columns, ArrayType array_type) {
  const int n = n_;
  const std::size_t stride = static_cast<std::size_t>(n);
  // The R kernels, one per group of classes sharing their R parameters, and the B kernels.
  for (std::size_t g = 0; g < r_first_.size(); ++g) {
    const std::size_t first = static_cast<std::size_t>(r_first_[g]);
    for (int y = 0; y < 2; ++y) {
      r_kernel_[g].mu[y] = cluster[y][first].mu_r;
      r_kernel_[g].two_s2[y] = 2.0 * cluster[y][first].s2_r;
      r_kernel_[g].sd[y] = std::sqrt(cluster[y][first].s2_r);
    }
  }
  for (std::size_t c = 0; c < classes.size(); ++c)
    for (int y = 0; y < 2; ++y) {
      b_kernel_[c].mu[y] = cluster[y][c].mu_b;
      b_kernel_[c].two_s2[y] = 2.0 * cluster[y][c].s2_b;
      b_kernel_[c].sd[y] = std::sqrt(cluster[y][c].s2_b);
    }
  for (int a0 = 0; a0 < n; a0 += kBlock) {
    const int m = std::min(kBlock, n - a0);
    const int* status = columns.status.data() + a0;
    const double* case_ = columns.case_.data() + a0;
    const double* b = columns.b.data() + a0;
    for (std::size_t g = 0; g < r_first_.size(); ++g) {
      const KernelByStatus& kernel = r_kernel_[g];
      double* out = &r_[g * kBlock];
      kernel_exponents(out, columns.x.data() + a0, case_, m, kernel);
      exp_in_place(out, m);
      divide_by_sd(out, case_, m, kernel);
    }
    // The B factors, times the R kernel of the class.
    for (std::size_t c = 0; c < classes.size(); ++c) {
      const AlleleClass& cls = classes[c];
      const KernelByStatus& kernel = b_kernel_[c];
      double* B = scratch_.data();
      kernel_exponents(B, b, case_, m, kernel);
      if (array_type == ArrayType::kLrrBaf && cls.homozygous) {
        // Beyond the bounds: the point mass on the class's own side, else nothing; the
        // kernel only strictly inside. A vector exp over the whole block costs less than
        // picking out the subjects inside; the C library's exp is taken only where used.
        const bool whole_block = density_exp_route() != ExpRoute::kScalar;
        if (whole_block) exp_in_place(B, m);
        const double below = cls.l == 0 ? 0.5 : 0.0;
        const double above = cls.l == cls.k ? 0.5 : 0.0;
        for (int a = 0; a < m; ++a) {
          if (kBLowerBound < b[a] && b[a] < kBUpperBound)
            B[a] = (whole_block ? B[a] : std::exp(B[a])) / kernel.sd[status[a]];
          else
            B[a] = b[a] < kBLowerBound ? below : (b[a] > kBUpperBound ? above : 0.0);
        }
      } else {
        exp_in_place(B, m);
        divide_by_sd(B, case_, m, kernel);
      }
      const double* R = &r_[static_cast<std::size_t>(r_group_[c]) * kBlock];
      double* out = &f_[c * stride + a0];
      for (int a = 0; a < m; ++a) out[a] = R[a] * B[a];
    }
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
  const int n = columns_.size();
  const StatusPositions r_positions = status_positions(cls.r_mean, cls.r_logvar);
  const StatusPositions b_positions = status_positions(cls.b_mean, cls.b_logvar);
  if (r_positions == StatusPositions::kMixed || b_positions == StatusPositions::kMixed) {
    for (int a = 0; a < n; ++a)
      if (!(rho[a] < floor)) add_terms(U, E, a, c, rho[a]);
    return;
  }
  // R and B in one pass over the subjects: one test of the floor per subject.
  const int r_sums[2] = {0, r_positions == StatusPositions::kApart ? 1 : 0};
  const int b_sums[2] = {0, b_positions == StatusPositions::kApart ? 1 : 0};
  NormalTermSums R[2];
  NormalTermSums B[2];
  for (int y = 0; y < 2; ++y) {
    R[r_sums[y]].load(U, E, cls.r_mean[y], cls.r_logvar[y]);
    B[b_sums[y]].load(U, E, cls.b_mean[y], cls.b_logvar[y]);
  }
  const double mu_r[2] = {cluster_[0][c].mu_r, cluster_[1][c].mu_r};
  const double s2_r[2] = {cluster_[0][c].s2_r, cluster_[1][c].s2_r};
  const double mu_b[2] = {cluster_[0][c].mu_b, cluster_[1][c].mu_b};
  const double s2_b[2] = {cluster_[0][c].s2_b, cluster_[1][c].s2_b};
  const double* x = columns_.x.data();
  const double* b = columns_.b.data();
  const int* status = columns_.status.data();
  const ArrayType array_type = para_.array_type;
  const bool mean_fixed = array_type == ArrayType::kLrrBaf && cls.homozygous;
  for (int a = 0; a < n; ++a) {
    const double w = rho[a];
    if (w < floor) continue;
    const int y = status[a];
    R[r_sums[y]].add(w, x[a] - mu_r[y], s2_r[y]);
    if (!b_kernel_applies(b[a], cls, array_type)) continue;
    if (mean_fixed)
      B[b_sums[y]].add_logvar(w, b[a] - mu_b[y], s2_b[y]);
    else
      B[b_sums[y]].add(w, b[a] - mu_b[y], s2_b[y]);
  }
  for (int g = 0; g <= r_sums[1]; ++g) R[g].store(U, E);
  for (int g = 0; g <= b_sums[1]; ++g) B[g].store(U, E);
}

void AlleleClassMeasurement::begin_terms(const double* U, Information E) {
  if (sums_.empty()) {
    // One sum per distinct (mean, log-variance) pair: classes and statuses that share
    // positions share their sum, so every entry takes its additions in order.
    std::vector<std::pair<int, int>> pairs;
    const auto index_of = [&pairs](int mean, int logvar) {
      for (std::size_t p = 0; p < pairs.size(); ++p)
        if (pairs[p].first == mean && pairs[p].second == logvar) return static_cast<int>(p);
      pairs.emplace_back(mean, logvar);
      return static_cast<int>(pairs.size()) - 1;
    };
    for (const AlleleClass& cls : classes_)
      for (int y = 0; y < 2; ++y) {
        r_sums_.push_back(index_of(cls.r_mean[y], cls.r_logvar[y]));
        b_sums_.push_back(index_of(cls.b_mean[y], cls.b_logvar[y]));
      }
    for (std::size_t p = 0; p < pairs.size(); ++p)
      for (std::size_t o = 0; o < p; ++o)
        direct_ = direct_ || pairs[o].first == pairs[p].first ||
                  pairs[o].second == pairs[p].second || pairs[o].first == pairs[p].second ||
                  pairs[o].second == pairs[p].first;
    sums_.resize(pairs.size());
    for (std::size_t p = 0; p < pairs.size(); ++p) {
      sums_[p].m = pairs[p].first;
      sums_[p].q = pairs[p].second;
    }
  }
  if (direct_) return;
  for (NormalTermSums& sums : sums_) sums.load(U, E, sums.m, sums.q);
}
