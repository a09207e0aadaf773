#pragma once
// The measurement models of the fits: the R intensity normal given the total class (CN
// probes), and the R and B intensities given the allele-specific class (SNP probes). A
// class (k, l) has k copies of which l are B alleles. The R intensity is normal given k
// (array type 'I') or (k, l) ('A'); the B intensity is normal given (k, l), except that on
// 'I' arrays a homozygous class whose B intensity lies beyond the bound on its own side
// scores the point mass 0.5 in place of the kernel, and beyond the bound on the other side
// scores 0. The B means of homozygous classes are fixed on 'I' arrays, so their score
// entry is cleared. Each model gives its densities, kept per subject and class for the
// log-likelihood and the next E-step, its score and complete-data information, and its
// complete-data score for Louis's correction.

#include <array>
#include <cmath>
#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "fit/class_models.h"
#include "fit/information.h"
#include "fit/louis.h"

// Normal density without its constant 1/sqrt(2 pi): the log-likelihoods reported lack
// -(number of subjects) * log sqrt(2 pi).
inline double normal_density(double x, double mu, double s2) {
  const double e = x - mu;
  return std::exp(-e * e / (2.0 * s2)) / std::sqrt(s2);
}

// Score and complete-data information of N(mu, exp(lambda)) at one observation with
// residual e and variance s2, weighted by rho: mean at position m, log-variance at q.
inline void add_normal_terms(double* U, Information E, int m, int q, double rho, double e,
                             double s2) {
  U[m] += rho * e / s2;
  U[q] += -0.5 * rho * (1.0 - e * e / s2);
  E(m, m) += rho / s2;
  if (m < q)
    E(m, q) += rho * e / s2;
  else
    E(q, m) += rho * e / s2;
  E(q, q) += 0.5 * rho * e * e / s2;
}

// The log-variance terms alone, for an intensity whose mean is held fixed.
inline void add_logvar_terms(double* U, Information E, int q, double rho, double e, double s2) {
  U[q] += -0.5 * rho * (1.0 - e * e / s2);
  E(q, q) += 0.5 * rho * e * e / s2;
}

// The included subjects' intensities and statuses gathered once per fit into arrays in
// subject order (position a), so that the density loops run over contiguous memory.
struct SubjectColumns {
  std::vector<double> x;     // R intensity
  std::vector<double> b;     // B intensity
  std::vector<int> status;  // disease status 0 or 1
  std::vector<double> case_;  // 1.0 for a case, 0.0 for a control, for vectorised selects

  SubjectColumns(const DATA& data, const std::vector<int>& subjects);
  int size() const { return static_cast<int>(x.size()); }
};

// The normal kernel of one intensity for both statuses: mean, twice the variance and the
// square root of the variance of controls ([0]) and cases ([1]).
struct KernelByStatus {
  double mu[2] = {0.0, 0.0};
  double two_s2[2] = {2.0, 2.0};
  double sd[2] = {1.0, 1.0};
};

// The exponents -e^2 / (2 sigma2) of a kernel at every subject into out[0 .. n-1].
void kernel_exponents(double* out, const double* v, const double* case_, int n,
                      const KernelByStatus& kernel);

// out[a] = exp(out[a]) for a = 0 .. n-1 by the density loops' route: the C library's exp,
// or the vector exp where the build has it (numeric/vector_exp.h).
void exp_in_place(double* out, int n);

// The sums of add_normal_terms (or add_logvar_terms) of one intensity at one pair of
// positions, taken subject after subject in locals between loading the entries from U and
// E and storing them back: the same additions in the same order as adding to U and E
// directly, so the same doubles.
struct NormalTermSums {
  int m = 0;  // position of the mean
  int q = 0;  // position of the log-variance
  double Um = 0.0, Uq = 0.0, Emm = 0.0, Emq = 0.0, Eqq = 0.0;

  void load(const double* U, Information E, int mean, int logvar) {
    m = mean;
    q = logvar;
    Um = U[m];
    Uq = U[q];
    Emm = E(m, m);
    Emq = m < q ? E(m, q) : E(q, m);
    Eqq = E(q, q);
  }
  void store(double* U, Information E) const {
    U[m] = Um;
    U[q] = Uq;
    E(m, m) = Emm;
    (m < q ? E(m, q) : E(q, m)) = Emq;
    E(q, q) = Eqq;
  }
  // add_normal_terms of one subject.
  void add(double rho, double e, double s2) {
    Um += rho * e / s2;
    Uq += -0.5 * rho * (1.0 - e * e / s2);
    Emm += rho / s2;
    Emq += rho * e / s2;
    Eqq += 0.5 * rho * e * e / s2;
  }
  // add_logvar_terms of one subject.
  void add_logvar(double rho, double e, double s2) {
    Uq += -0.5 * rho * (1.0 - e * e / s2);
    Eqq += 0.5 * rho * e * e / s2;
  }
};

