#pragma once
// Louis's correction pooled over groups of subjects, for class models whose complete-data
// score of class c splits into a head part h(g, c) that depends only on the subject's group
// g and the class (at the head positions) and an intensity part of the subject's own (at
// the other positions): the groups are the disease statuses for the retrospective fits
// without covariates, and the statuses crossed with the covariate rows for the sieve fits.
// The correction of one subject,
//   sum_c r_c s_c s_c' - T T',  T = sum_c r_c s_c,
// splits into blocks of which two pool over the subjects of a group:
//   head x head:           sum_c R_gc h_c h_c' - sum_{c,c'} Q_g(c, c') h_c h_c'',
//                          R_gc = sum_a r_c and Q_g = sum_a r r' over the group's subjects;
//   head x intensity:      sum_c h_c W_gc',  W_gc = sum_a r_c (g_c - G),  G = sum_c r_c g_c;
//   intensity x intensity: sum_c r_c (1 - r_c) g_c g_c' - sum_{c != d} r_c r_d g_c g_d'.
// Every class's intensity score has a few entries (the mean and log-variance of each
// intensity) at positions fixed by the group's status and the class, which classes may
// share (the R parameters of the allele classes of one total class). So the intensity
// block, too, is summed over the subjects per group and pair of classes, entry by entry,
// and put at its positions once. These are LouisCorrection's sums (fit/louis.h) in another
// order. Classes whose posterior is below the floor are left out of every sum, as there.

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "fit/information.h"

// The head positions of a pooled correction and the group of every subject; no groups
// (count 0) where the subjects do not fall into few enough of them.
struct LouisGroups {
  std::vector<int> head;          // the head positions, in the order head_score writes them
  int count = 0;                  // groups 0 .. count-1
  const int* group_of = nullptr;  // the group of each subject
};

// The groups of the retrospective fits: the disease statuses (0 and 1, `status` of each
// subject), with the head at positions 0 .. head-1.
inline LouisGroups status_groups(int head, const int* status) {
  LouisGroups groups;
  for (int u = 0; u < head; ++u) groups.head.push_back(u);
  groups.count = 2;
  groups.group_of = status;
  return groups;
}

class PooledLouis {
 public:
  // Positions 0 .. size-1; `classes` classes.
  PooledLouis(int size, const LouisGroups& groups, int classes)
      : size_(size),
        groups_(groups.count),
        classes_(classes),
        head_(groups.head),
        is_head_(static_cast<std::size_t>(size), 0),
        weight_(static_cast<std::size_t>(groups_) * classes, 0.0),
        pair_(static_cast<std::size_t>(groups_) * classes * classes, 0.0),
        head_cross_(static_cast<std::size_t>(groups_) * classes * size, 0.0) {
    for (const int p : head_) is_head_[p] = 1;
  }

