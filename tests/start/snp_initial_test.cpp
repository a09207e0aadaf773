// SNP starting values: layout and free parameters, start values, screening statuses and
// the handling of input outside the data model.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "start/start.h"
#include "start/snp_cleaning.h"
#include "snp_fixture.h"

using snp_fixture::Subject;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ProbeRun {
  PARA para;
  DATA data;
  std::vector<double> start = std::vector<double>(kMaxParams, 12345.0);
  int status = -1;
};

ProbeRun run(const std::vector<Subject>& subjects, char array_type = 'I', int dme = 1,
             ModelFamily family = ModelFamily::kRetrospective,
        double pfb = 0.5) {
  ProbeRun r;
  r.para = snp_fixture::k_only_para(family);
  r.data = snp_fixture::make_data(subjects);
  r.status = get_SNP_initial_Illumina(r.start.data(), r.para, r.data, pfb, array_type, dme);
  return r;
}

const std::vector<int>& free_list(const PARA& para) { return para.free_params; }

// ---------------------------------------------------------------------------------------
// Layout and free parameters.

struct LayoutCase {
  std::string name;
  char array_type;
  int dme;
  ModelFamily family;
  int r_mean_start, r_logvar_start, b_mean_start, b_logvar_start, num_params;
  std::vector<int> free;
  friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<LayoutCase> layout_cases() {
  return {
      {"I_TwoGroups", 'I', 1, ModelFamily::kRetrospective, 4, 10, 16, 28, 40,
       {0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 20, 26, 29, 30, 31, 32, 33, 35, 36, 37, 38, 39}},
      {"I_OneGroup", 'I', 0, ModelFamily::kRetrospective, 4, 7, 10, 16, 22, {0, 2, 3, 5, 6, 8, 9, 14, 17, 18, 19, 20, 21}},
      {"I_Sieve", 'I', 1, ModelFamily::kProspectiveSieve, 1, 7, 13, 25, 37,
       {0, 2, 3, 5, 6, 8, 9, 11, 12, 17, 23, 26, 27, 28, 29, 30, 32, 33, 34, 35, 36}},
      {"A_TwoGroups", 'A', 1, ModelFamily::kRetrospective, 4, 16, 28, 40, 52, {0, 2, 3}},
      {"A_OneGroupSieve", 'A', 0, ModelFamily::kProspectiveSieve, 1, 7, 13, 19, 25, {0}},
  };
}

class SnpLayout : public testing::TestWithParam<LayoutCase> {};

// On the clean probe every class but the zero-copy class is modelled.
TEST_P(SnpLayout, PositionsAndFreeParameters) {
  const LayoutCase& c = GetParam();
  const ProbeRun r = run(snp_fixture::clean_probe(), c.array_type, c.dme, c.family);
  const PARA& p = r.para;
  EXPECT_EQ(r.status, 0);
  const int groups = c.dme + 1;
  EXPECT_EQ(p.array_type, c.array_type);
  EXPECT_EQ(p.differential_measurement_errors, c.dme);
  EXPECT_EQ(p.num_cn_classes, 3);
  EXPECT_EQ(p.num_allele_classes, 6);
  EXPECT_EQ(p.ref_cn_class, 2);
  EXPECT_EQ(p.ref_allele_class, 4);
  EXPECT_EQ(p.num_r_means, groups * (c.array_type == 'A' ? 6 : 3));
  EXPECT_EQ(p.num_r_logvars, p.num_r_means);
  EXPECT_EQ(p.num_b_means, groups * 6);
  EXPECT_EQ(p.num_b_logvars, groups * 6);
  EXPECT_EQ(p.freq_start, 1);
  EXPECT_EQ(p.r_mean_start, c.r_mean_start);
  EXPECT_EQ(p.r_logvar_start, c.r_logvar_start);
  EXPECT_EQ(p.b_mean_start, c.b_mean_start);
  EXPECT_EQ(p.b_logvar_start, c.b_logvar_start);
  EXPECT_EQ(p.b_logvar_end, c.num_params);
  EXPECT_EQ(p.num_params, c.num_params);
  EXPECT_EQ(p.factorial, (std::vector<int>{1, 1, 2}));
  for (int k = 0; k <= 2; ++k)
    for (int l = 0; l <= k; ++l) EXPECT_EQ(p.allele_class_index[k][l], k * (k + 1) / 2 + l);
  EXPECT_EQ(p.cn_class_present, (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(p.allele_class_present, (std::vector<int>{0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(free_list(p), c.free);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SnpLayout, testing::ValuesIn(layout_cases()),
                         [](const testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------
// Start values, against statistics computed here from the retained subjects.

struct Moments {
  double mean = 0.0, var = 0.0;
  int n = 0;
};

// Mean and population variance of f over the retained subjects of status y that pass `in`.
Moments moments(const ProbeRun& r, int y, const std::function<bool(int)>& in,
                const std::function<double(int)>& f) {
  Moments m;
  for (int i = 0; i < r.data.num_subjects; ++i)
    if (r.data.excluded[i] == 0 && r.data.disease_status[i] == y && in(i)) m.mean += f(i), ++m.n;
  m.mean /= m.n;
  for (int i = 0; i < r.data.num_subjects; ++i)
    if (r.data.excluded[i] == 0 && r.data.disease_status[i] == y && in(i))
      m.var += (f(i) - m.mean) * (f(i) - m.mean);
  m.var /= m.n;
  return m;
}

int allele_class(const ProbeRun& r, int i) {
  const double b = r.data.intensity_b[i];
  const int k = r.data.called_cn[i];
  if (k == 0) return 0;
  if (k == 1) return b > 0.5 ? 2 : 1;
  return b <= 0.25 ? 3 : (b <= 0.75 ? 4 : 5);
}

void expect_start_values(const ProbeRun& r) {
  const PARA& p = r.para;
  const double* s = r.start.data();
  const int copies[6] = {0, 1, 1, 2, 2, 2};
  const double centre[6] = {0.0, 0.0, 1.0, 0.0, 0.0, 1.0};
  // Class frequencies over both statuses: 24 one-copy and 36 two-copy subjects.
  EXPECT_EQ(s[p.freq_start], 0.0);  // zero copies not modelled
  EXPECT_DOUBLE_EQ(s[p.freq_start + 1], std::log(24.0 / 36.0));
  EXPECT_EQ(s[p.freq_start + 2], 0.0);  // logit of pfb 0.5
  for (int g = 0; g <= p.differential_measurement_errors; ++g) {
    for (int c = 0; c < 6; ++c) {
      SCOPED_TRACE("group " + std::to_string(g) + " class " + std::to_string(c));
      const int k = copies[c];
      const Moments lrr = moments(r, g, [&](int i) { return r.data.called_cn[i] == k; },
                                  [&](int i) { return r.data.intensity_r[i]; });
      const int rm = p.array_type == 'A' ? p.r_mean_start + 6 * g + c : p.r_mean_start + 3 * g + k;
      const int rv = p.array_type == 'A' ? p.r_logvar_start + 6 * g + c : p.r_logvar_start + 3 * g + k;
      const int bm = p.b_mean_start + 6 * g + c, bv = p.b_logvar_start + 6 * g + c;
      if (p.allele_class_present[c] == 0) {
        EXPECT_EQ(s[bm], 0.0);
        EXPECT_EQ(s[bv], 0.0);
        if (p.array_type == 'A') {
          EXPECT_EQ(s[rm], 0.0);
        }
        continue;
      }
      EXPECT_NEAR(s[rm], lrr.mean, 1e-12);
      EXPECT_NEAR(s[rv], std::log(lrr.var), 1e-9);
      const auto in_class = [&](int i) { return allele_class(r, i) == c; };
      if (c == 4) {
        const Moments baf = moments(r, g, in_class, [&](int i) { return r.data.intensity_b[i]; });
        EXPECT_NEAR(s[bm], baf.mean, 1e-12);
        EXPECT_NEAR(s[bv], std::log(baf.var), 1e-9);
      } else {
        // Fixed centre, spread about it.
        EXPECT_EQ(s[bm], centre[c]);
        const Moments dev = moments(r, g, in_class, [&](int i) {
          return (r.data.intensity_b[i] - centre[c]) * (r.data.intensity_b[i] - centre[c]);
        });
        EXPECT_NEAR(s[bv], std::log(dev.mean), 1e-9);
      }
    }
  }
}

TEST(SnpStart, ValuesFromCleanedClasses) {
  for (char array_type : {'I', 'A'})
    for (int dme : {0, 1}) {
      SCOPED_TRACE(std::string("array ") + array_type + " groups " + std::to_string(dme + 1));
      const ProbeRun r = run(snp_fixture::clean_probe(), array_type, dme);
      ASSERT_EQ(r.status, 0);
      expect_start_values(r);
      // Entries past the vector are not written.
      EXPECT_EQ(r.start[r.para.num_params], 12345.0);
    }
}

// With one set of intensity parameters the start comes from the controls alone.
TEST(SnpStart, OneGroupStartsFromControls) {
  std::vector<Subject> s = snp_fixture::clean_probe();
  for (Subject& x : s)
    if (x.y == 1 && x.cn == 2) x.r += 0.1;
  const ProbeRun r = run(s, 'I', 0);
  ASSERT_EQ(r.status, 0);
  const Moments controls = moments(r, 0, [&](int i) { return r.data.called_cn[i] == 2; },
                                   [&](int i) { return r.data.intensity_r[i]; });
  EXPECT_NEAR(r.start[r.para.r_mean_start + 2], controls.mean, 1e-12);
  EXPECT_NEAR(controls.mean, 0.0, 1e-12);
}

TEST(SnpStart, SieveHasNoFrequencyBlock) {
  const ProbeRun r = run(snp_fixture::clean_probe(), 'I', 1, ModelFamily::kProspectiveSieve);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.para.r_mean_start, r.para.freq_start);
  // The first entry after the disease model is the controls' zero-copy R mean (absent).
  EXPECT_EQ(r.start[r.para.freq_start], 0.0);
  EXPECT_NEAR(r.start[r.para.freq_start + 1], -0.5, 1e-12);
}

// A BB class whose BAFs all sit on 1.0 has no spread: it is dropped and its subjects are
// left out, while the two-copy class stays with AA and AB.
TEST(SnpStart, DegenerateClassIsDropped) {
  std::vector<Subject> s = snp_fixture::clean_probe();
  for (Subject& x : s)
    if (x.cn == 2 && x.b > 0.75 && x.y == 0) x.b = 1.0;
  const ProbeRun r = run(s);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.para.allele_class_present, (std::vector<int>{0, 1, 1, 1, 1, 0}));
  EXPECT_EQ(r.para.cn_class_present, (std::vector<int>{0, 1, 1}));
  for (int i = 0; i < r.data.num_subjects; ++i)
    EXPECT_EQ(r.data.excluded[i], s[i].cn == 2 && s[i].b > 0.75 ? 1 : 0) << i;
}

// ---------------------------------------------------------------------------------------
// Screening: the first test that applies decides.

void add_high_calls(std::vector<Subject>& s, int count) {
  for (int i = 0; i < count; ++i) s.push_back({i % 2, 3 + i % 4, 0.0, 0.5});
}

// Cases' one-copy A subjects replaced by two called ones (LRR -0.55, -0.45) and `moved`
// two-copy calls at the one-copy LRR that the cleaning turns into A.
std::vector<Subject> grown_class(int moved) {
  std::vector<Subject> s = snp_fixture::clean_probe();
  std::erase_if(s, [](const Subject& x) { return x.y == 1 && x.cn == 1 && x.b <= 0.5; });
  s.push_back({1, 1, -0.55, 0.01});
  s.push_back({1, 1, -0.45, 0.02});
  for (int j = 0; j < moved; ++j) s.push_back({1, 2, -0.5, 0.01 + 0.002 * j});
  return s;
}

// Only A subjects on one copy: `controls` and `cases` of them.
std::vector<Subject> one_copy_calls(int controls, int cases) {
  std::vector<Subject> s = snp_fixture::clean_probe();
  std::erase_if(s, [](const Subject& x) { return x.cn == 1; });
  snp_fixture::add_cluster(s, 0, 1, -0.5, 0.01, 0.005, controls);
  snp_fixture::add_cluster(s, 1, 1, -0.5, 0.01, 0.005, cases);
  return s;
}

struct StatusCase {
  std::string name;
  std::function<std::vector<Subject>()> subjects;
  int dme;
  int expected;    // array 'I'
  int expected_a;  // array 'A', whose zero-copy location check is another
  friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<StatusCase> status_cases() {
  using snp_fixture::clean_probe;
  return {
      {"CleanProbe", clean_probe, 1, 0, 0},
      {"NineOneCopyCalls", [] { return one_copy_calls(5, 4); }, 1, 6, 6},
      {"TenOneCopyCalls", [] { return one_copy_calls(5, 5); }, 1, 0, 0},
      {"ClassGrewTwoToTwenty", [] { return grown_class(18); }, 1, 7, 7},
      {"ClassGrewTwoToNineteen", [] { return grown_class(17); }, 1, 0, 0},
      {"HighCalls350",
       [] {
         auto s = clean_probe();
         add_high_calls(s, 350);
         return s;
       },
       1, 0, 0},
      {"HighCalls351",
       [] {
         auto s = clean_probe();
         add_high_calls(s, 351);
         return s;
       },
       1, 9, 9},
      {"ClusterCheckBeforeHighCalls",
       [] {
         auto s = clean_probe();
         snp_fixture::add_zero_copy(s, 0, -1.2);
         snp_fixture::add_zero_copy(s, 1, -1.2);
         add_high_calls(s, 351);
         return s;
       },
       1, 1, 2},
      // One group: the cluster check sees the controls only; the screening both statuses.
      {"CasesZeroCopyHighOneGroup",
       [] {
         auto s = clean_probe();
         snp_fixture::add_zero_copy(s, 0, -1.8);
         snp_fixture::add_zero_copy(s, 1, -1.2);
         return s;
       },
       0, 2, 2},
      {"CasesZeroCopyHighTwoGroups",
       [] {
         auto s = clean_probe();
         snp_fixture::add_zero_copy(s, 0, -1.8);
         snp_fixture::add_zero_copy(s, 1, -1.2);
         return s;
       },
       1, 1, 2},
      {"CasesWideBafOneGroup",
       [] {
         auto s = clean_probe();
         std::erase_if(s, [](const Subject& x) { return x.y == 1 && x.cn == 1 && x.b <= 0.5; });
         snp_fixture::add_cluster(s, 1, 1, -0.5, 0.2, 0.05);
         return s;
       },
       0, 5, 5},
      {"NoOneCopyCases",
       [] {
         auto s = clean_probe();
         snp_fixture::remove_calls(s, 1, 1);
         return s;
       },
       1, 8, 8},
      // Without two-copy subjects the frequency log-ratios are infinite.
      {"NoTwoCopySubjects",
       [] {
         auto s = clean_probe();
         std::erase_if(s, [](const Subject& x) { return x.cn == 2; });
         return s;
       },
       1, 1, 1},
  };
}

class SnpScreening : public testing::TestWithParam<StatusCase> {};

TEST_P(SnpScreening, Status) {
  const StatusCase& c = GetParam();
  EXPECT_EQ(run(c.subjects(), 'I', c.dme).status, c.expected) << "array I";
  EXPECT_EQ(run(c.subjects(), 'A', c.dme).status, c.expected_a) << "array A";
}

INSTANTIATE_TEST_SUITE_P(Statuses, SnpScreening, testing::ValuesIn(status_cases()),
                         [](const testing::TestParamInfo<StatusCase>& info) { return info.param.name; });

TEST(SnpScreening, BAlleleFrequencyWithoutFiniteLogit) {
  for (const ModelFamily family : {ModelFamily::kRetrospective, ModelFamily::kProspectiveSieve}) {
    for (double pfb : {0.0, 1.0, kNaN, 1.5, -0.1}) {
      SCOPED_TRACE("pfb " + std::to_string(pfb) + " sieve " + std::to_string(family == ModelFamily::kProspectiveSieve));
      EXPECT_EQ(run(snp_fixture::clean_probe(), 'I', 1, family, pfb).status, 1);
    }
    EXPECT_EQ(run(snp_fixture::clean_probe(), 'I', 1, family, 0.3).status, 0);
  }
}

// ---------------------------------------------------------------------------------------
// Input outside the data model: a failing status, no out-of-range access (the sanitizers
// watch), the per-probe arrays allocated all the same, and nothing modelled.

TEST(SnpInvalidInput, RejectedWithStatus3) {
  const auto subjects_with = [](int y, int cn) {
    auto s = snp_fixture::clean_probe();
    s.push_back({y, cn, 0.0, 0.5});
    return s;
  };
  struct Bad {
    std::string name;
    std::vector<Subject> subjects;
    char array_type;
    int dme;
  };
  const std::vector<Bad> bad = {
      {"NegativeCall", subjects_with(0, -1), 'I', 1},
      {"StatusTwo", subjects_with(2, 2), 'I', 1},
      {"NegativeStatus", subjects_with(-1, 2), 'A', 0},
      {"ArrayT", snp_fixture::clean_probe(), 'T', 1},
      {"GroupsFlag2", snp_fixture::clean_probe(), 'I', 2},
      {"GroupsFlagHuge", snp_fixture::clean_probe(), 'A', 1 << 30},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    const ProbeRun r = run(b.subjects, b.array_type, b.dme);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.para.cn_class_present, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(r.para.allele_class_present, (std::vector<int>(6, 0)));
    EXPECT_EQ(r.para.factorial.size(), 3u);
    EXPECT_FALSE(r.para.free_params.empty());
    for (int e : r.data.excluded) EXPECT_EQ(e, 1);
  }
}

// More subjects announced than the per-subject arrays hold.
TEST(SnpInvalidInput, ShortSubjectArrays) {
  PARA para = snp_fixture::k_only_para();
  DATA data = snp_fixture::make_data(snp_fixture::clean_probe());
  data.num_subjects += 1;
  std::vector<double> start(kMaxParams);
  EXPECT_EQ(get_SNP_initial_Illumina(start.data(), para, data, 0.5, 'I', 1), 3);
}

// A disease model so large that the vector would pass the driver's 200 entries is refused
// before the start vector is written.
TEST(SnpInvalidInput, VectorLongerThanDriversRoom) {
  ProbeRun r;
  r.para = snp_fixture::k_only_para();
  edit_design(r.para).num_disease_coefs = 170;  // 170 + 3 + 12 + 24 = 209 entries
  r.data = snp_fixture::make_data(snp_fixture::clean_probe());
  std::vector<double> start(kMaxParams, 7.0);
  EXPECT_EQ(get_SNP_initial_Illumina(start.data(), r.para, r.data, 0.5, 'I', 1), 3);
  EXPECT_EQ(r.para.num_params, 209);
  for (double v : start) EXPECT_EQ(v, 7.0);
  edit_design(r.para).num_disease_coefs = 161;  // exactly 200
  EXPECT_EQ(get_SNP_initial_Illumina(start.data(), r.para, r.data, 0.5, 'I', 1), 0);
}

}  // namespace
