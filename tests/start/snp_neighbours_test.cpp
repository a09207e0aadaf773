// Isolated subjects: the grid scan against the scan over all pairs, on hand-made sets and
// on random ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "start/snp_cleaning.h"
#include "snp_fixture.h"

using snp_fixture::Subject;

namespace {

// Subjects with excluded already set as step 1 leaves it (`pre` lists the left-out ones).
DATA step2_input(const std::vector<Subject>& subjects, const std::vector<int>& pre = {}) {
  DATA data = snp_fixture::make_data(subjects);
  std::fill(data.excluded.begin(), data.excluded.end(), 0);
  for (int i : pre) data.excluded[i] = 1;
  return data;
}

std::vector<int> run_grid(DATA data) {
  std::vector<int> excluded = data.excluded;
  flag_isolated_subjects(data, excluded);
  return excluded;
}

std::vector<int> run_plain(DATA data) {
  std::vector<int> excluded = data.excluded;
  flag_isolated_subjects_plain(data, excluded);
  return excluded;
}

struct IsolationCase {
  std::string name;
  std::vector<Subject> subjects;
  std::vector<int> pre_excluded;
  std::vector<int> expected;
  friend void PrintTo(const IsolationCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<IsolationCase> isolation_cases() {
  const double far = std::sqrt(0.31);  // squared LRR distance 0.31
  return {
      {"BafTenthApartKeepEachOther", {{0, 2, 0.0, 0.2}, {0, 2, 0.0, 0.3}}, {}, {0, 0}},
      {"SquaredDistance0_31Isolates", {{0, 2, 0.0, 0.5}, {0, 2, far, 0.5}}, {}, {1, 1}},
      {"ControlAndCaseKeepEachOther", {{0, 2, 0.1, 0.5}, {1, 2, 0.1, 0.5}}, {}, {0, 0}},
      {"CaseKeptByAControlOnly",
       {{0, 2, 0.1, 0.5}, {1, 2, 0.05, 0.52}, {1, 2, 0.1 + far, 0.5}}, {}, {0, 0, 1}},
      {"LeftOutByStep1DoesNotServe", {{0, 2, 0.0, 0.5}, {0, 3, 0.0, 0.5}}, {1}, {1, 1}},
      {"IdenticalIntensitiesKeepEachOther",
       {{1, 1, -0.5, 0.0}, {1, 1, -0.5, 0.0}, {1, 1, -0.5, 0.0}}, {}, {0, 0, 0}},
      {"ChainKeepsEveryLink",
       {{0, 2, 0.0, 0.5}, {0, 2, 0.5, 0.5}, {0, 2, 1.0, 0.5}, {0, 2, 1.5, 0.5}}, {}, {0, 0, 0, 0}},
      {"ExtremeValuesAcrossTheClamp",
       {{0, 2, 1.0e6 - 0.1, 0.5}, {0, 2, 1.0e6 + 0.1, 0.5}, {0, 2, 1.0e300, 0.5},
        {0, 2, -1.0e300, -1.0e300}},
       {}, {0, 0, 1, 1}},
  };
}

class IsolationTable : public testing::TestWithParam<IsolationCase> {};

TEST_P(IsolationTable, GridAndPlainScanAgreeWithHand) {
  const IsolationCase& c = GetParam();
  const DATA data = step2_input(c.subjects, c.pre_excluded);
  EXPECT_EQ(run_plain(data), c.expected);
  EXPECT_EQ(run_grid(data), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Sets, IsolationTable, testing::ValuesIn(isolation_cases()),
                         [](const testing::TestParamInfo<IsolationCase>& info) { return info.param.name; });

// Random probes mixing tight clusters, scattered subjects, exact duplicates, points on a
// lattice (so that many distances tie, some at the radius itself), values far beyond the
// grid's clamp, and subjects left out by step 1.
std::vector<Subject> random_subjects(std::mt19937& gen, int n) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_int_distribution<int> kind(0, 9);
  const double centres[4][2] = {{0.0, 0.5}, {-0.5, 0.0}, {0.0, 1.0}, {-2.0, 0.5}};
  std::vector<Subject> s;
  for (int i = 0; i < n; ++i) {
    Subject x{unit(gen) < 0.5 ? 0 : 1, unit(gen) < 0.1 ? 3 : 2, 0.0, 0.0};
    const int k = kind(gen);
    if (k < 4 || (k < 6 && s.empty())) {
      const double* c = centres[k % 4];
      x.r = c[0] + 0.15 * noise(gen);
      x.b = c[1] + 0.05 * noise(gen);
    } else if (k < 6) {
      const Subject& other = s[std::uniform_int_distribution<std::size_t>(0, s.size() - 1)(gen)];
      x.r = other.r, x.b = other.b;
    } else if (k < 8) {
      // Lattice steps 0.1 in LRR and 0.025 in BAF: many tied distances.
      x.r = 0.1 * std::uniform_int_distribution<int>(-15, 15)(gen);
      x.b = 0.025 * std::uniform_int_distribution<int>(0, 40)(gen);
    } else if (k < 9) {
      x.r = -3.0 + 5.0 * unit(gen);
      x.b = unit(gen);
    } else {
      const double big[] = {1.0e6 - 0.2, 1.0e6, 1.0e6 + 0.3, -1.0e7, 5.0e300};
      x.r = big[std::uniform_int_distribution<int>(0, 4)(gen)] + (unit(gen) < 0.5 ? 0.0 : 0.3);
      x.b = unit(gen) < 0.8 ? unit(gen) : -1.0e6 - unit(gen);
    }
    s.push_back(x);
  }
  return s;
}

std::vector<int> step1_excluded(const std::vector<Subject>& s) {
  std::vector<int> pre;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i].cn > 2) pre.push_back(static_cast<int>(i));
  return pre;
}

TEST(IsolatedSubjects, GridMatchesPlainScanOnRandomProbes) {
  std::mt19937 gen(20260512);
  int isolated = 0, kept = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int n = std::uniform_int_distribution<int>(1, 250)(gen);
    const std::vector<Subject> s = random_subjects(gen, n);
    const DATA data = step2_input(s, step1_excluded(s));
    const std::vector<int> plain = run_plain(data);
    ASSERT_EQ(run_grid(data), plain) << "trial " << trial;
    for (std::size_t i = 0; i < s.size(); ++i)
      if (s[i].cn <= 2) (plain[i] == 1 ? isolated : kept) += 1;
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(isolated, 1000);
  EXPECT_GT(kept, 1000);
}

// Ties at the radius: pairs whose squared distance is 0.3 as computed, and pairs one ulp
// on either side of it.
TEST(IsolatedSubjects, GridMatchesPlainScanAtTheRadius) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 2000; ++trial) {
    const double r0 = -2.0 + 3.0 * unit(gen), b0 = unit(gen);
    const double angle = 1.5707963267948966 * unit(gen);
    double dr = std::sqrt(0.3) * std::cos(angle), db = std::sqrt(0.3) * std::sin(angle) / 4.0;
    for (int sign : {-1, 1}) {
      const double r1 = r0 + sign * dr;
      const double b1 = std::nextafter(b0 + db, unit(gen) < 0.5 ? 0.0 : 2.0);
      const DATA data = step2_input({{0, 2, r0, b0}, {1, 2, r1, b1}});
      ASSERT_EQ(run_grid(data), run_plain(data)) << trial;
    }
  }
}

