#pragma once
// Small hand-made SNP probes for the starting-value tests.

#include <vector>

#include "core/data.h"
#include "core/para.h"
#include "design_edit.h"

namespace snp_fixture {

// A model with only the main effect of K (one disease coefficient, no covariate).
inline PARA k_only_para(ModelFamily family = ModelFamily::kRetrospective) {
  PARA para;
  RunDesign& design = edit_design(para);
  clear_effects(design, 0);
  design.model_family = family;
  design.num_genetic_variables = 2;
  design.genetic_effects(0, 0) = EffectFlag::kTested;
  list_disease_coefficients(design);
  return para;
}

struct Subject {
  int y;     // disease status
  int cn;    // called copy number
  double r;  // LRR
  double b;  // BAF
};

inline DATA make_data(const std::vector<Subject>& subjects) {
  DATA data;
  data.num_subjects = static_cast<int>(subjects.size());
  for (const Subject& s : subjects) {
    data.disease_status.push_back(s.y);
    data.called_cn.push_back(s.cn);
    data.intensity_r.push_back(s.r);
    data.intensity_b.push_back(s.b);
    data.excluded.push_back(-1);
  }
  return data;
}

// n subjects (at most 6) of one cluster, one status: LRR r0 + {-0.05, -0.03, .., 0.05}
// (sd 0.0342 for six), BAF b0 + step * {0 .. n-1}. Neighbours lie close to each other.
inline void add_cluster(std::vector<Subject>& out, int y, int cn, double r0, double b0, double step,
                        int n = 6) {
  const double dr[6] = {-0.05, -0.03, -0.01, 0.01, 0.03, 0.05};
  for (int j = 0; j < n; ++j) out.push_back({y, cn, r0 + dr[j], b0 + step * j});
}

// Removes the subjects of one status and called copy number.
inline void remove_calls(std::vector<Subject>& s, int y, int cn) {
  std::erase_if(s, [&](const Subject& x) { return x.y == y && x.cn == cn; });
}

// A clean probe: in both statuses AA, AB, BB at LRR 0 and A, B at LRR -0.5, six subjects
// each. Every class but the zero-copy class is modelled, and the probe is usable.
inline std::vector<Subject> clean_probe() {
  std::vector<Subject> s;
  for (int y = 0; y < 2; ++y) {
    add_cluster(s, y, 2, 0.0, 0.01, 0.005);    // AA
    add_cluster(s, y, 2, 0.0, 0.48, 0.008);    // AB
    add_cluster(s, y, 2, 0.0, 0.99, -0.005);   // BB
    add_cluster(s, y, 1, -0.5, 0.01, 0.005);   // A
    add_cluster(s, y, 1, -0.5, 0.99, -0.005);  // B
  }
  return s;
}

// Four zero-copy subjects of one status around LRR r0 (sd 0.2236) and BAF 0.5 (sd 0.0707).
inline void add_zero_copy(std::vector<Subject>& out, int y, double r0) {
  out.push_back({y, 0, r0 - 0.3, 0.4});
  out.push_back({y, 0, r0 - 0.1, 0.5});
  out.push_back({y, 0, r0 + 0.1, 0.6});
  out.push_back({y, 0, r0 + 0.3, 0.5});
}

}  // namespace snp_fixture