// The model tables of the intensities at the current theta: the R mean and variance of
// every status y and total class k (with one measurement group the two status rows are
// equal), and the density phi(R_a; mu, sigma2) of every included subject (position a) and
// present class (position c), kept by class so that the log-likelihood and the next
// E-step share one evaluation and the loops over subjects run over contiguous memory.
struct IntensityTables {
  double mu[2][3] = {};
  double s2[2][3] = {};
  RSlot slot[2][3] = {};    // positions of mu and the log-variance
  std::vector<double> phi;  // at [c * n + a]
  int n = 0;

  void update(const double* theta, const PARA& para, const SubjectColumns& columns,
              const std::vector<int>& classes);
  double density(int a, int c) const { return phi[static_cast<std::size_t>(c) * n + a]; }
};

// The density of IntensityTables for one subject, computed alone: the scalar oracle of
// the tables.
inline double intensity_density(double x, double mu, double s2) {
  const double e = x - mu;
  return std::exp(-e * e / (2.0 * s2)) * (1.0 / std::sqrt(s2));
}

// Adds the complete-data score of the intensity given a class (mean and log-variance at
// the slot) to a sparse score.
inline void add_normal_score(SparseScore& s, RSlot slot, double e, double s2) {
  s.add(slot.mean, e / s2);
  s.add(slot.logvar, -0.5 * (1.0 - e * e / s2));
}

// B intensities at or beyond these bounds count as the ends of the range on 'I' arrays.
inline constexpr double kBLowerBound = 1e-10;
inline constexpr double kBUpperBound = 0.9999999999;

// Intensity parameters of a class for one disease status, read from theta.
struct Cluster {
  double mu_r = 0.0;
  double s2_r = 1.0;
  double mu_b = 0.0;
  double s2_b = 1.0;
};
Cluster cluster_of(const double* theta, const AlleleClass& cls, int y);

// The B factor of a subject in a class, and whether the kernel (rather than the point
// mass or zero) gave it, which decides whether the B parameters enter the score.
struct BFactor {
  double value = 0.0;
  bool kernel = false;
};
BFactor b_factor(double b, const AlleleClass& cls, const Cluster& cl, ArrayType array_type);

// Whether the kernel gives the B factor (BFactor::kernel) without evaluating it: always
// off 'I' arrays and for heterozygous classes, else only strictly inside the bounds.
inline bool b_kernel_applies(double b, const AlleleClass& cls, ArrayType array_type) {
  const bool inside = kBLowerBound < b && b < kBUpperBound;
  return array_type != ArrayType::kLrrBaf || inside || !cls.homozygous;
}

// R and B factors of one subject in one class.
inline double class_density(double x, double b, const AlleleClass& cls, const Cluster& cl,
                            ArrayType array_type) {
  return normal_density(x, cl.mu_r, cl.s2_r) * b_factor(b, cls, cl, array_type).value;
}

// The class densities f_a(c) of every included subject (position a in the subject
// list) and modelled class at the current clusters of its status, kept by class so that
// the log-likelihood and the next E-step share one evaluation, as IntensityTables does for
// the total-copy-number fits. Classes that share their R parameters share one evaluation
// of the R kernel; the value of every cell is that of class_density, bit for bit.
class ClassDensities {
 public:
  ClassDensities(const std::vector<AlleleClass>& classes, const SubjectColumns& columns);
  void update(const std::vector<Cluster> (&cluster)[2], const std::vector<AlleleClass>& classes,
              const SubjectColumns& columns, ArrayType array_type);
  double at(int a, int c) const { return f_[static_cast<std::size_t>(c) * n_ + a]; }
  // The densities of class c over the subjects a = 0 .. n-1.
  const double* column(int c) const { return &f_[static_cast<std::size_t>(c) * n_]; }

 private:
  int n_ = 0;
  std::vector<int> r_group_;     // the R kernel each class reads
  std::vector<int> r_first_;     // the first class of each R kernel
  std::vector<KernelByStatus> r_kernel_;  // per R kernel
  std::vector<KernelByStatus> b_kernel_;  // per class
  std::vector<double> r_;        // R kernels of one block of subjects at [g * block + a]
  std::vector<double> f_;        // at [c * n + a]
  std::vector<double> scratch_;  // the B factors of one block of subjects
};

// Adds, with weight rho, the intensity part of the complete-data score to U and the
// complete-data information to E (upper triangle, 1-based) for a subject with status y,
// intensities x and b in class cls.
void add_intensity_terms(double* U, Information E, const AlleleClass& cls, const Cluster& cl,
                         int y, double x, double b, ArrayType array_type, double rho);

