#pragma once
// What the class models of the fits share: the design vector of the disease model, the
// measurement indicator and the frequency slots of the parameter vector, the present
// total classes and modelled allele-specific classes, the included subjects and their
// design tables, the binomial prior of allele-specific classes and the normaliser terms
// of a categorical law over status and class.
//
// Layout (0-based): disease-model coefficients [0, num_disease_coefs); class
// frequencies from freq_start (log-ratios to the reference class; SNP: then the
// logit of the B-allele frequency); R means from r_mean_start; R log-variances
// from r_logvar_start; B means from b_mean_start; B log-variances from
// b_logvar_start. Measurement group g = y * differential_measurement_errors.

#include <vector>

#include "core/data.h"
#include "core/layout.h"
#include "core/outcome.h"
#include "core/para.h"
#include "fit/information.h"
#include "numeric/matrix.h"

// Writes the disease-model design vector of class (k, l) and covariate row z (may be
// null when there are no covariate columns) into a[0 .. num_disease_coefs - 1].
void disease_design(double* a, int k, int l, const double* z, const PARA& para);

// Writes the measurement indicator of status y and class (k, l) into
// v[r_mean_start .. num_params - 1]; positions below r_mean_start are untouched.
void measurement_indicator(double* v, int y, int k, int l, const double* z, const PARA& para);

// 0-based position of the frequency log-ratio of class k != ref_cn_class.
inline int frequency_slot(const PARA& para, int k) { return ParamLayout(para).frequency(k); }

// The R mean and R log-variance that the measurement indicator of status y and total
// class k selects (measurement_indicator of a CN probe).
struct RSlot {
  int mean;
  int logvar;
};
inline RSlot r_slot(const PARA& para, int y, int k) {
  const ParamLayout layout(para);
  return {layout.r_mean(layout.group(y), k), layout.r_logvar(layout.group(y), k)};
}

// The present total classes in increasing order.
std::vector<int> present_cn_classes(const PARA& para);

// The included subjects (excluded != 1) in index order. False when one of them has a
// disease status other than 0 or 1, which every table of the fits is indexed by.
bool included_subjects(const DATA& data, std::vector<int>& subjects);

// The subjects a fit works on (included_subjects): Outcome::kOk, kStartInvalidInput for a
// status other than 0 or 1, or kNoUsableSubject when none is included.
Outcome select_fit_subjects(const DATA& data, std::vector<int>& subjects);

// Design vectors a(k, z_i) of every included subject and present total class, fixed
// through a fit with covariates: subject i's vector of class k starts at (3 i + k) D.
std::vector<double> cn_design_table(const DATA& data, const PARA& para,
                                    const std::vector<int>& subjects,
                                    const std::vector<int>& classes);

// The class frequencies are log-ratios to the reference class: with the reference left
// out while other classes stay, they lose their anchor (shifting every log-ratio alike
// leaves the likelihood unchanged) and the fit cannot be identified.
bool reference_cn_class_missing(const PARA& para);

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
// (k, l) present, with the positions the measurement indicator picks.
std::vector<AlleleClass> modelled_allele_classes(const PARA& para);

// Design vectors A(k, l, z_i) of every included subject (its place a in `subjects`) and
// modelled class (its place c in `classes`), fixed through a fit: the vector starts at
// (a C + c) num_disease_coefs. `scratch` must hold num_disease_coefs entries.
std::vector<double> allele_design_table(const DATA& data, const PARA& para,
                                        const std::vector<int>& subjects,
                                        const std::vector<AlleleClass>& classes, double* scratch);

// C(k, l) p_B^l (1 - p_B)^(k - l).
double binomial_weight(int k, int l, double p_B, const PARA& para);

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
  // E is the information (Information) or a HeadBlock held apart from it.
  template <typename Matrix>
  void add(double* U, Matrix& E, double n, double prob, const double* t, int k) {
    const double w = n * prob;
    for (int u = 0; u < head_; ++u) {
      if (t[u] == 0.0) continue;
      U[u] -= w * t[u];
      mean_[u] += prob * t[u];
      for (int v = u; v < head_; ++v) E(u, v) += w * t[u] * t[v];
    }
    mean_k_ += prob * k;
  }
  template <typename Matrix>
  void end(Matrix& E, double n, int gamma, double p_B) const {
    for (int u = 0; u < head_; ++u)
      for (int v = u; v < head_; ++v) E(u, v) -= n * mean_[u] * mean_[v];
    E(gamma, gamma) -= n * p_B * (1.0 - p_B) * mean_k_;
  }

 private:
  int head_;
  std::vector<double> mean_;
  double mean_k_ = 0.0;
};

// The head block (positions 0 .. H-1, upper triangle) of the information, held in one
// contiguous array while a fit adds to it many times, then stored back: the same
// additions in the same order as adding to the information directly.
class HeadBlock {
 public:
  explicit HeadBlock(int head)
      : head_(head), e_(static_cast<std::size_t>(head) * head, 0.0) {}
  void load(Information E) {
    for (int u = 0; u < head_; ++u)
      for (int v = u; v < head_; ++v) (*this)(u, v) = E(u, v);
  }
  void store(Information E) const {
    for (int u = 0; u < head_; ++u)
      for (int v = u; v < head_; ++v) E(u, v) = e_[index(u, v)];
  }
  double& operator()(int u, int v) { return e_[index(u, v)]; }

 private:
  std::size_t index(int u, int v) const { return static_cast<std::size_t>(u) * head_ + v; }
  int head_;
  std::vector<double> e_;
};

// Replaces the frequency log-ratios at `slots` (0-based positions of the present
// non-reference classes) by class frequencies and their standard errors by delta-method
// values, from V (the covariance over the whole vector).
void back_transform_frequencies(double* params, double* std_errors, const Matrix& V,
                                const int* slots, int num_slots);
