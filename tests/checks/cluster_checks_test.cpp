// Cluster-mean plausibility of CN and SNP parameter vectors.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "checks/cluster_checks.h"

namespace {

// A CN layout with the intensity blocks at the head of the vector.
PARA cn_para(int dme, std::vector<int> present) {
  PARA p;
  p.num_cn_classes = 3;
  p.differential_measurement_errors = dme;
  p.cn_class_present = std::move(present);
  p.r_mean_start = 0;
  p.r_logvar_start = 3 * (dme + 1);
  p.num_params = 6 * (dme + 1);
  return p;
}

// Means and standard deviations per group, classes 0, 1, 2.
std::vector<double> cn_vector(const std::vector<std::vector<double>>& means,
                              const std::vector<std::vector<double>>& sds) {
  const std::size_t groups = means.size();
  std::vector<double> v(6 * groups);
  for (std::size_t g = 0; g < groups; ++g)
    for (int k = 0; k < 3; ++k) {
      v[3 * g + k] = means[g][k];
      v[3 * groups + 3 * g + k] = std::log(sds[g][k] * sds[g][k]);
    }
  return v;
}

TEST(ClusterChecksCN, Cases) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<int> present;
    std::vector<std::vector<double>> means, sds;
    int expected;
  };
  const std::vector<Case> cases = {
      {"rising lower limits", {1, 1, 1}, {{-2.0, -0.5, 0.0}}, {{0.3, 0.6, 0.2}}, 0},
      {"lower limit of class 1 above that of class 2",
       {1, 1, 1},
       {{-2.0, -0.5, 0.0}},
       {{0.3, 0.1, 0.5}},
       1},
      {"equal means", {1, 1, 1}, {{-2.0, -0.5, -0.5}}, {{0.3, 0.2, 0.2}}, 0},
      {"reversed means", {1, 1, 1}, {{-2.0, 0.1, 0.0}}, {{0.3, 0.2, 0.2}}, 1},
      {"class 1 absent breaks the chain", {1, 0, 1}, {{0.5, -0.5, 0.0}}, {{0.1, 0.2, 0.2}}, 0},
      {"class 0 absent", {0, 1, 1}, {{5.0, -0.5, 0.0}}, {{0.1, 0.2, 0.2}}, 0},
      {"NaN mean never rejects", {1, 1, 1}, {{-2.0, nan, 0.0}}, {{0.3, 0.2, 0.2}}, 0},
      {"reversal in the cases alone",
       {1, 1, 1},
       {{-2.0, -0.5, 0.0}, {-2.0, 0.1, 0.0}},
       {{0.3, 0.2, 0.2}, {0.3, 0.2, 0.2}},
       1},
      {"two groups in order",
       {1, 1, 1},
       {{-2.0, -0.5, 0.0}, {-1.9, -0.45, 0.05}},
       {{0.3, 0.2, 0.2}, {0.3, 0.2, 0.2}},
       0},
  };
  for (const Case& c : cases) {
    const PARA p = cn_para(static_cast<int>(c.means.size()) - 1, c.present);
    EXPECT_EQ(check_cluster_means_CN(cn_vector(c.means, c.sds).data(), p), c.expected) << c.name;
  }
}

// SNP layout: R blocks by total class ('I') or allele-specific class ('A'), then B blocks.
PARA snp_para(char type, std::vector<int> cn_present, std::vector<int> allele_present) {
  PARA p;
  p.array_type = type;
  p.num_cn_classes = 3;
  p.num_allele_classes = 6;
  p.differential_measurement_errors = 0;
  p.cn_class_present = std::move(cn_present);
  p.allele_class_present = std::move(allele_present);
  const int r = type == 'A' ? 6 : 3;
  p.r_mean_start = 0;
  p.r_logvar_start = r;
  p.b_mean_start = 2 * r;
  p.b_logvar_start = 2 * r + 6;
  p.num_params = 2 * r + 12;
  return p;
}

// A plausible 'I' vector: R means -2, -0.5, 0 (sd 0.3, 0.2, 0.15); B means by class.
std::vector<double> snp_vector_I() {
  std::vector<double> v(18);
  const double r_mean[3] = {-2.0, -0.5, 0.0};
  const double r_sd[3] = {0.3, 0.2, 0.15};
  const double b_mean[6] = {0.5, 0.0, 1.0, 0.0, 0.5, 1.0};
  for (int k = 0; k < 3; ++k) {
    v[k] = r_mean[k];
    v[3 + k] = std::log(r_sd[k] * r_sd[k]);
  }
  for (int c = 0; c < 6; ++c) {
    v[6 + c] = b_mean[c];
    v[12 + c] = std::log(0.05 * 0.05);
  }
  return v;
}

