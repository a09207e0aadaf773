#pragma once
// Pieces of the allele-specific (SNP) latent-class models that their three fits share
// (the steps common to every fit are in em_steps.h).
//
// a class (k, l) has k copies of which l are B alleles. Its
// prior weight within level k is binomial in the B-allele frequency p_B. The R intensity
// is normal given k (array type 'I') or (k, l) ('A'); the B intensity is normal given
// (k, l), except that on 'I' arrays a homozygous class whose B intensity lies beyond the
// bound on its own side scores the point mass 0.5 in place of the kernel, and beyond the
// bound on the other side scores 0. The B means of homozygous classes are fixed on 'I'
// arrays, so their score entry is cleared.

#include <vector>

#include "core/data.h"
#include "core/outcome.h"
#include "core/para.h"
#include "fit/em_steps.h"
#include "fit/em_terms.h"
#include "fit/fit_control.h"
#include "numeric/offset_array.h"

// B intensities at or beyond these bounds count as the ends of the range on 'I' arrays.
inline constexpr double kBLowerBound = 1e-10;
inline constexpr double kBUpperBound = 0.9999999999;

// x^n for n >= 0 by repeated multiplication.
double int_power(double x, int n);

// One modelled allele-specific class with the positions its parameters take.
struct AlleleClass {
  int k = 0;
  int l = 0;
  int c = 0;                // allele_class_index[k][l]
  bool homozygous = false;  // k > 0 and l is 0 or k
  int slot = -1;            // frequency slot of level k; -1 for the reference level
  // Positions picked by the measurement indicator for disease status y = 0, 1.
  int r_mean[2] = {0, 0};
  int r_logvar[2] = {0, 0};
  int b_mean[2] = {0, 0};
  int b_logvar[2] = {0, 0};
};

// The classes of the probe's model in increasing index order: level k present and class
// (k, l) present. Positions come from BCDEvec. `scratch` must hold num_params entries.
std::vector<AlleleClass> modelled_allele_classes(const PARA& para, double* scratch);

// Design vectors A(k, l, z_i) of every included subject (its place a in `subjects`) and
// modelled class (its place c in `classes`), fixed through a fit: the vector starts at
// (a C + c) num_disease_coefs. `scratch` must hold num_disease_coefs entries.
std::vector<double> allele_design_table(const DATA& data, const PARA& para,
                                        const std::vector<int>& subjects,
                                        const std::vector<AlleleClass>& classes, double* scratch);

// C(k, l) p_B^l (1 - p_B)^(k - l).
double binomial_weight(int k, int l, double p_B, const PARA& para);

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
BFactor b_factor(double b, const AlleleClass& cls, const Cluster& cl, char array_type);

// Whether the kernel gives the B factor (BFactor::kernel) without evaluating it: always
// off 'I' arrays and for heterozygous classes, else only strictly inside the bounds.
inline bool b_kernel_applies(double b, const AlleleClass& cls, char array_type) {
  const bool inside = kBLowerBound < b && b < kBUpperBound;
  return array_type != 'I' || inside || !cls.homozygous;
}

// R and B factors of one subject in one class.
inline double class_density(double x, double b, const AlleleClass& cls, const Cluster& cl,
                            char array_type) {
  return normal_density(x, cl.mu_r, cl.s2_r) * b_factor(b, cls, cl, array_type).value;
}

// The class densities f_i(c) of every included subject (position a in the subject list)
// and modelled class at the current clusters of its status, kept so that the
// log-likelihood and the next E-step share one evaluation, as IntensityTables does for
// the total-copy-number fits.
struct ClassDensities {
  std::vector<double> f;  // at [a * C + c]
  std::size_t C = 0;

  void update(const std::vector<Cluster> (&cluster)[2], const std::vector<AlleleClass>& classes,
              const std::vector<int>& subjects, const DATA& data, char array_type);
  double at(int a, int c) const { return f[static_cast<std::size_t>(a) * C + c]; }
};

// Adds, with weight rho, the intensity part of the complete-data score to U and the
// complete-data information to E (upper triangle, 1-based) for a subject with status y,
// intensities x and b in class cls.
void add_intensity_terms(double* U, const DMatrix& E, const AlleleClass& cls, const Cluster& cl,
                         int y, double x, double b, char array_type, double rho);

// Appends the intensity entries of the complete-data score of the same subject and class.
void add_intensity_score(SparseScore& s, const AlleleClass& cls, const Cluster& cl, int y,
                         double x, double b, char array_type);

// Normaliser terms of a categorical distribution over outcomes j (status and class) with
// probabilities prob_j, sufficient statistics t_j over the head positions 0 .. H-1 (the
// disease-model coefficients, frequency log-ratios and B-allele-frequency logit) and total
// copy numbers k_j, weighted by a count n: they are the derivatives of -n log(normaliser).
//   U -= n sum_j prob_j t_j;   E += n (sum_j prob_j t_j t_j' - tbar tbar');
//   E[gamma][gamma] -= n p_B (1 - p_B) sum_j prob_j k_j  (d delta / d gamma = -k p_B (1 - p_B)).
class NormaliserTerms {
 public:
  explicit NormaliserTerms(int head) : head_(head), mean_(static_cast<std::size_t>(head), 0.0) {}
  void begin() {
    for (double& m : mean_) m = 0.0;
    mean_k_ = 0.0;
  }
  void add(double* U, const DMatrix& E, double n, double prob, const double* t, int k);
  void end(const DMatrix& E, double n, int gamma, double p_B) const;

 private:
  int head_;
  std::vector<double> mean_;
  double mean_k_ = 0.0;
};

// The finish of the retrospective SNP fits once E holds the observed information: the
// finish of every retrospective fit (inversion over the free parameters, variance test,
// standard errors, report, frequencies, covariance block), then the B-allele-frequency
// logit reported as the frequency p_B with standard error p_B (1 - p_B) se(gamma).
Outcome finish_retro_allele(FitResult& result, const DMatrix& E, const DMatrix& V,
                            const PARA& para, FitReport* report);
