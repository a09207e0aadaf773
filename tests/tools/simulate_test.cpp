// Tests of the data simulator: the library's model (frequencies, effects,
// intensities, calls), the files it writes, and the command-line program.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/simulate.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> read_lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh directory under the system's temporary directory, removed afterwards.
struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& tag) {
    path = fs::temp_directory_path() /
           ("quillmark_sim_" + tag + "_" + std::to_string(::getpid()));
    fs::remove_all(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

// Class counts [status][k] of the called copy numbers of a probe.
struct Counts {
  double n[2][3] = {};
};
Counts called_counts(const SimProbe& p, const SimSubjects& subjects) {
  Counts c;
  for (std::size_t i = 0; i < p.called_cn.size(); ++i) c.n[subjects.status[i]][p.called_cn[i]] += 1;
  return c;
}

// Log odds ratio of k copies against 2 copies, cases against controls, from a 2x2 table.
double log_or_vs_two(const Counts& c, int k) {
  return std::log((c.n[1][k] / c.n[1][2]) / (c.n[0][k] / c.n[0][2]));
}

}  // namespace

TEST(SimulatorModel, SameSeedSameDataOtherSeedOtherData) {
  SimSettings s;
  s.num_subjects = 300;
  s.num_numeric_covariates = 1;
  s.miscall_rate = 0.05;
  const SimSubjects a = make_subjects(s);
  const SimSubjects b = make_subjects(s);
  EXPECT_EQ(a.status, b.status);
  EXPECT_EQ(a.covariates, b.covariates);
  const SimProbe p = make_probe(s, a, 7);
  const SimProbe q = make_probe(s, b, 7);
  EXPECT_EQ(p.true_k, q.true_k);
  EXPECT_EQ(p.true_l, q.true_l);
  EXPECT_EQ(p.called_cn, q.called_cn);
  EXPECT_EQ(p.r, q.r);
  EXPECT_EQ(p.b, q.b);
  EXPECT_EQ(p.pfb, q.pfb);

  // Reused storage gives the same probe; another index or seed gives other data.
  SimProbe reused = make_probe(s, a, 3);
  fill_probe(reused, s, a, 7);
  EXPECT_EQ(reused.r, p.r);
  EXPECT_EQ(reused.called_cn, p.called_cn);
  EXPECT_NE(make_probe(s, a, 8).r, p.r);
  SimSettings other = s;
  other.seed = 2;
  EXPECT_NE(make_subjects(other).covariates, a.covariates);
  EXPECT_NE(make_probe(other, a, 7).r, p.r);
}

TEST(SimulatorModel, StatusCountNullPatternNamesAndPositions) {
  SimSettings s;
  s.num_subjects = 101;
  s.case_fraction = 0.3;
  s.num_probes = 50;
  s.null_fraction = 0.7;
  const SimSubjects subjects = make_subjects(s);
  EXPECT_EQ(std::count(subjects.status.begin(), subjects.status.end(), 1), 30);  // round(30.3)
  s.num_cases = 44;
  const SimSubjects fixed = make_subjects(s);
  EXPECT_EQ(std::count(fixed.status.begin(), fixed.status.end(), 1), 44);

  int associated = 0;
  SimProbe previous;
  for (int i = 0; i < s.num_probes; ++i) {
    const SimProbe p = make_probe(s, subjects, i);
    associated += p.associated ? 1 : 0;
    EXPECT_EQ(p.log_or, p.associated ? std::log(s.odds_ratio) : 0.0);
    if (i > 0) {
      EXPECT_TRUE(p.chr > previous.chr || (p.chr == previous.chr && p.pos > previous.pos)) << p.name;
      EXPECT_LE(p.chr, 22);
    }
    previous = p;
  }
  EXPECT_EQ(associated, 15);
  EXPECT_EQ(make_probe(s, subjects, 0).name, "rs000001");
  s.probe_type = "CN";
  EXPECT_EQ(make_probe(s, subjects, 41).name, "cnv_000042");
}

TEST(SimulatorModel, FrequenciesAndLogOddsRatioRecoveredFromCalls) {
  SimSettings s;
  s.probe_type = "CN";
  s.num_subjects = 20000;
  s.null_fraction = 0.5;  // probe 0 null, probe 1 associated
  s.odds_ratio = 2.5;
  s.freq0 = 0.05;
  s.freq1 = 0.20;
  const SimSubjects subjects = make_subjects(s);

  const Counts null_probe = called_counts(make_probe(s, subjects, 0), subjects);
  const double controls = null_probe.n[0][0] + null_probe.n[0][1] + null_probe.n[0][2];
  EXPECT_NEAR(null_probe.n[0][0] / controls, 0.05, 0.01);
  EXPECT_NEAR(null_probe.n[0][1] / controls, 0.20, 0.02);
  EXPECT_NEAR(log_or_vs_two(null_probe, 1), 0.0, 0.15);

  // Cases follow the frequencies tilted by exp(log_or * k): the ratio against
  // two copies moves by -log_or per missing copy.
  const SimProbe p = make_probe(s, subjects, 1);
  ASSERT_TRUE(p.associated);
  const Counts c = called_counts(p, subjects);
  EXPECT_NEAR(log_or_vs_two(c, 1), -std::log(2.5), 0.15);
  EXPECT_NEAR(log_or_vs_two(c, 0), -2.0 * std::log(2.5), 0.3);
}

TEST(SimulatorModel, AlleleEffectAndBAlleleFrequencyOfSnpProbes) {
  SimSettings s;
  s.num_subjects = 20000;
  s.null_fraction = 0.0;
  s.odds_ratio = 1.0;
  s.odds_ratio_L = 2.0;
  const SimSubjects subjects = make_subjects(s);
  const SimProbe p = make_probe(s, subjects, 0);
  double n[2][3] = {};  // two-copy genotypes AA, AB, BB by status
  double b_alleles = 0, alleles = 0;
  for (std::size_t i = 0; i < p.true_k.size(); ++i) {
    if (p.true_k[i] != 2) continue;
    n[subjects.status[i]][p.true_l[i]] += 1;
    if (subjects.status[i] == 0) {
      b_alleles += p.true_l[i];
      alleles += 2;
    }
  }
  EXPECT_NEAR(b_alleles / alleles, p.pfb, 0.02);
  // eta(2, 0) - eta(2, 1) = 2 log_or_L.
  EXPECT_NEAR(std::log((n[1][0] / n[1][1]) / (n[0][0] / n[0][1])), 2.0 * std::log(2.0), 0.2);
  EXPECT_NEAR(std::log((n[1][2] / n[1][1]) / (n[0][2] / n[0][1])), -2.0 * std::log(2.0), 0.2);
}

TEST(SimulatorModel, CovariatesAndDependentFrequencies) {
  SimSettings s;
  s.num_subjects = 20000;
  s.num_numeric_covariates = 2;
  s.categorical_levels = 3;
  s.covariate_log_or = 0.5;
  const SimSubjects subjects = make_subjects(s);
  ASSERT_EQ(subjects.covariate_names, (std::vector<std::string>{"cov1", "cov2", "cat"}));
  double sum[2] = {}, count[2] = {}, level3[2] = {}, level1[2] = {};
  for (std::size_t i = 0; i < subjects.status.size(); ++i) {
    const int y = subjects.status[i];
    sum[y] += subjects.covariates[i][1];
    count[y] += 1;
    level3[y] += subjects.covariates[i][2] == 3.0;
    level1[y] += subjects.covariates[i][2] == 1.0;
  }
  EXPECT_NEAR(sum[0] / count[0], 0.0, 0.05);
  EXPECT_NEAR(sum[1] / count[1], 0.5, 0.05);
  EXPECT_NEAR(std::log((level3[1] / level1[1]) / (level3[0] / level1[0])), 1.0, 0.15);

  SimSettings d;
  d.probe_type = "CN";
  d.num_subjects = 20000;
  d.dependent_covariate = true;
  d.dependent_levels = 3;
  d.freq1 = 0.2;
  d.null_fraction = 1.0;
  const SimSubjects dep = make_subjects(d);
  ASSERT_EQ(dep.covariate_names, std::vector<std::string>{"dep"});
  const SimProbe p = make_probe(d, dep, 0);
  double ones[3] = {}, all[3] = {};
  for (std::size_t i = 0; i < p.true_k.size(); ++i) {
    const int z = dep.dependent_value[i];
    ASSERT_EQ(dep.covariates[i][0], z);
    ones[z] += p.true_k[i] == 1;
    all[z] += 1;
  }
  EXPECT_NEAR(ones[0] / all[0], 0.2 * 0.5, 0.02);
  EXPECT_NEAR(ones[1] / all[1], 0.2 * 1.0, 0.02);
  EXPECT_NEAR(ones[2] / all[2], 0.2 * 1.5, 0.02);
}

TEST(SimulatorModel, IntensitiesClippedRoundedAndPlausible) {
  for (const bool differential : {false, true}) {
    SimSettings s;
    s.num_subjects = 20000;
    s.freq0 = 0.05;
    s.differential = differential;
    const SimSubjects subjects = make_subjects(s);
    const SimProbe p = make_probe(s, subjects, 0);
    int at_zero = 0, at_one = 0;
    double sum[2][3] = {}, sq[2][3] = {}, n[2][3] = {};
    for (std::size_t i = 0; i < p.r.size(); ++i) {
      ASSERT_GE(p.b[i], 0.0);
      ASSERT_LE(p.b[i], 1.0);
      at_zero += p.b[i] == 0.0;
      at_one += p.b[i] == 1.0;
      ASSERT_EQ(p.r[i], std::nearbyint(p.r[i] * 1e4) / 1e4);
      const int y = subjects.status[i], k = p.true_k[i];
      sum[y][k] += p.r[i];
      sq[y][k] += p.r[i] * p.r[i];
      n[y][k] += 1;
    }
    EXPECT_GT(at_zero, 100);  // homozygous classes lose half their mass to the bound
    EXPECT_GT(at_one, 100);
    for (int y = 0; y < 2; ++y) {
      double mean[3], sd[3];
      for (int k = 0; k < 3; ++k) {
        mean[k] = sum[y][k] / n[y][k];
        sd[k] = std::sqrt(sq[y][k] / n[y][k] - mean[k] * mean[k]);
      }
      // The plausibility limits of the program's cluster checks.
      EXPECT_LT(mean[0], -1.3);
      EXPECT_LT(sd[1], 0.4);
      EXPECT_LT(sd[2], 0.4);
      EXPECT_GE(mean[2] - sd[2], mean[1] + sd[1]);
      EXPECT_NEAR(mean[1], y == 1 && differential ? -0.44 : -0.5, 0.02);
      EXPECT_NEAR(sd[2], y == 1 && differential ? 0.15 * 1.15 : 0.15, 0.01);
    }
  }
}

TEST(SimulatorModel, MiscallRateHonouredWithNeighbouringValues) {
  for (const double rate : {0.0, 0.1}) {
    SimSettings s;
    s.probe_type = "CN";
    s.num_subjects = 20000;
    s.miscall_rate = rate;
    const SimSubjects subjects = make_subjects(s);
    const SimProbe p = make_probe(s, subjects, 0);
    int wrong = 0;
    for (std::size_t i = 0; i < p.called_cn.size(); ++i) {
      ASSERT_GE(p.called_cn[i], 0);
      ASSERT_LE(p.called_cn[i], 2);
      ASSERT_LE(std::abs(p.called_cn[i] - p.true_k[i]), 1);
      wrong += p.called_cn[i] != p.true_k[i];
    }
    EXPECT_NEAR(wrong / 20000.0, rate, 0.01);
  }
}

// The caller profile: missed carriers (k < 2 called 2) and false deletions (k = 2 called 1)
// at the set rates, with every other call left true when the random miscall is off.
TEST(SimulatorModel, CallerProfileRatesHonoured) {
  struct Case {
    double missed, false_call;
  };
  for (const Case c : {Case{0.3, 0.0}, Case{0.0, 0.02}, Case{0.25, 0.05}}) {
    SCOPED_TRACE(std::to_string(c.missed) + " " + std::to_string(c.false_call));
    SimSettings s;
    s.num_subjects = 20000;
    s.freq0 = 0.05;
    s.freq1 = 0.2;
    s.missed_carrier_rate = c.missed;
    s.false_call_rate = c.false_call;
    const SimSubjects subjects = make_subjects(s);
    double carriers = 0, missed = 0, twos = 0, false_calls = 0;
    for (int probe = 0; probe < 3; ++probe) {
      const SimProbe p = make_probe(s, subjects, probe);
      for (std::size_t i = 0; i < p.true_k.size(); ++i) {
        const int k = p.true_k[i], called = p.called_cn[i];
        if (k < 2) {
          carriers += 1;
          missed += called == 2;
          ASSERT_TRUE(called == k || called == 2);
        } else {
          twos += 1;
          false_calls += called == 1;
          ASSERT_TRUE(called == 2 || called == 1);
        }
      }
    }
    // Within four binomial standard deviations.
    EXPECT_NEAR(missed / carriers, c.missed, 4.0 * std::sqrt(c.missed * (1 - c.missed) / carriers) + 1e-12);
    EXPECT_NEAR(false_calls / twos, c.false_call,
                4.0 * std::sqrt(c.false_call * (1 - c.false_call) / twos) + 1e-12);
  }
}

// The profile ignores the intensities: among subjects of one true class, those called
// wrongly and those called rightly have the same intensity means.
TEST(SimulatorModel, CallerProfileIndependentOfIntensity) {
  SimSettings s;
  s.num_subjects = 20000;
  s.freq0 = 0.05;
  s.freq1 = 0.2;
  s.missed_carrier_rate = 0.3;
  s.false_call_rate = 0.1;
  const SimSubjects subjects = make_subjects(s);
  // [true k][called right or wrong]: count, sum and sum of squares of R, sum of B.
  double n[3][2] = {}, sum_r[3][2] = {}, sumsq_r[3][2] = {}, sum_b[3][2] = {};
  for (int probe = 0; probe < 2; ++probe) {
    const SimProbe p = make_probe(s, subjects, probe);
    for (std::size_t i = 0; i < p.true_k.size(); ++i) {
      const int k = p.true_k[i], wrong = p.called_cn[i] != k ? 1 : 0;
      n[k][wrong] += 1;
      sum_r[k][wrong] += p.r[i];
      sumsq_r[k][wrong] += p.r[i] * p.r[i];
      sum_b[k][wrong] += std::fabs(p.b[i] - 0.5);
    }
  }
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE("k = " + std::to_string(k));
    ASSERT_GT(n[k][1], 100);
    double mean[2], var[2];
    for (int w = 0; w < 2; ++w) {
      mean[w] = sum_r[k][w] / n[k][w];
      var[w] = sumsq_r[k][w] / n[k][w] - mean[w] * mean[w];
    }
    const double se = std::sqrt(var[0] / n[k][0] + var[1] / n[k][1]);
    EXPECT_NEAR(mean[1], mean[0], 4.0 * se);
    // |B - 0.5| is at most 0.5: its means differ by far less than 0.05 when unrelated.
    EXPECT_NEAR(sum_b[k][1] / n[k][1], sum_b[k][0] / n[k][0], 0.03);
  }
}

