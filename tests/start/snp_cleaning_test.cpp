// Cleaning of SNP subjects: what happens to hand-placed subjects added to a clean probe.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "start/snp_cleaning.h"
#include "snp_fixture.h"

using snp_fixture::Subject;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// LRR mean and population sd of the controls called one copy in the clean probe, computed
// here from the subjects rather than from the routine's tallies.
void control_one_copy_lrr(double& m, double& s) {
  double sum = 0.0, n = 0.0;
  for (const Subject& x : snp_fixture::clean_probe())
    if (x.y == 0 && x.cn == 1) sum += x.r, n += 1;
  m = sum / n;
  double ss = 0.0;
  for (const Subject& x : snp_fixture::clean_probe())
    if (x.y == 0 && x.cn == 1) ss += (x.r - m) * (x.r - m);
  s = std::sqrt(ss / n);
}

struct Outcome {
  int excluded;
  int cn;
  int cls;  // cleaned allele class, -1 when left out
};

struct CleaningCase {
  std::string name;
  bool zero_copy_controls;  // four called zero-copy controls around LRR -1.8
  std::vector<Subject> extra;
  std::vector<Outcome> expected;  // one per extra subject
  int high_calls;
  friend void PrintTo(const CleaningCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<CleaningCase> cleaning_cases() {
  double m = 0.0, s = 0.0;
  control_one_copy_lrr(m, s);
  return {
      {"NoZeroCopyCallsLrrMinus1_5LeftOut", false,
       {{0, 1, -1.5, 0.01}, {0, 1, -1.5, 0.02}}, {{1, 1, -1}, {1, 1, -1}}, 0},
      {"NoZeroCopyCallsLrrMinus1_2Stays", false,
       {{0, 1, -1.2, 0.01}, {0, 1, -1.2, 0.02}}, {{0, 1, 1}, {0, 1, 1}}, 0},
      {"ZeroCopyWindowLrrMinus1_5BecomesZero", true, {{0, 1, -1.5, 0.5}}, {{0, 0, 0}}, 0},
      {"ZeroCopyWindowLrrMinus1_2StaysOneCopy", true, {{0, 1, -1.2, 0.5}}, {{0, 1, 1}}, 0},
      {"ZeroCopyWindowBafOutsideLeftOut", true,
       {{0, 1, -1.5, 0.8}, {0, 2, -1.45, 0.8}}, {{1, 1, -1}, {1, 2, -1}}, 0},
      {"TwoCopiesBaf0_9AtOneCopyLrrBecomesB", false, {{0, 2, m, 0.9}}, {{0, 1, 2}}, 0},
      {"TwoCopiesBaf0_5AtOneCopyLrrStaysAB", false, {{0, 2, m, 0.5}}, {{0, 2, 4}}, 0},
      {"TwoCopies2SdBelowOneCopyBecomesA", false, {{0, 2, m - 2.0 * s, 0.01}}, {{0, 1, 1}}, 0},
      {"TwoCopies3SdBelowOneCopyLeftOut", false, {{0, 2, m - 3.0 * s, 0.01}}, {{1, 2, -1}}, 0},
      {"OneCopyBafExactly0_5IsA", false, {{0, 1, -0.1, 0.5}}, {{0, 1, 1}}, 0},
      {"TwoCopiesBafExactly0_25IsAAAnd0_75IsAB", false,
       {{0, 2, 0.0, 0.25}, {0, 2, 0.0, 0.26}, {0, 2, 0.0, 0.75}, {0, 2, 0.0, 0.74}},
       {{0, 2, 3}, {0, 2, 4}, {0, 2, 4}, {0, 2, 4}}, 0},
      {"IsolatedSubjectLeftOut", false, {{0, 2, 1.0, 0.5}}, {{1, 2, -1}}, 0},
      {"ControlAndCaseWithEqualIntensitiesKeepEachOther", false,
       {{0, 2, 1.0, 0.5}, {1, 2, 1.0, 0.5}}, {{0, 2, 4}, {0, 2, 4}}, 0},
      {"CalledThreeLeftOutCountedAndKept", false, {{0, 3, 0.0, 0.5}}, {{1, 3, -1}}, 1},
      {"NonFiniteIntensityLeftOutNotCounted", false,
       {{0, 3, kNaN, 0.5}, {1, 1, -0.5, kInf}, {0, 2, -kInf, 0.5}},
       {{1, 3, -1}, {1, 1, -1}, {1, 2, -1}}, 0},
  };
}

class SnpCleaningTable : public testing::TestWithParam<CleaningCase> {};

TEST_P(SnpCleaningTable, PlacesSubject) {
  const CleaningCase& c = GetParam();
  std::vector<Subject> subjects = snp_fixture::clean_probe();
  if (c.zero_copy_controls) snp_fixture::add_zero_copy(subjects, 0, -1.8);
  const std::size_t first_extra = subjects.size();
  subjects.insert(subjects.end(), c.extra.begin(), c.extra.end());
  const DATA data = snp_fixture::make_data(subjects);
  ProbeSelection selection;
  selection.begin(data.called_cn, data.num_subjects);
  const SnpCleaning clean = clean_SNP_subjects(data, selection);
  EXPECT_EQ(clean.high_calls, c.high_calls);
  for (std::size_t e = 0; e < c.extra.size(); ++e) {
    const std::size_t i = first_extra + e;
    SCOPED_TRACE("extra subject " + std::to_string(e));
    EXPECT_EQ(selection.excluded[i], c.expected[e].excluded);
    EXPECT_EQ(selection.calls[i], c.expected[e].cn);
    EXPECT_EQ(clean.cleaned_class[i], c.expected[e].cls);
  }
  // The background stays as it is.
  for (std::size_t i = 0; i < snp_fixture::clean_probe().size(); ++i) {
    EXPECT_EQ(selection.excluded[i], 0) << i;
    EXPECT_EQ(selection.calls[i], subjects[i].cn) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, SnpCleaningTable, testing::ValuesIn(cleaning_cases()),
                         [](const testing::TestParamInfo<CleaningCase>& info) { return info.param.name; });

void expect_same_tally(const SnpTally& a, const SnpTally& b) {
  for (int y = 0; y < 2; ++y) {
    for (int k = 0; k < kNumCnClasses; ++k) {
      EXPECT_EQ(a.y[y].r_count[k], b.y[y].r_count[k]);
      EXPECT_EQ(a.y[y].r_sum[k], b.y[y].r_sum[k]);
      EXPECT_EQ(a.y[y].r_sumsq[k], b.y[y].r_sumsq[k]);
    }
    for (int c = 0; c < kNumSnpClasses; ++c) {
      EXPECT_EQ(a.y[y].b_count[c], b.y[y].b_count[c]);
      EXPECT_EQ(a.y[y].b_sum[c], b.y[y].b_sum[c]);
      EXPECT_EQ(a.y[y].b_sumsq[c], b.y[y].b_sumsq[c]);
    }
  }
}

// A subject without a finite intensity pair leaves no trace: neither in the tallies nor as
// a neighbour nor in the count of high calls, wherever it stands.
TEST(SnpCleaning, NonFiniteSubjectLeavesNoTrace) {
  std::vector<Subject> base = snp_fixture::clean_probe();
  snp_fixture::add_zero_copy(base, 0, -1.8);
  snp_fixture::add_zero_copy(base, 1, -1.8);
  const DATA plain_data = snp_fixture::make_data(base);
  ProbeSelection plain_selection;
  plain_selection.begin(plain_data.called_cn, plain_data.num_subjects);
  const SnpCleaning plain = clean_SNP_subjects(plain_data, plain_selection);
  const Subject ghosts[] = {{0, 1, kNaN, 0.5}, {1, 3, 0.0, kNaN}, {0, 0, kInf, 0.5}, {1, 2, -0.5, -kInf}};
  for (const Subject& ghost : ghosts)
    for (std::size_t at : {std::size_t{0}, base.size() / 2, base.size()}) {
      std::vector<Subject> with = base;
      with.insert(with.begin() + static_cast<long>(at), ghost);
      const DATA data = snp_fixture::make_data(with);
      ProbeSelection selection;
      selection.begin(data.called_cn, data.num_subjects);
      const SnpCleaning clean = clean_SNP_subjects(data, selection);
      EXPECT_EQ(clean.high_calls, plain.high_calls);
      expect_same_tally(clean.first, plain.first);
      expect_same_tally(clean.cleaned, plain.cleaned);
      EXPECT_EQ(selection.excluded[at], 1);
      EXPECT_EQ(clean.cleaned_class[at], -1);
    }
}

// Statistics of a tally, against values worked by hand.
TEST(SnpCleaning, ClassStatistics) {
  SnpGroupTally t;
  EXPECT_EQ(lrr_stats(t, 0).m, -100.0);
  EXPECT_EQ(baf_stats(t, 0).b, -100.0);
  EXPECT_EQ(baf_stats(t, 0).degenerate, 1);
  EXPECT_TRUE(std::isnan(lrr_stats(t, 1).m));
  EXPECT_EQ(baf_stats(t, 5).degenerate, 1);  // empty: sum of squares 0

  // LRR 1, 2, 3: mean 2, population sd sqrt(2/3).
  t.r_count[2] = 3, t.r_sum[2] = 6.0, t.r_sumsq[2] = 14.0;
  EXPECT_DOUBLE_EQ(lrr_stats(t, 2).m, 2.0);
  EXPECT_DOUBLE_EQ(lrr_stats(t, 2).s, std::sqrt(2.0 / 3.0));
  // Equal LRRs whose centred sum of squares rounds below zero give sd 0, not NaN.
  // (Seven LRRs of 0.7, summed as the tally sums them.)
  for (int i = 0; i < 7; ++i) t.r_count[1] += 1, t.r_sum[1] += 0.7, t.r_sumsq[1] += 0.7 * 0.7;
  EXPECT_EQ(lrr_stats(t, 1).s, 0.0);
  // BB BAFs 0.9, 1.0: sum of squares of (b - 1) is 0.01, w = sqrt(0.01 / 2), centre 1.
  t.b_count[5] = 2, t.b_sumsq[5] = 0.01;
  EXPECT_EQ(baf_stats(t, 5).b, 1.0);
  EXPECT_DOUBLE_EQ(baf_stats(t, 5).w, std::sqrt(0.005));
  EXPECT_EQ(baf_stats(t, 5).degenerate, 0);
  // A sum of squares just below 0.0001 is degenerate; AB never is.
  t.b_count[3] = 4, t.b_sumsq[3] = 0.000099;
  EXPECT_EQ(baf_stats(t, 3).degenerate, 1);
  EXPECT_EQ(baf_stats(t, 3).w, 0.0);
  t.b_count[4] = 3, t.b_sum[4] = 1.5, t.b_sumsq[4] = 0.75;
  EXPECT_EQ(baf_stats(t, 4).degenerate, 0);
  EXPECT_DOUBLE_EQ(baf_stats(t, 4).b, 0.5);
  EXPECT_EQ(baf_stats(t, 4).w, 0.0);
}

}  // namespace