// Appends the intensity entries of the complete-data score of the same subject and class.
void add_intensity_score(SparseScore& s, const AlleleClass& cls, const Cluster& cl, int y,
                         double x, double b, ArrayType array_type);

// The two measurement models behind one interface, for class models that take the
// measurement model as a template parameter. Subjects are the included subjects in index
// order (a = 0 .. n-1) and classes the modelled classes (c = 0 .. C-1); a class's kind is
// what the sieve and the frequencies are kept by (the total class, or the allele-specific
// class), its design class (k, l) what the disease model's design vector reads.
//   void update(const double* theta);             densities at theta
//   double density(int a, int c) const;           f_a(c)
//   void add_terms(double* U, Information E, int a, int c, double rho) const;
//   void add_score(SparseScore& s, int a, int c) const;

// R by total class (CN probes).
class TotalClassMeasurement {
 public:
  TotalClassMeasurement(const DATA& data, const PARA& para, const std::vector<int>& subjects)
      : data_(data),
        para_(para),
        subjects_(subjects),
        classes_(present_cn_classes(para)),
        columns_(data, subjects) {}
  int num_classes() const { return static_cast<int>(classes_.size()); }
  int num_kinds() const { return para_.num_cn_classes; }
  int ref_kind() const { return para_.ref_cn_class; }
  int kind(int c) const { return classes_[c]; }
  int design_k(int c) const { return classes_[c]; }
  int design_l(int) const { return 0; }
  // Every class has measurement positions of its own (one R slot per total class), so
  // the terms of the classes may be summed class after class.
  bool classes_apart() const { return true; }
  void update(const double* theta) { R_.update(theta, para_, columns_, classes_); }
  double density(int a, int c) const { return R_.density(a, c); }
  // The densities of class c over the subjects a = 0 .. n-1.
  const double* column(int c) const { return &R_.phi[static_cast<std::size_t>(c) * R_.n]; }
  const SubjectColumns& columns() const { return columns_; }
  void add_terms(double* U, Information E, int a, int c, double rho) const {
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int k = classes_[c];
    const RSlot slot = R_.slot[y][k];
    add_normal_terms(U, E, slot.mean, slot.logvar, rho, data_.intensity_r[i] - R_.mu[y][k],
                     R_.s2[y][k]);
  }
  // add_terms of class c for every subject a in order, with weights rho[a]; subjects
  // with rho[a] below `floor` are left out.
  void add_class_terms(double* U, Information E, int c, const double* rho, double floor) const;
  void add_score(SparseScore& s, int a, int c) const {
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    const int k = classes_[c];
    add_normal_score(s, R_.slot[y][k], data_.intensity_r[i] - R_.mu[y][k], R_.s2[y][k]);
  }
  // The complete-data score of the intensity as a fixed number of entries, for Louis's
  // correction summed over whole columns (fit/pooled_louis.h): the positions of class c's
  // entries for status y, and their values for subject a.
  static constexpr int kScoreEntries = 2;
  std::array<int, kScoreEntries> score_positions(int y, int c) const {
    const RSlot slot = R_.slot[y][classes_[c]];
    return {slot.mean, slot.logvar};
  }
  void class_score(int a, int c, double* g) const {
    const int y = columns_.status[a];
    const int k = classes_[c];
    const double e = columns_.x[a] - R_.mu[y][k];
    g[0] = e / R_.s2[y][k];
    g[1] = -0.5 * (1.0 - e * e / R_.s2[y][k]);
  }

 private:
  const DATA& data_;
  const PARA& para_;
  const std::vector<int>& subjects_;
  std::vector<int> classes_;
  SubjectColumns columns_;
  IntensityTables R_;
};

