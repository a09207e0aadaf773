// The robust start: calls that agree with the intensities, robust centres, and a start
// that calling errors cannot drag, judged against the simulated truth.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/layout.h"
#include "fit/model_fixture.h"
#include "start/robust_start.h"
#include "start/snp_fixture.h"

namespace {

int mismatches(const std::vector<int>& calls, const SimProbe& probe) {
  int count = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) count += std::min(calls[i], 2) != probe.true_k[i];
  return count;
}

// Median R of the subjects of status y whose true class is k.
double true_median(const SimProbe& probe, const DATA& data, int y, int k) {
  std::vector<double> values;
  for (int i = 0; i < data.num_subjects; ++i)
    if (probe.true_k[i] == k && data.disease_status[i] == y) values.push_back(probe.r[i]);
  return median_of(values);
}

TEST(MedianOf, OddEvenAndEmpty) {
  std::vector<double> odd{3.0, -1.0, 2.0};
  std::vector<double> even{4.0, 1.0, 3.0, 2.0};
  std::vector<double> empty;
  EXPECT_EQ(median_of(odd), 2.0);
  EXPECT_EQ(median_of(even), 2.5);
  EXPECT_TRUE(std::isnan(median_of(empty)));
}

// Random miscalls and a segment caller's errors: the reassigned calls disagree with the
// truth far less often than the given ones, the centres sit near the medians of the true
// classes (the one-copy centre a little away from two copies, as the core of the two-copy
// class is left out of it), and the caller's calls are untouched.
TEST(IntensityConsistentCalls, UndoMostCallingErrorsInBothDirections) {
  struct Case {
    const char* name;
    double miscall, missed, false_call;
  };
  for (const Case& c : {Case{"5% random", 0.05, 0.0, 0.0}, Case{"2% random", 0.02, 0.0, 0.0},
                        Case{"30% missed, 0.5% false", 0.0, 0.30, 0.005}}) {
    for (const bool snp : {false, true}) {
      SimSettings settings = cn_settings(2000, 0, 1.5, 41);
      settings.probe_type = snp ? "SNP" : "CN";
      settings.miscall_rate = c.miscall;
      settings.missed_carrier_rate = c.missed;
      settings.false_call_rate = c.false_call;
      settings.freq1 = 0.05;
      const SimSubjects subjects = make_subjects(settings);
      DATA data = data_from_subjects(subjects, 0);
      int before = 0, after = 0;
      for (int index = 0; index < 6; ++index) {
        const SimProbe probe = make_probe(settings, subjects, index);
        load_probe(data, probe);
        if (snp) data.intensity_b = probe.b;
        const std::vector<int> given = data.called_cn;
        const IntensityCalls judged = intensity_consistent_calls(data, snp);
        EXPECT_EQ(data.called_cn, given);
        before += mismatches(given, probe);
        after += mismatches(judged.calls, probe);
        for (int y = 0; y < 2; ++y)
          for (int k = 1; k <= 2; ++k)
            EXPECT_NEAR(judged.centres.centre[y][k], true_median(probe, data, y, k), k == 1 ? 0.12 : 0.01)
                << c.name << " status " << y << " class " << k << (snp ? " SNP" : " CN");
        if (snp) {  // a heterozygous-looking subject carries two copies
          for (int i = 0; i < data.num_subjects; ++i) {
            if (judged.calls[i] == 1 && given[i] != 1) {
              EXPECT_TRUE(probe.b[i] <= 0.25 || probe.b[i] > 0.75);
            }
          }
        }
      }
      EXPECT_LT(after, before / 2) << c.name << (snp ? " SNP" : " CN");
    }
  }
}

// Subjects the judgement cannot weigh keep their calls: a missing intensity, and on SNP
// probes a call above two copies.
TEST(IntensityConsistentCalls, LeavesUnjudgedSubjectsAlone) {
  std::vector<snp_fixture::Subject> subjects;
  for (int i = 0; i < 40; ++i) subjects.push_back({i % 2, 2, 0.01 * (i % 7), 0.5});
  for (int i = 0; i < 8; ++i) subjects.push_back({i % 2, 1, -0.5 + 0.01 * i, 0.0});
  subjects.push_back({0, 1, std::nan(""), 0.0});  // missing intensity
  subjects.push_back({1, 3, -0.5, 0.0});          // above two copies, looks like one
  subjects.push_back({0, 1, 0.02, 0.5});          // looks like two copies
  const DATA data = snp_fixture::make_data(subjects);
  const IntensityCalls judged = intensity_consistent_calls(data, true);
  const int n = data.num_subjects;
  EXPECT_EQ(judged.calls[n - 3], 1);
  EXPECT_EQ(judged.calls[n - 2], 3);
  EXPECT_EQ(judged.calls[n - 1], 2);
  EXPECT_EQ(judged.moved, 1);
}

// A CN probe whose one-copy cluster is padded by miscalled two-copy subjects: the robust
// start and its reference sit on the true one-copy mean, and the layout is the stated one.
TEST(RobustInitial, CnStartAndReferenceSitOnTheTrueClusters) {
  SimSettings settings = cn_settings(2000, 0, 1.5, 43);
  settings.miscall_rate = 0.05;
  settings.freq1 = 0.05;
  const SimSubjects subjects = make_subjects(settings);
  for (const int dme : {0, 1}) {
    DATA data = data_from_subjects(subjects, 0);
    load_probe(data, make_probe(settings, subjects, 3));
    PARA para = make_para_k_only();
    std::vector<double> start(kMaxParams, 0.0), reference(kMaxParams, 0.0);
    ProbeSelection selection;
    ASSERT_EQ(get_robust_initial(start.data(), reference.data(), para, data, 2.0, false,
                                 ArrayType::kLrrBaf, dme, selection),
              0);
    const ParamLayout layout(para);
    for (int g = 0; g <= dme; ++g) {
      EXPECT_NEAR(start[layout.r_mean(g, 1)], -0.5, 0.04);
      EXPECT_NEAR(reference[layout.r_mean(g, 1)], -0.5, 0.07);
      EXPECT_NEAR(start[layout.r_mean(g, 2)], 0.0, 0.02);
      EXPECT_NEAR(std::exp(start[layout.r_logvar(g, 1)] / 2), 0.18, 0.05);
      EXPECT_NEAR(std::exp(start[layout.r_logvar(g, 2)] / 2), 0.15, 0.03);
    }
    // The frequency of one copy against two, from the mixture.
    EXPECT_NEAR(std::exp(start[layout.frequency(1)]), 0.05 / 0.93, 0.02);
    release_probe_arrays(para);
  }
}

}  // namespace