// The profile draws from a stream of its own: the classes, the intensities and the random
// miscalls of a probe are those made without it, and a call differs only where the
// profile struck a subject that the random miscall left alone.
TEST(SimulatorModel, CallerProfileLeavesTheRestOfTheProbe) {
  SimSettings plain;
  plain.num_subjects = 3000;
  plain.miscall_rate = 0.1;
  plain.freq1 = 0.2;
  SimSettings profiled = plain;
  profiled.missed_carrier_rate = 0.4;
  profiled.false_call_rate = 0.1;
  const SimSubjects subjects = make_subjects(plain);
  int changed = 0;
  for (int probe = 0; probe < 3; ++probe) {
    const SimProbe a = make_probe(plain, subjects, probe);
    const SimProbe b = make_probe(profiled, subjects, probe);
    EXPECT_EQ(a.true_k, b.true_k);
    EXPECT_EQ(a.true_l, b.true_l);
    EXPECT_EQ(a.r, b.r);
    EXPECT_EQ(a.b, b.b);
    EXPECT_EQ(a.pfb, b.pfb);
    EXPECT_EQ(a.pos, b.pos);
    for (std::size_t i = 0; i < a.true_k.size(); ++i) {
      const int k = a.true_k[i];
      if (a.called_cn[i] != k) {
        ASSERT_EQ(b.called_cn[i], a.called_cn[i]) << i;  // the random miscall stands
      } else if (b.called_cn[i] != k) {
        ASSERT_EQ(b.called_cn[i], k < 2 ? 2 : 1) << i;
        ++changed;
      }
    }
  }
  EXPECT_GT(changed, 300);
}

