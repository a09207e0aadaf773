#pragma once
// Louis's correction pooled over the subjects of each disease status, for class models
// whose complete-data score of class c splits into a head part h(y, c) that depends only on
// the subject's status y and the class (positions below `head`) and an intensity part
// g(a, c) of the subject's own (positions from `head` on): the retrospective fits without
// covariates. The correction of one subject,
//   sum_c r_c s_c s_c' - T T',  T = sum_c r_c s_c,
// splits into blocks of which two pool over the subjects of a status:
//   head x head:           sum_c R_yc h_c h_c' - sum_{c,c'} Q_y(c, c') h_c h_c'',
//                          R_yc = sum_a r_c and Q_y = sum_a r r' over the status's subjects;
//   head x intensity:      sum_c h_c W_yc',  W_yc = sum_a r_c (g_c - G),  G = sum_c r_c g_c;
//   intensity x intensity: subject by subject, sum_c r_c g_c g_c' - G G' (each class's
//                          term over its own few positions).
// These are LouisCorrection's sums (fit/louis.h) in another order, with the head blocks
// formed once per status instead of once per subject. Classes whose posterior is below the
// floor are left out of every sum, as there.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "fit/information.h"
#include "fit/louis.h"

// The subjects' intensity scores for PooledLouis::add_normal_classes: each class's score is
// the normal score (e / s2, -(1 - e^2 / s2) / 2), e = x - mu, of one intensity at a mean and
// a log-variance of the class's own (no two classes of a status share a position): the
// total-class measurement model of CN probes.
struct NormalClassColumns {
  int subjects = 0;
  int classes = 0;                          // at most 3
  const int* status = nullptr;              // disease status of each subject
  const double* x = nullptr;                // intensity of each subject
  const double* posterior[3] = {};          // posteriors of class c over the subjects
  double mu[2][3] = {}, s2[2][3] = {};      // by status and class
  int mean[2][3] = {}, logvar[2][3] = {};   // positions, by status and class
};

class PooledLouis {
 public:
  // Positions 0 .. size-1, of which 0 .. head-1 are the head; `classes` classes.
  PooledLouis(int size, int head, int classes)
      : size_(size),
        head_(head),
        classes_(classes),
        weight_(2 * static_cast<std::size_t>(classes), 0.0),
        pair_(2 * static_cast<std::size_t>(classes) * classes, 0.0),
        head_cross_(2 * static_cast<std::size_t>(classes) * size, 0.0),
        score_(static_cast<std::size_t>(classes) * size, 0.0),
        mean_(static_cast<std::size_t>(size), 0.0),
        marked_(static_cast<std::size_t>(size), 0),
        own_(static_cast<std::size_t>(classes)) {}

  // One subject of status y with posteriors r[c] (stride 1 over the classes); the
  // intensity score of class c is `intensity_score(c, s)` into the sparse score s. Its
  // intensity block goes straight into E.
  template <typename IntensityScore>
  void add_subject(Information E, int y, const double* r, double floor,
                   IntensityScore&& intensity_score) {
    active_.clear();
    touched_.clear();
    for (int c = 0; c < classes_; ++c) {
      if (r[c] < floor) continue;
      active_.push_back(c);
      sparse_.clear();
      intensity_score(c, sparse_);
      double* g = &score_[static_cast<std::size_t>(c) * size_];
      std::vector<int>& own = own_[c];
      own.clear();
      for (std::size_t e = 0; e < sparse_.position.size(); ++e) {
        const int p = sparse_.position[e];
        if (g[p] == 0.0 && std::find(own.begin(), own.end(), p) == own.end()) own.push_back(p);
        if (marked_[p] == 0) {
          marked_[p] = 1;
          touched_.push_back(p);
        }
        g[p] += sparse_.value[e];
      }
    }
    for (const int p : touched_) mean_[p] = 0.0;
    for (const int c : active_) {
      const double* g = &score_[static_cast<std::size_t>(c) * size_];
      for (const int p : touched_) mean_[p] += r[c] * g[p];
    }
    double* weight = &weight_[static_cast<std::size_t>(y) * classes_];
    double* pair = &pair_[static_cast<std::size_t>(y) * classes_ * classes_];
    for (const int c : active_) {
      weight[c] += r[c];
      for (const int d : active_) pair[static_cast<std::size_t>(c) * classes_ + d] += r[c] * r[d];
      const double* g = &score_[static_cast<std::size_t>(c) * size_];
      double* w = &head_cross_[(static_cast<std::size_t>(y) * classes_ + c) * size_];
      for (const int p : touched_) w[p] += r[c] * (g[p] - mean_[p]);
    }
    for (const int c : active_) {
      const double* g = &score_[static_cast<std::size_t>(c) * size_];
      for (const int p : own_[c])
        for (const int q : own_[c])
          if (p <= q) E(p, q) -= r[c] * g[p] * g[q];
    }
    for (const int p : touched_)
      for (const int q : touched_)
        if (p <= q) E(p, q) += mean_[p] * mean_[q];
    for (const int c : active_) {
      double* g = &score_[static_cast<std::size_t>(c) * size_];
      for (const int p : own_[c]) g[p] = 0.0;
    }
    for (const int p : touched_) marked_[p] = 0;
  }

