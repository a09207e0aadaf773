// CN starting values: class selection, exclusion, layout, free parameters and start values.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fit/model_fixture.h"
#include "start/start.h"

namespace {

struct Subject {
  int status;
  int cn;
  double r;
};

// Class k of status y: `count` subjects with intensities around `centre`, spread evenly.
void add_cell(std::vector<Subject>& out, int y, int k, int count, double centre) {
  for (int i = 0; i < count; ++i) out.push_back({y, k, centre + 0.02 * (i - (count - 1) / 2.0)});
}

// Every class well populated in both statuses, clusters in order.
std::vector<Subject> three_classes() {
  std::vector<Subject> s;
  for (int y = 0; y < 2; ++y) {
    add_cell(s, y, 0, 5, -2.0);
    add_cell(s, y, 1, 8, -0.5);
    add_cell(s, y, 2, 20, 0.0);
  }
  return s;
}

DATA data_of(const std::vector<Subject>& subjects) {
  DATA data = make_data(static_cast<int>(subjects.size()), 1);
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    data.disease_status[i] = subjects[i].status;
    data.called_cn[i] = subjects[i].cn;
    data.intensity_r[i] = subjects[i].r;
    data.excluded[i] = 1;  // a previous probe's flags must not survive
  }
  return data;
}

struct Start {
  int status;
  PARA para;
  DATA data;
  std::vector<double> v = std::vector<double>(kMaxParams, -99.0);
};

Start run(const std::vector<Subject>& subjects, PARA para, int dme) {
  Start s{0, std::move(para), data_of(subjects)};
  s.status = get_CN_initial(s.v.data(), s.para, s.data, 2.0, 'I', dme);
  return s;
}

const std::vector<int>& free_list(const PARA& para) { return para.free_params; }

double mean_of(const std::vector<Subject>& s, int y, int k) {
  double sum = 0.0;
  int n = 0;
  for (const Subject& x : s)
    if (x.status == y && x.cn == k && std::isfinite(x.r)) {
      sum += x.r;
      ++n;
    }
  return sum / n;
}

TEST(CnInitialLayout, BlocksAndFreeParametersForEachModelAndGroupSetting) {
  struct Case {
    PARA para;
    int dme;
    int freq_start, r_mean_start, num_params;
    std::vector<int> free;
  };
  // K only: beta, two log-ratios, means and log-variances of three classes per group.
  std::vector<Case> cases;
  cases.push_back({make_para_k_only(), 0, 1, 3, 9, {0, 1, 2, 3, 4, 5, 6, 7, 8}});
  cases.push_back(
      {make_para_k_only(), 1, 1, 3, 15, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}});
  // Two independent covariates: K, z0, z1, intercept.
  cases.push_back({make_para_independent(2), 0, 4, 6, 12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}});
  // Dependent covariate: no frequency block, means follow the coefficients.
  cases.push_back(
      {make_para_dependent(1), 1, 3, 3, 15, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}});
  for (Case& c : cases) {
    const Start s = run(three_classes(), c.para, c.dme);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.para.num_cn_classes, 3);
    EXPECT_EQ(s.para.ref_cn_class, 2);
    EXPECT_EQ(s.para.freq_start, c.freq_start);
    EXPECT_EQ(s.para.r_mean_start, c.r_mean_start);
    EXPECT_EQ(s.para.num_r_means, 3 * (c.dme + 1));
    EXPECT_EQ(s.para.r_logvar_start, c.r_mean_start + 3 * (c.dme + 1));
    EXPECT_EQ(s.para.b_mean_start, c.num_params);
    EXPECT_EQ(s.para.num_params, c.num_params);
    EXPECT_EQ(s.para.factorial, (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(free_list(s.para), c.free);
  }
}

TEST(CnInitialStart, ValuesFromCellStatistics) {
  std::vector<Subject> s = three_classes();
  // Controls of class 1 at 1, 2, 3 shifted down: variance with divisor N is 2/3.
  std::vector<Subject> t;
  for (const Subject& x : s)
    if (!(x.status == 0 && x.cn == 1)) t.push_back(x);
  for (const double r : {-1.0, -0.5, 0.0}) t.push_back({0, 1, r - 0.6});
  const Start one = run(t, make_para_k_only(), 0);
  ASSERT_EQ(one.status, 0);
  const int m = one.para.r_mean_start;
  const int q = one.para.r_logvar_start;
  // One group: started from the controls alone.
  EXPECT_NEAR(one.v[m + 1], -1.1, 1e-12);
  EXPECT_NEAR(one.v[q + 1], std::log(0.25 * 2.0 / 3.0), 1e-12);
  EXPECT_NEAR(one.v[m + 0], mean_of(t, 0, 0), 1e-12);
  // Frequencies over both statuses: classes 0, 1, 2 hold 10, 11, 40 subjects.
  EXPECT_NEAR(one.v[1], std::log(10.0 / 40.0), 1e-12);
  EXPECT_NEAR(one.v[2], std::log(11.0 / 40.0), 1e-12);

  const Start two = run(t, make_para_k_only(), 1);
  ASSERT_EQ(two.status, 0);
  // Six means: controls' classes 0, 1, 2, then the cases'.
  for (int y = 0; y < 2; ++y)
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(two.v[two.para.r_mean_start + 3 * y + k], mean_of(t, y, k), 1e-12);
}