// The scan never looks at the disease status: any relabelling of cases and controls
// leaves every subject's exclusion as it was.
TEST(IsolatedSubjects, ExclusionDoesNotDependOnStatus) {
  std::mt19937 gen(4242);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<Subject> s = random_subjects(gen, 150);
    const std::vector<int> base = run_grid(step2_input(s, step1_excluded(s)));
    for (Subject& x : s) x.y = std::uniform_int_distribution<int>(0, 1)(gen);
    const DATA relabelled = step2_input(s, step1_excluded(s));
    ASSERT_EQ(run_grid(relabelled), base) << trial;
    ASSERT_EQ(run_plain(relabelled), base) << trial;
  }
}

// Because the distance is symmetric, the kept set does not depend on the order of the
// subjects: a subject found isolated could not have kept any other one either.
TEST(IsolatedSubjects, KeptSetDoesNotDependOnOrder) {
  std::mt19937 gen(99);
  for (int trial = 0; trial < 40; ++trial) {
    const std::vector<Subject> s = random_subjects(gen, 120);
    const std::vector<int> base = run_grid(step2_input(s, step1_excluded(s)));
    std::vector<std::size_t> order(s.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), gen);
    std::vector<Subject> shuffled;
    for (std::size_t i : order) shuffled.push_back(s[i]);
    const std::vector<int> moved = run_grid(step2_input(shuffled, step1_excluded(shuffled)));
    for (std::size_t p = 0; p < order.size(); ++p) ASSERT_EQ(moved[p], base[order[p]]);
  }
}

}  // namespace