  // Every subject a = 0 .. subjects-1 of group group_of[a], with posteriors posterior[c][a];
  // `positions(g, c)` gives the M positions of class c's intensity score in group g (-1
  // where it has no entry) and `intensity_score(a, c, g)` writes its M values (0 where it
  // has no entry). The intensity block goes into E, the head parts are kept for finish().
  template <int M, typename Positions, typename IntensityScore>
  void add_subjects(Information E, int subjects, const int* group_of,
                    const double* const* posterior, double floor, Positions&& positions,
                    IntensityScore&& intensity_score) {
    const int C = classes_;
    const std::size_t pairs = static_cast<std::size_t>(groups_) * C * C;
    std::vector<double> block(pairs * M * M, 0.0);  // sum w g_c g_d', c <= d
    std::vector<double> toward(pairs * M, 0.0);     // sum r_c (delta_cd - r_d) g_d
    std::vector<int> active(static_cast<std::size_t>(C));
    std::vector<double> r(static_cast<std::size_t>(C));
    std::vector<double> g(static_cast<std::size_t>(C) * M);
    for (int a = 0; a < subjects; ++a) {
      const std::size_t group = static_cast<std::size_t>(group_of[a]);
      int m = 0;
      for (int c = 0; c < C; ++c) {
        const double rho = posterior[c][a];
        if (rho < floor) continue;
        active[m] = c;
        r[m] = rho;
        intensity_score(a, c, &g[static_cast<std::size_t>(m) * M]);
        ++m;
      }
      for (int i = 0; i < m; ++i) {
        const std::size_t gc = group * C + active[i];
        weight_[gc] += r[i];
        const double* gi = &g[static_cast<std::size_t>(i) * M];
        for (int j = 0; j < m; ++j) {
          const std::size_t cd = gc * C + active[j];
          const double* gj = &g[static_cast<std::size_t>(j) * M];
          pair_[cd] += r[i] * r[j];
          const double t = r[i] * ((i == j ? 1.0 : 0.0) - r[j]);
          double* w = &toward[cd * M];
          for (int f = 0; f < M; ++f) w[f] += t * gj[f];
          if (j < i) continue;
          const double v = i == j ? r[i] * (1.0 - r[i]) : r[i] * r[j];
          double* b = &block[cd * M * M];
          for (int e = 0; e < M; ++e)
            for (int f = 0; f < M; ++f) b[e * M + f] += v * gi[e] * gj[f];
        }
      }
    }
    // The sums to their positions: a class's own block is symmetric and goes to the upper
    // triangle once; a pair of classes c < d stands for both orders, so an entry whose two
    // positions coincide (a position the classes share) takes it twice.
    const auto add = [&E](int p, int q, double value) {
      if (p <= q) E(p, q) += value;
      else E(q, p) += value;
    };
    for (int group = 0; group < groups_; ++group)
      for (int c = 0; c < C; ++c) {
        const std::array<int, M> P = positions(group, c);
        for (int d = 0; d < C; ++d) {
          const std::array<int, M> Q = positions(group, d);
          const std::size_t cd = (static_cast<std::size_t>(group) * C + c) * C + d;
          double* w = &head_cross_[(static_cast<std::size_t>(group) * C + c) * size_];
          for (int f = 0; f < M; ++f)
            if (Q[f] >= 0) w[Q[f]] += toward[cd * M + f];
          if (d < c) continue;
          const double* b = &block[cd * M * M];
          for (int e = 0; e < M; ++e)
            for (int f = 0; f < M; ++f) {
              const int p = P[e];
              const int q = Q[f];
              if (p < 0 || q < 0) continue;
              const double value = b[e * M + f];
              if (c == d) {
                if (p <= q) E(p, q) -= value;
              } else {
                add(p, q, value);
                if (p == q) add(p, q, value);
              }
            }
        }
      }
  }

  // The pooled head blocks into E; `head_score(g, c, h)` writes h(g, c) over the head
  // positions in their order.
  template <typename HeadScore>
  void finish(Information E, HeadScore&& head_score) const {
    const int H = static_cast<int>(head_.size());
    const int C = classes_;
    std::vector<double> h(static_cast<std::size_t>(C) * H, 0.0);
    const auto add = [&E](int p, int q, double value) {
      if (p <= q) E(p, q) += value;
      else E(q, p) += value;
    };
    for (int group = 0; group < groups_; ++group) {
      for (int c = 0; c < C; ++c) head_score(group, c, &h[static_cast<std::size_t>(c) * H]);
      const double* weight = &weight_[static_cast<std::size_t>(group) * C];
      const double* pair = &pair_[static_cast<std::size_t>(group) * C * C];
      const auto at = [&](int c, int u) { return h[static_cast<std::size_t>(c) * H + u]; };
      for (int u = 0; u < H; ++u)
        for (int v = u; v < H; ++v) {
          double sum = 0.0;
          for (int c = 0; c < C; ++c) {
            sum += weight[c] * at(c, u) * at(c, v);
            for (int d = 0; d < C; ++d)
              sum -= pair[static_cast<std::size_t>(c) * C + d] * at(c, u) * at(d, v);
          }
          add(head_[u], head_[v], -sum);
        }
      for (int u = 0; u < H; ++u)
        for (int p = 0; p < size_; ++p) {
          if (is_head_[p] != 0) continue;
          double sum = 0.0;
          for (int c = 0; c < C; ++c)
            sum += at(c, u) * head_cross_[(static_cast<std::size_t>(group) * C + c) * size_ + p];
          add(head_[u], p, -sum);
        }
    }
  }

 private:
  int size_, groups_, classes_;
  std::vector<int> head_;
  std::vector<char> is_head_;
  std::vector<double> weight_;      // R_gc at [g C + c]
  std::vector<double> pair_;        // Q_g(c, d) at [(g C + c) C + d]
  std::vector<double> head_cross_;  // W_gc over the positions at [(g C + c) size + p]
};