TEST(ClusterChecksSNP, IlluminaCases) {
  const std::vector<int> all_cn = {1, 1, 1};
  const std::vector<int> all_alleles = {1, 1, 1, 1, 1, 1};
  struct Case {
    const char* name;
    std::vector<int> cn_present;
    void (*change)(std::vector<double>&);
    int expected;
  };
  const std::vector<Case> cases = {
      {"plausible", all_cn, [](std::vector<double>&) {}, 0},
      {"zero-copy mean -1.3", all_cn,
       [](std::vector<double>& v) {
         v[0] = -1.3;
         v[1] = -0.5;
       },
       0},
      {"zero-copy mean -1.29", all_cn, [](std::vector<double>& v) { v[0] = -1.29; }, 1},
      {"zero-copy mean -1.29, class absent",
       {0, 1, 1},
       [](std::vector<double>& v) { v[0] = -1.29; },
       0},
      {"R sd 0.39 in class 1", all_cn,
       [](std::vector<double>& v) {
         v[4] = std::log(0.39 * 0.39);
         v[1] = -0.9;
       },
       0},
      {"R sd 0.41 in class 1", all_cn,
       [](std::vector<double>& v) {
         v[4] = std::log(0.41 * 0.41);
         v[1] = -0.9;
       },
       1},
      {"R sd 0.41 in class 0", all_cn, [](std::vector<double>& v) { v[3] = std::log(0.41 * 0.41); },
       0},
      {"B sd 0.24", all_cn, [](std::vector<double>& v) { v[12 + 4] = std::log(0.24 * 0.24); }, 0},
      {"B sd 0.26", all_cn, [](std::vector<double>& v) { v[12 + 2] = std::log(0.26 * 0.26); }, 1},
      {"one sd of clearance", all_cn,
       [](std::vector<double>& v) {
         v[4] = std::log(0.04);
         v[5] = std::log(0.25 * 0.25);
       },
       0},
      {"overlap of one and two copies", all_cn,
       [](std::vector<double>& v) {
         v[4] = std::log(0.04);
         v[5] = std::log(0.35 * 0.35);
       },
       1},
      {"B mean of AB below AA", all_cn, [](std::vector<double>& v) { v[6 + 4] = -0.1; }, 1},
      {"R means reversed", all_cn,
       [](std::vector<double>& v) {
         v[1] = 0.1;
         v[2] = 0.05;
       },
       1},
  };
  for (const Case& c : cases) {
    std::vector<double> v = snp_vector_I();
    c.change(v);
    EXPECT_EQ(check_cluster_means_SNP(v.data(), snp_para('I', c.cn_present, all_alleles)),
              c.expected)
        << c.name;
  }
}

TEST(ClusterChecksSNP, AffymetrixCases) {
  // R blocks by allele-specific class; means 99, 150, 150, 200, 200, 200 with variance 0.1.
  std::vector<double> v(24);
  const double r_mean[6] = {99.0, 150.0, 150.0, 200.0, 200.0, 200.0};
  const double b_mean[6] = {0.5, 0.0, 1.0, 0.0, 0.5, 1.0};
  for (int c = 0; c < 6; ++c) {
    v[c] = r_mean[c];
    v[6 + c] = std::log(0.1);
    v[12 + c] = b_mean[c];
    v[18 + c] = std::log(0.01);
  }
  const PARA p = snp_para('A', {1, 1, 1}, {1, 1, 1, 1, 1, 1});
  EXPECT_EQ(check_cluster_means_SNP(v.data(), p), 0);
  v[0] = 100.0;
  EXPECT_EQ(check_cluster_means_SNP(v.data(), p), 0);
  v[0] = 100.5;
  EXPECT_EQ(check_cluster_means_SNP(v.data(), p), 1);
  v[0] = 99.0;
  v[12 + 4] = -0.1;  // B mean of (2,1) below (2,0)
  EXPECT_EQ(check_cluster_means_SNP(v.data(), p), 1);
}

}  // namespace
