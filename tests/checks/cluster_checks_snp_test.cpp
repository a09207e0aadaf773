// Cluster-mean check of SNP vectors on 'I' and 'A' arrays.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "checks/cluster_checks.h"
#include "start/start.h"
#include "start/snp_fixture.h"

namespace {

// A SNP layout with every class modelled, one disease coefficient, and a plausible vector:
// LRR means -2.0, -1.0, 0.0 (sd 0.3, 0.2, 0.2) for zero, one, two copies; BAF means 0.5,
// 0, 1, 0, 0.5, 1 with sd 0.1.
struct SnpVector {
  PARA para;
  std::vector<double> v;
  SnpVector(ArrayType array_type, int dme) {
    para = snp_fixture::k_only_para();
    DATA data = snp_fixture::make_data(snp_fixture::clean_probe());
    std::vector<double> start(kMaxParams);
    get_SNP_initial_Illumina(start.data(), para, data, 0.5, array_type, dme);
    para.cn_class_present.assign(3, 1);
    para.allele_class_present.assign(6, 1);
    v.assign(para.num_params, 0.0);
    const double r_mean[3] = {-2.0, -1.0, 0.0}, r_sd[3] = {0.3, 0.2, 0.2};
    const double b_mean[6] = {0.5, 0.0, 1.0, 0.0, 0.5, 1.0};
    const int copies[6] = {0, 1, 1, 2, 2, 2};
    for (int g = 0; g <= dme; ++g)
      for (int c = 0; c < 6; ++c) {
        set_r(g, c, r_mean[copies[c]], r_sd[copies[c]]);
        v[para.b_mean_start + 6 * g + c] = b_mean[c];
        v[para.b_logvar_start + 6 * g + c] = std::log(0.01);
      }
  }
  // R entries of class c (allele class on 'A', its total class on 'I').
  int r_slot(int g, int c) const {
    const int copies[6] = {0, 1, 1, 2, 2, 2};
    return para.array_type == ArrayType::kAlleleSpecificR ? 6 * g + c : 3 * g + copies[c];
  }
  void set_r(int g, int c, double mean, double sd) {
    v[para.r_mean_start + r_slot(g, c)] = mean;
    v[para.r_logvar_start + r_slot(g, c)] = std::log(sd * sd);
  }
  void set_b_sd(int g, int c, double sd) { v[para.b_logvar_start + 6 * g + c] = std::log(sd * sd); }
  void set_b_mean(int g, int c, double mean) { v[para.b_mean_start + 6 * g + c] = mean; }
  int check() const { return check_cluster_means_SNP(v.data(), para); }
};

struct CheckCase {
  std::string name;
  ArrayType array_type;
  int dme;
  std::function<void(SnpVector&)> change;
  int expected;
  friend void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<CheckCase> check_cases() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<CheckCase> cases = {
      {"PlausibleI", ArrayType::kLrrBaf, 1, [](SnpVector&) {}, 0},
      {"PlausibleA", ArrayType::kAlleleSpecificR, 1, [](SnpVector&) {}, 0},
      {"ZeroCopyMeanAtThreshold", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 0, -1.3, 0.1); }, 0},
      {"ZeroCopyMeanAboveThreshold", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 0, -1.29, 0.1); }, 1},
      {"ZeroCopyAboveThresholdNotModelled", ArrayType::kLrrBaf, 0,
       [](SnpVector& s) {
         s.set_r(0, 0, -1.29, 0.1);
         s.para.cn_class_present[0] = 0;
         s.para.allele_class_present[0] = 0;
       },
       0},
      {"ZeroCopyMeanAboveThresholdInCases", ArrayType::kLrrBaf, 1, [](SnpVector& s) { s.set_r(1, 0, -1.29, 0.1); }, 1},
      {"LrrSd0_39OneCopy", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 1, -1.0, 0.39); }, 0},
      {"LrrSd0_41OneCopy", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 1, -1.0, 0.41); }, 1},
      {"LrrSd0_39TwoCopies", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 3, 0.0, 0.39); }, 0},
      {"LrrSd0_41TwoCopies", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 3, 0.0, 0.41); }, 1},
      {"LrrSd0_41ZeroCopy", ArrayType::kLrrBaf, 0, [](SnpVector& s) { s.set_r(0, 0, -2.0, 0.41); }, 0},
      {"OneSdClearance", ArrayType::kLrrBaf, 0,
       [](SnpVector& s) {
         s.set_r(0, 1, -0.5, 0.2);
         s.set_r(0, 3, 0.0, 0.25);
       },
       0},
      {"LessThanOneSdClearance", ArrayType::kLrrBaf, 0,
       [](SnpVector& s) {
         s.set_r(0, 1, -0.5, 0.2);
         s.set_r(0, 3, 0.0, 0.35);
       },
       1},
      {"OneCopyAboveTwoCopiesInCases", ArrayType::kLrrBaf, 1, [](SnpVector& s) { s.set_r(1, 1, 0.5, 0.1); }, 1},
      {"ZeroCopyAboveOneCopy", ArrayType::kLrrBaf, 0,
       [](SnpVector& s) {
         s.set_r(0, 0, -1.4, 0.1);
         s.set_r(0, 1, -1.5, 0.1);
       },
       1},
      {"NaNMeansNeverReject", ArrayType::kLrrBaf, 1,
       [nan](SnpVector& s) {
         for (int c : {0, 1, 3}) s.set_r(1, c, nan, 0.2);
         s.set_b_mean(0, 4, nan);
       },
       0},
      // With class A dropped nothing else compares the zero-copy mean.
      {"ZeroCopyMean100A", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 0, 100.0, 0.1);
         s.para.allele_class_present[1] = 0;
       },
       0},
      {"ZeroCopyMean100_5A", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 0, 100.5, 0.1);
         s.para.allele_class_present[1] = 0;
       },
       1},
      {"ZeroCopyMean100_5NotModelledA", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 0, 100.5, 0.1);
         s.para.allele_class_present[0] = 0;
       },
       0},
      {"RVarianceAboveOneA", ArrayType::kAlleleSpecificR, 1, [](SnpVector& s) { s.set_r(1, 5, 0.0, 1.01); }, 1},
      {"RVarianceOneA", ArrayType::kAlleleSpecificR, 1, [](SnpVector& s) { s.set_r(1, 5, 3.0, 1.0); }, 0},
      {"BVarianceAboveOneA", ArrayType::kAlleleSpecificR, 0, [](SnpVector& s) { s.set_b_sd(0, 2, 1.01); }, 1},
      // (1,1) against (2,1): the same B alleles with one more copy.
      {"OneBAboveABA", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 2, 0.1, 0.01);
         s.set_r(0, 5, 1.0, 0.2);
       },
       1},
      {"OneBAboveAANotComparedA", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 2, -0.5, 0.01);
         s.set_r(0, 3, -0.6, 0.01);
       },
       0},
      {"SeparationBAgainstBBA", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 2, -0.3, 0.2);
         s.set_r(0, 5, 0.0, 0.2);
       },
       1},
      {"SeparationBAgainstABNotTestedA", ArrayType::kAlleleSpecificR, 0,
       [](SnpVector& s) {
         s.set_r(0, 2, -0.3, 0.2);
         s.set_r(0, 4, 0.0, 0.2);
         s.set_r(0, 5, 1.0, 0.2);
       },
       0},
  };
  // BAF spread 0.24 passes and 0.26 fails in every one- or two-copy class, on 'I'; the
  // zero-copy class is not bounded.
  for (int c = 1; c < 6; ++c)
    for (double sd : {0.24, 0.26})
      cases.push_back({"BafSd" + std::to_string(static_cast<int>(sd * 100)) + "Class" + std::to_string(c),
                       ArrayType::kLrrBaf, 1, [c, sd](SnpVector& s) { s.set_b_sd(1, c, sd); }, sd > 0.25 ? 1 : 0});
  cases.push_back({"BafSd26ZeroCopy", ArrayType::kLrrBaf, 1, [](SnpVector& s) { s.set_b_sd(0, 0, 0.26); }, 0});
  // AB below AA, or BB below AB, on either array.
  for (const ArrayType a : {ArrayType::kLrrBaf, ArrayType::kAlleleSpecificR}) {
    cases.push_back({std::string("ABBelowAA") + letter_of(a), a, 0, [](SnpVector& s) { s.set_b_mean(0, 4, -0.01); }, 1});
    cases.push_back({std::string("BBBelowAB") + letter_of(a), a, 1, [](SnpVector& s) { s.set_b_mean(1, 5, 0.4); }, 1});
    cases.push_back({std::string("BBelowA") + letter_of(a), a, 1, [](SnpVector& s) { s.set_b_mean(1, 2, -0.1); }, 1});
  }
  return cases;
}

class SnpClusterCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(SnpClusterCheck, Verdict) {
  const CheckCase& c = GetParam();
  SnpVector s(c.array_type, c.dme);
  c.change(s);
  EXPECT_EQ(s.check(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, SnpClusterCheck, testing::ValuesIn(check_cases()),
                         [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

}  // namespace