TEST(CnInitialSelection, ClassesNeedThreeControlsAndThreeCases) {
  struct Case {
    const char* name;
    int controls1, cases1;
    std::vector<int> present;
  };
  const std::vector<Case> cases = {
      {"three and three", 3, 3, {1, 1, 1}},
      {"two controls, forty cases", 2, 40, {1, 0, 1}},
      {"forty controls, two cases", 40, 2, {1, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<Subject> s;
    for (int y = 0; y < 2; ++y) {
      add_cell(s, y, 0, 5, -2.0);
      add_cell(s, y, 2, 20, 0.0);
    }
    add_cell(s, 0, 1, c.controls1, -0.5);
    add_cell(s, 1, 1, c.cases1, -0.5);
    const Start r = run(s, make_para_k_only(), 1);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.para.cn_class_present, c.present) << c.name;
    if (c.present[1] == 0) {
      for (std::size_t i = 0; i < s.size(); ++i)
        EXPECT_EQ(r.data.excluded[i], s[i].cn == 1 ? 1 : 0) << c.name;
      for (const int position : {2, 3 + 1, 3 + 4, 9 + 1, 9 + 4})
        EXPECT_EQ(r.v[position], 0.0) << c.name;
      for (const int position : free_list(r.para))
        for (const int absent : {2, 4, 7, 10, 13}) EXPECT_NE(position, absent) << c.name;
    }
  }
}

TEST(CnInitialSelection, CallsAboveTwoCountAsTwo) {
  std::vector<Subject> s = three_classes();
  s[s.size() - 1].cn = 5;
  s[s.size() - 2].cn = 3;
  const Start r = run(s, make_para_k_only(), 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.data.called_cn[s.size() - 1], 2);
  EXPECT_EQ(r.data.called_cn[s.size() - 2], 2);
  EXPECT_EQ(r.data.excluded[s.size() - 1], 0);
}

TEST(CnInitialSelection, WithoutTwoCopiesTheRatiosAreInfinite) {
  std::vector<Subject> s;
  for (int y = 0; y < 2; ++y) {
    add_cell(s, y, 0, 5, -2.0);
    add_cell(s, y, 1, 8, -0.5);
  }
  const Start r = run(s, make_para_k_only(), 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.para.cn_class_present, (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(r.v[1], std::numeric_limits<double>::infinity());
  EXPECT_EQ(r.v[2], std::numeric_limits<double>::infinity());
}

TEST(CnInitialSelection, NoClassPresent) {
  std::vector<Subject> s;
  add_cell(s, 0, 1, 2, -0.5);
  add_cell(s, 1, 2, 2, 0.0);
  const Start r = run(s, make_para_independent(2), 1);
  EXPECT_EQ(r.status, 0);
  for (int u = 0; u < r.para.num_params; ++u) EXPECT_EQ(r.v[u], 0.0);
  EXPECT_EQ(free_list(r.para), (std::vector<int>{0, 1, 2, 3}));
  for (int i = 0; i < r.data.num_subjects; ++i) EXPECT_EQ(r.data.excluded[i], 1);
}

TEST(CnInitialVerdict, ProbeFailures) {
  struct Case {
    const char* name;
    void (*change)(std::vector<Subject>&);
    int status;
  };
  const std::vector<Case> cases = {
      {"well-populated classes in order", [](std::vector<Subject>&) {}, 0},
      {"class 0 above class 1",
       [](std::vector<Subject>& s) {
         for (Subject& x : s)
           if (x.cn == 0) x.r = -0.2;
       },
       1},
      {"equal intensities in a present class",
       [](std::vector<Subject>& s) {
         for (Subject& x : s)
           if (x.cn == 1 && x.status == 0) x.r = -0.5;
       },
       1},
      {"a negative call", [](std::vector<Subject>& s) { s[3].cn = -1; }, 1},
      {"a status other than 0 and 1", [](std::vector<Subject>& s) { s[3].status = 2; }, 1},
  };
  for (const Case& c : cases) {
    std::vector<Subject> s = three_classes();
    c.change(s);
    const Start r = run(s, make_para_k_only(), 0);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.para.num_params, 9) << c.name;  // the layout is written whatever the verdict
    EXPECT_FALSE(r.para.free_params.empty()) << c.name;
  }
}

TEST(CnInitialMissing, NonFiniteIntensitiesAreLeftOut) {
  std::vector<Subject> s = three_classes();
  const double before = mean_of(s, 0, 1);
  s.push_back({0, 1, std::numeric_limits<double>::quiet_NaN()});
  s.push_back({0, 1, std::numeric_limits<double>::infinity()});
  s.push_back({1, 0, -std::numeric_limits<double>::infinity()});
  const Start r = run(s, make_para_k_only(), 0);
  ASSERT_EQ(r.status, 0);
  EXPECT_NEAR(r.v[r.para.r_mean_start + 1], before, 1e-12);
  EXPECT_NEAR(r.v[1], std::log(10.0 / 40.0), 1e-12);  // not counted in the frequencies
  for (std::size_t i = s.size() - 3; i < s.size(); ++i) EXPECT_EQ(r.data.excluded[i], 1);

  // A class whose only finite intensities are two controls is not modelled.
  std::vector<Subject> t;
  for (int y = 0; y < 2; ++y) {
    add_cell(t, y, 0, 5, -2.0);
    add_cell(t, y, 2, 20, 0.0);
  }
  add_cell(t, 0, 1, 2, -0.5);
  t.push_back({0, 1, std::numeric_limits<double>::quiet_NaN()});
  add_cell(t, 1, 1, 4, -0.5);
  const Start u = run(t, make_para_k_only(), 0);
  EXPECT_EQ(u.para.cn_class_present, (std::vector<int>{1, 0, 1}));
}

}  // namespace