// Frequent CNVs: a one-copy frequency of 0.2 with 2 to 5 % zero copies, with or without
// the dependent covariate.
TEST(SimulatorModel, FrequentCnvsAccepted) {
  for (const double freq0 : {0.02, 0.05})
    for (const bool dependent : {false, true}) {
      SimSettings s;
      s.freq0 = freq0;
      s.freq1 = 0.2;
      s.dependent_covariate = dependent;
      s.dependent_levels = 3;
      EXPECT_EQ(validate_settings(s), "") << freq0 << " " << dependent;
    }
}

TEST(SimulatorModel, InvalidSettingsAreNamed) {
  struct Case {
    const char* what;
    void (*change)(SimSettings&);
  };
  const Case cases[] = {
      {"probe type", [](SimSettings& s) { s.probe_type = "XY"; }},
      {"array type", [](SimSettings& s) { s.array_type = 'T'; }},
      {"case", [](SimSettings& s) { s.case_fraction = 1.0; }},
      {"L needs SNP", [](SimSettings& s) { s.probe_type = "CN"; s.odds_ratio_L = 2.0; }},
      {"dependent alone", [](SimSettings& s) { s.dependent_covariate = true; s.num_numeric_covariates = 1; }},
      {"frequencies", [](SimSettings& s) { s.freq0 = 0.5; s.freq1 = 0.5; }},
      {"levels", [](SimSettings& s) { s.categorical_levels = 1; }},
      {"odds ratio", [](SimSettings& s) { s.odds_ratio = 0.0; }},
      {"missed-carrier rate", [](SimSettings& s) { s.missed_carrier_rate = 1.5; }},
      {"false-call rate", [](SimSettings& s) { s.false_call_rate = -0.1; }},
  };
  EXPECT_EQ(validate_settings(SimSettings{}), "");
  for (const auto& c : cases) {
    SimSettings s;
    c.change(s);
    EXPECT_NE(validate_settings(s), "") << c.what;
    EXPECT_THROW(write_input_set(s, "unused"), std::invalid_argument) << c.what;
  }
}

