// Acceptance of a fitted SNP vector against its start, on 'I' and 'A' layouts.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "checks/acceptance.h"
#include "driver/probe.h"
#include "start/start.h"
#include "start/snp_fixture.h"

namespace {

// Start values of the clean probe (every class but zero copies modelled; one-copy LRR sd
// 0.034), and a fitted vector that equals them unless a case changes it.
struct Acceptance {
  PARA para;
  std::vector<double> s = std::vector<double>(kMaxParams, 0.0);
  std::vector<double> f;
  Acceptance(ArrayType array_type, int dme) {
    para = snp_fixture::k_only_para();
    DATA data = snp_fixture::make_data(snp_fixture::clean_probe());
    EXPECT_EQ(get_SNP_initial_Illumina(s.data(), para, data, 0.5, array_type, dme), 0);
    f = s;
  }
  int stride() const { return para.array_type == ArrayType::kAlleleSpecificR ? 6 : 3; }
  double& r_mean(int g, int cls) { return f[para.r_mean_start + stride() * g + cls]; }
  double& b_mean(int g, int c) { return f[para.b_mean_start + 6 * g + c]; }
  int accept() const { return accept_fit(f.data(), s.data(), para, true) == Outcome::kOk ? 0 : 1; }
};

struct AcceptCase {
  std::string name;
  ArrayType array_type;
  int dme;
  std::function<void(Acceptance&)> change;
  int expected;
  friend void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<AcceptCase> accept_cases() {
  return {
      {"UnchangedI", ArrayType::kLrrBaf, 1, [](Acceptance&) {}, 0},
      {"UnchangedA", ArrayType::kAlleleSpecificR, 1, [](Acceptance&) {}, 0},
      // One-copy R mean moved by more than its sd.
      {"OneCopyMovedI", ArrayType::kLrrBaf, 1, [](Acceptance& a) { a.r_mean(1, 1) += 0.1; }, 1},
      {"ClassAMovedA", ArrayType::kAlleleSpecificR, 1, [](Acceptance& a) { a.r_mean(1, 1) += 0.1; }, 1},
      {"ClassBMovedA", ArrayType::kAlleleSpecificR, 0, [](Acceptance& a) { a.r_mean(0, 2) -= 0.1; }, 1},
      // The entry that stride 3 would take for the cases' one-copy mean on an 'A' layout is
      // the controls' AB mean: moving it by 0.1 is no one-copy move, and the shift between
      // groups changes by less than 0.25.
      {"ControlsABNotReadAsOneCopyA", ArrayType::kAlleleSpecificR, 1, [](Acceptance& a) { a.r_mean(0, 4) += 0.1; }, 0},
      // Case-minus-control shift of two copies against one copy.
      {"TwoCopyShiftI", ArrayType::kLrrBaf, 1, [](Acceptance& a) { a.r_mean(1, 2) += 0.3; }, 1},
      {"TwoCopyShiftA", ArrayType::kAlleleSpecificR, 1, [](Acceptance& a) { a.r_mean(1, 4) += 0.3; }, 1},
      {"ShiftBelowLimitA", ArrayType::kAlleleSpecificR, 1, [](Acceptance& a) { a.r_mean(1, 4) += 0.2; }, 0},
      {"ShiftSkippedWithOneGroupA", ArrayType::kAlleleSpecificR, 0, [](Acceptance& a) { a.r_mean(0, 4) += 0.3; }, 0},
      // Without AB the shift is judged on AA.
      {"ShiftOnAAWithoutABA", ArrayType::kAlleleSpecificR, 1,
       [](Acceptance& a) {
         a.para.allele_class_present[4] = 0;
         a.r_mean(1, 3) += 0.3;
       },
       1},
      {"UnmodelledAIsNotReadA", ArrayType::kAlleleSpecificR, 1,
       [](Acceptance& a) {
         a.para.allele_class_present[1] = 0;
         a.r_mean(1, 1) += 5.0;
       },
       0},
      {"ShiftOnBWithoutAA", ArrayType::kAlleleSpecificR, 1,
       [](Acceptance& a) {
         a.para.allele_class_present[1] = 0;
         a.r_mean(0, 2) -= 0.3;
         a.f[a.para.r_logvar_start + 2] = 0.0;  // sd 1: the move itself passes
       },
       1},
      // The heterozygous B mean must stay within 0.13 of 0.5, when AB is modelled.
      {"ABMeanFarFromHalfI", ArrayType::kLrrBaf, 1, [](Acceptance& a) { a.b_mean(1, 4) = 0.64; }, 1},
      {"ABMeanFarFromHalfA", ArrayType::kAlleleSpecificR, 1, [](Acceptance& a) { a.b_mean(0, 4) = 0.36; }, 1},
      {"ABNotModelledI", ArrayType::kLrrBaf, 1,
       [](Acceptance& a) {
         a.para.allele_class_present[4] = 0;
         a.b_mean(1, 4) = 0.0;
       },
       0},
  };
}

class AcceptFitSnp : public testing::TestWithParam<AcceptCase> {};

TEST_P(AcceptFitSnp, Verdict) {
  const AcceptCase& c = GetParam();
  Acceptance a(c.array_type, c.dme);
  c.change(a);
  EXPECT_EQ(a.accept(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, AcceptFitSnp, testing::ValuesIn(accept_cases()),
                         [](const testing::TestParamInfo<AcceptCase>& info) { return info.param.name; });

}  // namespace