  // Every subject of `columns` at once, the same terms as add_subject gives them, summed
  // over whole columns: with positions of each class's own, G restricted to class c's
  // positions is r_c g_c, so the subject's intensity block is r_c (1 - r_c) g_c g_c' on
  // class c's positions and -r_c r_d g_c g_d' between classes c and d, and W_yc gains
  // r_c (delta_cd - r_d) g_d at class d's positions.
  void add_normal_classes(Information E, const NormalClassColumns& columns, double floor) {
    constexpr int kMax = 3;
    const int C = columns.classes;
    double own[2][kMax][3] = {};              // sum r (1 - r) g_i g_j: (1,1), (1,2), (2,2)
    double cross[2][kMax][kMax][2][2] = {};   // c < d: sum r_c r_d g_ci g_dj
    double toward[2][kMax][kMax][2] = {};     // sum r_c (delta_cd - r_d) g_dj
    double weight[2][kMax] = {};
    double pair[2][kMax][kMax] = {};
    for (int a = 0; a < columns.subjects; ++a) {
      const int y = columns.status[a];
      double r[kMax] = {};
      double g[kMax][2] = {};
      for (int c = 0; c < C; ++c) {
        const double rho = columns.posterior[c][a];
        r[c] = rho < floor ? 0.0 : rho;
        const double e = columns.x[a] - columns.mu[y][c];
        g[c][0] = e / columns.s2[y][c];
        g[c][1] = -0.5 * (1.0 - e * e / columns.s2[y][c]);
      }
      for (int c = 0; c < C; ++c) {
        if (r[c] == 0.0) continue;
        weight[y][c] += r[c];
        const double v = r[c] * (1.0 - r[c]);
        own[y][c][0] += v * g[c][0] * g[c][0];
        own[y][c][1] += v * g[c][0] * g[c][1];
        own[y][c][2] += v * g[c][1] * g[c][1];
        for (int d = 0; d < C; ++d) {
          if (r[d] == 0.0) continue;
          pair[y][c][d] += r[c] * r[d];
          const double t = r[c] * ((c == d ? 1.0 : 0.0) - r[d]);
          toward[y][c][d][0] += t * g[d][0];
          toward[y][c][d][1] += t * g[d][1];
          if (d <= c) continue;
          for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) cross[y][c][d][i][j] += r[c] * r[d] * g[c][i] * g[d][j];
        }
      }
    }
    const auto add = [&E](int p, int q, double value) {
      if (p <= q) E(p, q) += value;
      else E(q, p) += value;
    };
    for (int y = 0; y < 2; ++y)
      for (int c = 0; c < C; ++c) {
        const int position[2] = {columns.mean[y][c], columns.logvar[y][c]};
        weight_[static_cast<std::size_t>(y) * classes_ + c] += weight[y][c];
        add(position[0], position[0], -own[y][c][0]);
        add(position[0], position[1], -own[y][c][1]);
        add(position[1], position[1], -own[y][c][2]);
        for (int d = 0; d < C; ++d) {
          const int other[2] = {columns.mean[y][d], columns.logvar[y][d]};
          pair_[(static_cast<std::size_t>(y) * classes_ + c) * classes_ + d] += pair[y][c][d];
          double* w = &head_cross_[(static_cast<std::size_t>(y) * classes_ + c) * size_];
          w[other[0]] += toward[y][c][d][0];
          w[other[1]] += toward[y][c][d][1];
          if (d <= c) continue;
          for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) add(position[i], other[j], cross[y][c][d][i][j]);
        }
      }
  }

  // The pooled head blocks into E; `head_score(y, c, h)` writes h(y, c) over the head
  // positions 0 .. head-1.
  template <typename HeadScore>
  void finish(Information E, HeadScore&& head_score) const {
    std::vector<double> h(static_cast<std::size_t>(classes_) * head_, 0.0);
    for (int y = 0; y < 2; ++y) {
      for (int c = 0; c < classes_; ++c) head_score(y, c, &h[static_cast<std::size_t>(c) * head_]);
      const double* weight = &weight_[static_cast<std::size_t>(y) * classes_];
      const double* pair = &pair_[static_cast<std::size_t>(y) * classes_ * classes_];
      const auto at = [&](int c, int u) { return h[static_cast<std::size_t>(c) * head_ + u]; };
      for (int u = 0; u < head_; ++u)
        for (int v = u; v < head_; ++v) {
          double sum = 0.0;
          for (int c = 0; c < classes_; ++c) {
            sum += weight[c] * at(c, u) * at(c, v);
            for (int d = 0; d < classes_; ++d)
              sum -= pair[static_cast<std::size_t>(c) * classes_ + d] * at(c, u) * at(d, v);
          }
          E(u, v) -= sum;
        }
      for (int u = 0; u < head_; ++u)
        for (int p = head_; p < size_; ++p) {
          double sum = 0.0;
          for (int c = 0; c < classes_; ++c)
            sum += at(c, u) * head_cross_[(static_cast<std::size_t>(y) * classes_ + c) * size_ + p];
          E(u, p) -= sum;
        }
    }
  }

 private:
  int size_, head_, classes_;
  std::vector<double> weight_;      // R_yc at [y C + c]
  std::vector<double> pair_;        // Q_y(c, d) at [(y C + c) C + d]
  std::vector<double> head_cross_;  // W_yc over the positions at [(y C + c) size + p]
  std::vector<double> score_;       // g(a, c) of the current subject, dense, at [c size + p]
  std::vector<double> mean_;        // G of the current subject over its touched positions
  std::vector<char> marked_;        // positions touched by the current subject
  std::vector<int> touched_;
  std::vector<int> active_;         // classes at or above the floor
  std::vector<std::vector<int>> own_;  // positions of each active class's intensity score
  SparseScore sparse_;
};