TEST(SimulatorFiles, ShapesOfEveryFile) {
  struct Case {
    std::string probe_type;
    int covariates;
    int levels;
    bool dependent;
    std::string header;
    std::vector<std::string> spec_lines;
  };
  const Case cases[] = {
      {"CN", 0, 0, false, "status", {"PROBE_TYPE = CN", "EFFECT = K", "DIFFERENTIAL_MEASUREMENT_ERRORS = 0"}},
      {"SNP", 2, 3, false, "status cov1 cov2 cat",
       {"PROBE_TYPE = SNP", "CATEGORICAL = cat", "EFFECT = K cov1 cov2 cat", "ARRAY_TYPE = I"}},
      {"SNP", 0, 0, true, "status dep", {"DEPENDENT = dep", "EFFECT = K dep"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    TempDir dir("shapes");
    SimSettings s;
    s.probe_type = c.probe_type;
    s.num_subjects = 37;
    s.num_probes = 9;
    s.num_numeric_covariates = c.covariates;
    s.categorical_levels = c.levels;
    s.dependent_covariate = c.dependent;
    write_input_set(s, dir.path.string());
    const bool snp = c.probe_type == "SNP";
    const std::size_t columns = 1 + static_cast<std::size_t>(c.covariates + (c.levels > 0) + c.dependent);

    const auto pheno = read_lines(dir.path / "phenotype.dat");
    ASSERT_EQ(pheno.size(), 38u);
    EXPECT_EQ(pheno[0], c.header);
    for (std::size_t i = 1; i < pheno.size(); ++i) {
      const auto t = tokens(pheno[i]);
      ASSERT_EQ(t.size(), columns);
      EXPECT_TRUE(t[0] == "0" || t[0] == "1");
    }

    const auto raw = read_lines(dir.path / "raw.dat");
    const auto raw_info = read_lines(dir.path / "raw.info");
    const auto cn = read_lines(dir.path / "CN.dat");
    const auto cn_info = read_lines(dir.path / "CN.info");
    ASSERT_EQ(raw.size(), snp ? 18u : 9u);
    ASSERT_EQ(raw_info.size(), raw.size());
    ASSERT_EQ(cn.size(), 9u);
    ASSERT_EQ(cn_info.size(), 9u);
    for (const auto& line : raw) EXPECT_EQ(tokens(line).size(), 37u);
    for (const auto& line : cn) EXPECT_EQ(tokens(line).size(), 37u);
    for (std::size_t p = 0; p < 9; ++p) {
      const auto info = tokens(cn_info[p]);
      ASSERT_EQ(info.size(), 4u);
      const std::size_t row = snp ? 2 * p : p;
      EXPECT_EQ(tokens(raw_info[row])[0], info[0]);
      if (snp) {
        EXPECT_EQ(tokens(raw_info[row + 1])[0], info[0]);
        for (const auto& v : tokens(raw[row + 1])) {
          EXPECT_GE(std::stod(v), 0.0);
          EXPECT_LE(std::stod(v), 1.0);
        }
      }
    }

    auto truth = read_lines(dir.path / "truth.txt");
    truth.erase(std::remove_if(truth.begin(), truth.end(), [](const std::string& l) { return l[0] == '#'; }),
                truth.end());
    ASSERT_EQ(truth.size(), 10u);
    const std::size_t truth_columns = snp ? 26u : 14u;
    EXPECT_EQ(tokens(truth[0]).size(), truth_columns);
    for (std::size_t p = 1; p < truth.size(); ++p) {
      const auto t = tokens(truth[p]);
      ASSERT_EQ(t.size(), truth_columns);
      EXPECT_EQ(t[0], tokens(cn_info[p - 1])[0]);
      EXPECT_TRUE(t[6] == "null" || t[6] == "associated");
    }

    const auto spec = read_lines(dir.path / "specification.txt");
    EXPECT_EQ(spec[0], "PHENOTYPE_FILE = phenotype.dat");
    for (const auto& expected : c.spec_lines)
      EXPECT_NE(std::find(spec.begin(), spec.end(), expected), spec.end()) << expected;
  }
}

TEST(SimulatorFiles, FilesHoldTheLibrarysProbesAndRepeatExactly) {
  TempDir first("repeat_a"), second("repeat_b");
  SimSettings s;
  s.num_subjects = 25;
  s.num_probes = 4;
  s.miscall_rate = 0.2;
  s.differential = true;
  s.write_true_classes = true;
  write_input_set(s, first.path.string());
  write_input_set(s, second.path.string());
  for (const char* name : {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "truth.txt",
                           "specification.txt", "true_classes.dat"})
    EXPECT_EQ(slurp(first.path / name), slurp(second.path / name)) << name;

  const SimSubjects subjects = make_subjects(s);
  const auto raw = read_lines(first.path / "raw.dat");
  const auto cn = read_lines(first.path / "CN.dat");
  const auto true_classes = read_lines(first.path / "true_classes.dat");
  ASSERT_EQ(true_classes.size(), 4u);
  for (int p = 0; p < 4; ++p) {
    const SimProbe probe = make_probe(s, subjects, p);
    const auto r = tokens(raw[static_cast<std::size_t>(2 * p)]);
    const auto b = tokens(raw[static_cast<std::size_t>(2 * p + 1)]);
    const auto calls = tokens(cn[static_cast<std::size_t>(p)]);
    const auto classes = tokens(true_classes[static_cast<std::size_t>(p)]);
    ASSERT_EQ(classes.size(), 25u);
    for (std::size_t i = 0; i < 25; ++i) {
      EXPECT_EQ(std::stod(r[i]), probe.r[i]);
      EXPECT_EQ(std::stod(b[i]), probe.b[i]);
      EXPECT_EQ(std::stoi(calls[i]), probe.called_cn[i]);
      EXPECT_EQ(classes[i], std::to_string(probe.true_k[i]) + std::to_string(probe.true_l[i]));
    }
  }
}

#ifdef QUILLMARK_SIM_BIN
namespace {

struct RunResult {
  int status;
  std::string out, err;
};

RunResult run_sim(const std::string& args, const fs::path& scratch) {
  fs::create_directories(scratch);
  const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  const std::string command = std::string(QUILLMARK_SIM_BIN) + " " + args + " >" + out.string() + " 2>" +
                              err.string() + " </dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

}  // namespace

TEST(SimulatorProgram, HelpNamesEveryOption) {
  TempDir dir("help");
  const RunResult r = run_sim("--help", dir.path);
  EXPECT_EQ(r.status, 0);
  for (const char* option :
       {"--out", "--probe-type", "--array-type", "--subjects", "--cases", "--case-fraction", "--probes",
        "--null-fraction", "--odds-ratio", "--odds-ratio-L", "--effect-L", "--differential", "--miscall-rate",
        "--missed-carrier-rate", "--false-call-rate",
        "--numeric-covariates", "--categorical-levels", "--covariate-log-or", "--dependent-covariate",
        "--dependent-levels", "--freq0", "--freq1", "--pfb-min", "--pfb-max", "--decimals", "--seed"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(SimulatorProgram, BadOptionsStopWithAnError) {
  TempDir dir("bad");
  const std::string out = " --out " + (dir.path / "set").string();
  const char* cases[] = {
      "--probes 3",  // no --out
      "--bogus",
      "--subjects",
      "--subjects twelve",
      "--subjects 12x",
      "--probe-type XY",
      "--array-type T",
      "--case-fraction 1.5",
      "--probe-type CN --odds-ratio-L 2",
      "--dependent-covariate --numeric-covariates 1",
      "--differential=1",
      "--missed-carrier-rate 1.2",
      "--false-call-rate x",
  };
  for (const char* args : cases) {
    const RunResult r = run_sim(std::string(args) + (std::string(args) == "--probes 3" ? "" : out), dir.path);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << args << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(dir.path / "set" / "raw.dat"));

  // An output directory that cannot be made is reported the same way.
  std::ofstream(dir.path / "plain_file") << "x";
  const RunResult r = run_sim("--probes 2 --out " + (dir.path / "plain_file" / "set").string(), dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
}

TEST(SimulatorProgram, WritesTheSameSetAsTheLibrary) {
  TempDir dir("program");
  const RunResult r = run_sim("--out " + (dir.path / "cli").string() +
                                  " --probe-type CN --subjects 40 --cases 15 --probes 6 --null-fraction 0.5"
                                  " --odds-ratio 2 --miscall-rate 0.1 --numeric-covariates 1 --seed 9"
                                  " --missed-carrier-rate 0.3 --false-call-rate 0.05",
                              dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  SimSettings s;
  s.probe_type = "CN";
  s.num_subjects = 40;
  s.num_cases = 15;
  s.num_probes = 6;
  s.odds_ratio = 2.0;
  s.miscall_rate = 0.1;
  s.num_numeric_covariates = 1;
  s.seed = 9;
  s.missed_carrier_rate = 0.3;
  s.false_call_rate = 0.05;
  write_input_set(s, (dir.path / "lib").string());
  for (const char* name : {"phenotype.dat", "raw.dat", "CN.dat", "CN.info", "truth.txt", "specification.txt"})
    EXPECT_EQ(slurp(dir.path / "cli" / name), slurp(dir.path / "lib" / name)) << name;
}
#endif

// The bundled example is what its README's command makes with this simulator.
TEST(SimulatorFiles, BundledExampleMatchesItsCommand) {
  SimSettings s;
  s.probe_type = "CN";
  s.num_subjects = 600;
  s.num_probes = 40;
  s.null_fraction = 0.5;
  s.odds_ratio = 0.5;
  s.freq0 = 0.03;
  s.freq1 = 0.12;
  s.miscall_rate = 0.02;
  s.seed = 2012;
  TempDir dir("example");
  write_input_set(s, dir.path.string());
  const fs::path example = fs::path(QUILLMARK_SOURCE_DIR) / "examples";
  for (const char* name : {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "truth.txt",
                           "specification.txt"})
    EXPECT_EQ(slurp(dir.path / name), slurp(example / name)) << name;
}