// R and B by allele-specific class (SNP probes).
class AlleleClassMeasurement {
 public:
  AlleleClassMeasurement(const DATA& data, const PARA& para, const std::vector<int>& subjects)
      : data_(data),
        para_(para),
        subjects_(subjects),
        classes_(modelled_allele_classes(para)),
        columns_(data, subjects),
        density_(classes_, columns_) {
    cluster_[0].assign(classes_.size(), Cluster{});
    cluster_[1].assign(classes_.size(), Cluster{});
  }
  int num_classes() const { return static_cast<int>(classes_.size()); }
  int num_kinds() const { return para_.num_allele_classes; }
  int ref_kind() const { return para_.ref_allele_class; }
  int kind(int c) const { return classes_[c].c; }
  int design_k(int c) const { return classes_[c].k; }
  int design_l(int c) const { return classes_[c].l; }
  const std::vector<AlleleClass>& classes() const { return classes_; }
  void update(const double* theta) {
    const int C = num_classes();
    for (int c = 0; c < C; ++c)
      for (int y = 0; y < 2; ++y) cluster_[y][c] = cluster_of(theta, classes_[c], y);
    density_.update(cluster_, classes_, columns_, para_.array_type);
  }
  double density(int a, int c) const { return density_.at(a, c); }
  // The densities of class c over the subjects a = 0 .. n-1.
  const double* column(int c) const { return density_.column(c); }
  const SubjectColumns& columns() const { return columns_; }
  void add_terms(double* U, Information E, int a, int c, double rho) const {
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    add_intensity_terms(U, E, classes_[c], cluster_[y][c], y, data_.intensity_r[i],
                        data_.intensity_b[i], para_.array_type, rho);
  }
  // add_class_terms of class c for every subject a in order, with weights rho[a];
  // subjects with rho[a] below `floor` are left out.
  void add_class_terms(double* U, Information E, int c, const double* rho, double floor) const;
  // add_terms for fits that go subject by subject: begin_terms loads every measurement
  // entry of U and E into sums, add_subject_terms adds to them, end_terms stores them back
  // (the same additions in the same order as add_terms).
  void begin_terms(const double* U, Information E);
  void add_subject_terms(double* U, Information E, int a, int c, double rho) {
    if (direct_) {
      add_terms(U, E, a, c, rho);
      return;
    }
    const int y = columns_.status[a];
    const Cluster& cl = cluster_[y][c];
    const AlleleClass& cls = classes_[c];
    const double b = columns_.b[a];
    sums_[r_sums_[2 * c + y]].add(rho, columns_.x[a] - cl.mu_r, cl.s2_r);
    if (!b_kernel_applies(b, cls, para_.array_type)) return;
    if (para_.array_type == ArrayType::kLrrBaf && cls.homozygous)
      sums_[b_sums_[2 * c + y]].add_logvar(rho, b - cl.mu_b, cl.s2_b);
    else
      sums_[b_sums_[2 * c + y]].add(rho, b - cl.mu_b, cl.s2_b);
  }
  void end_terms(double* U, Information E) const {
    if (direct_) return;
    for (const NormalTermSums& sums : sums_) sums.store(U, E);
  }
  void add_score(SparseScore& s, int a, int c) const {
    const int i = subjects_[a];
    const int y = data_.disease_status[i];
    add_intensity_score(s, classes_[c], cluster_[y][c], y, data_.intensity_r[i],
                        data_.intensity_b[i], para_.array_type);
  }
  // The score of add_score as a fixed number of entries (R mean and log-variance, B mean
  // and log-variance), for Louis's correction summed over whole columns
  // (fit/pooled_louis.h): the positions of class c's entries for status y (-1 for the B
  // mean that 'I' arrays fix), and their values for subject a (0 where add_score has no
  // entry).
  static constexpr int kScoreEntries = 4;
  std::array<int, kScoreEntries> score_positions(int y, int c) const {
    const AlleleClass& cls = classes_[c];
    const bool mean_fixed = para_.array_type == ArrayType::kLrrBaf && cls.homozygous;
    return {cls.r_mean[y], cls.r_logvar[y], mean_fixed ? -1 : cls.b_mean[y], cls.b_logvar[y]};
  }
  void class_score(int a, int c, double* g) const {
    const int y = columns_.status[a];
    const Cluster& cl = cluster_[y][c];
    const AlleleClass& cls = classes_[c];
    const double er = columns_.x[a] - cl.mu_r;
    g[0] = er / cl.s2_r;
    g[1] = -0.5 * (1.0 - er * er / cl.s2_r);
    const double b = columns_.b[a];
    if (!b_kernel_applies(b, cls, para_.array_type)) {
      g[2] = g[3] = 0.0;
      return;
    }
    const double eb = b - cl.mu_b;
    g[2] = para_.array_type == ArrayType::kLrrBaf && cls.homozygous ? 0.0 : eb / cl.s2_b;
    g[3] = -0.5 * (1.0 - eb * eb / cl.s2_b);
  }

 private:
  const DATA& data_;
  const PARA& para_;
  const std::vector<int>& subjects_;
  std::vector<AlleleClass> classes_;
  std::vector<Cluster> cluster_[2];
  SubjectColumns columns_;
  ClassDensities density_;
  std::vector<NormalTermSums> sums_;  // one per distinct pair of positions
  std::vector<int> r_sums_;           // the R sums of class c and status y at [2 c + y]
  std::vector<int> b_sums_;           // the B sums of class c and status y at [2 c + y]
  bool direct_ = false;  // a position in two pairs (never laid out so): add to U and E
};
