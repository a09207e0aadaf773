#pragma once
// Steps of the EM iteration that the total-copy-number fits share (the allele-specific
// fits can use them too): the intensity density, the positions picked by the
// measurement indicator, the Newton step over the free parameters and the finish that
// turns the observed information into the covariance handed to the Wald test.
// Vectors are 0-based; information matrices and their inverses are 1-based.

#include <cmath>
#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "fit/em_terms.h"
#include "numeric/offset_array.h"

// Posteriors below this are left out wherever a fit says "skipped": they cannot move
// the estimates, and leaving them out keeps the per-subject work small.
constexpr double kPosteriorFloor = 1e-6;

// Normal density without its constant 1/sqrt(2 pi): the log-likelihoods reported lack
// -(number of subjects) * log sqrt(2 pi).
inline double normal_density(double x, double mu, double s2) {
  const double e = x - mu;
  return std::exp(-e * e / (2.0 * s2)) / std::sqrt(s2);
}

// 0-based position of the frequency log-ratio of class k != ref_cn_class.
inline int frequency_slot(const PARA& para, int k) {
  return k < para.ref_cn_class ? para.freq_start + k : para.freq_start + k - 1;
}

// The R mean and R log-variance that the measurement indicator of status y and total
// class k selects (BCDEvec of a CN probe).
struct RSlot {
  int mean;
  int logvar;
};
inline RSlot r_slot(const PARA& para, int y, int k) {
  const int at = para.num_cn_classes * y * para.differential_measurement_errors + k;
  return {para.r_mean_start + at, para.r_logvar_start + at};
}

// Zeroes E[1..n][1..n].
inline void clear_square(const DMatrix& E, int n) {
  for (int u = 1; u <= n; ++u)
    for (int v = 1; v <= n; ++v) E[u][v] = 0.0;
}

// The model tables of the intensities at the current theta: the R mean and variance of
// every status y and total class k (with one measurement group the two status rows are
// equal), and the density phi(R_i; mu, sigma2) of every included subject and present
// class, kept so that the log-likelihood and the next E-step share one evaluation.
struct IntensityTables {
  double mu[2][3] = {};
  double s2[2][3] = {};
  std::vector<double> phi;  // at [i * 3 + k]

  void update(const double* theta, const PARA& para, const DATA& data,
              const std::vector<int>& subjects, const std::vector<int>& classes) {
    double inv_sd[2][3];
    for (int y = 0; y < 2; ++y)
      for (int k = 0; k < 3; ++k) {
        const RSlot slot = r_slot(para, y, k);
        mu[y][k] = theta[slot.mean];
        s2[y][k] = std::exp(theta[slot.logvar]);
        inv_sd[y][k] = 1.0 / std::sqrt(s2[y][k]);
      }
    phi.resize(static_cast<std::size_t>(data.num_subjects) * 3);
    for (const int i : subjects) {
      const int y = data.disease_status[i];
      for (const int k : classes) {
        const double e = data.intensity_r[i] - mu[y][k];
        phi[static_cast<std::size_t>(i) * 3 + k] =
            std::exp(-e * e / (2.0 * s2[y][k])) * inv_sd[y][k];
      }
    }
  }
  double density(int i, int k) const { return phi[static_cast<std::size_t>(i) * 3 + k]; }
};

// The present total classes in increasing order.
std::vector<int> present_cn_classes(const PARA& para);

// The included subjects (excluded != 1) in index order. False when one of them has a
// disease status other than 0 or 1, which every table of the fits is indexed by.
bool included_subjects(const DATA& data, std::vector<int>& subjects);

// Design vectors a(k, z_i) of every included subject and present total class, fixed
// through a fit with covariates: subject i's vector of class k starts at (3 i + k) D.
std::vector<double> cn_design_table(const DATA& data, const PARA& para,
                                    const std::vector<int>& subjects,
                                    const std::vector<int>& classes);

// The class frequencies are log-ratios to the reference class: with the reference left
// out while other classes stay, they lose their anchor (shifting every log-ratio alike
// leaves the likelihood unchanged) and the fit cannot be identified.
bool reference_cn_class_missing(const PARA& para);

// Adds the complete-data score of the intensity given a class (mean and log-variance at
// the slot) to a sparse score.
inline void add_normal_score(SparseScore& s, RSlot slot, double e, double s2) {
  s.add(slot.mean, e / s2);
  s.add(slot.logvar, -0.5 * (1.0 - e * e / s2));
}
