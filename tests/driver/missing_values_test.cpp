// Missing intensities: a subject whose intensity at a probe is NA or NaN is left out of
// that probe, so the probe's result is exactly that of the same data without the subject.
// With one probe, leaving the subject out of the probe is removing it from the whole file
// set (phenotype line, call and intensities), so the two runs can be compared byte for
// byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_harness.h"
#include "sim/simulate.h"

namespace {

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// Which value of a subject is written as missing.
enum Missing : char { kPresent = 0, kMissingR, kMissingB, kMissingBoth };

// Writes the one-probe file set of `probe` for the subjects not dropped; a subject's
// missing values are written as one of the words NA, NaN and nan in turn.
void write_file_set(const FixtureDir& dir, const SimSettings& settings,
                    const SimSubjects& subjects, const SimProbe& probe,
                    const std::vector<char>& missing, const std::vector<char>& dropped) {
  static const char* const kWords[] = {"NA", "NaN", "nan"};
  int word = 0;
  auto value = [&word](bool is_missing, double x) {
    return (is_missing ? std::string(kWords[word++ % 3]) : number(x)) + " ";
  };
  std::string phenotype = "status";
  for (const std::string& name : subjects.covariate_names) phenotype += " " + name;
  phenotype += "\n";
  std::string calls, r_line, b_line;
  const bool snp = settings.probe_type == "SNP";
  for (std::size_t i = 0; i < subjects.status.size(); ++i) {
    if (dropped[i]) continue;
    phenotype += std::to_string(subjects.status[i]);
    for (double x : subjects.covariates[i]) phenotype += " " + number(x);
    phenotype += "\n";
    calls += std::to_string(probe.called_cn[i]) + " ";
    r_line += value(missing[i] == kMissingR || missing[i] == kMissingBoth, probe.r[i]);
    if (snp) b_line += value(missing[i] == kMissingB || missing[i] == kMissingBoth, probe.b[i]);
  }
  dir.write("specification.txt", specification_text(settings));
  dir.write("phenotype.dat", phenotype);
  dir.write("CN.info", probe.name + " 3 5000 " + number(snp ? probe.pfb : 0.0) + "\n");
  dir.write("CN.dat", calls + "\n");
  dir.write("raw.info", snp ? probe.name + "\n" + probe.name + "\n" : probe.name + "\n");
  dir.write("raw.dat", snp ? r_line + "\n" + b_line + "\n" : r_line + "\n");
}

}  // namespace

TEST(MissingValues, MissingIntensityEqualsRemovingTheSubject) {
  struct Case {
    const char* name;
    SimSettings settings;
  };
  std::vector<Case> cases;
  SimSettings cn;
  cn.probe_type = "CN";
  cn.num_subjects = 600;
  cn.freq0 = 0.05;
  cn.freq1 = 0.15;
  cn.odds_ratio = 1.8;
  cn.seed = 31;
  cases.push_back({"CN, K only", cn});
  cases.back().settings.differential = true;
  cases.push_back({"CN, independent covariate", cn});
  cases.back().settings.num_numeric_covariates = 1;
  cases.push_back({"CN, dependent covariate (sieve)", cn});
  cases.back().settings.dependent_covariate = true;
  SimSettings snp = cn;
  snp.probe_type = "SNP";
  cases.push_back({"SNP, K only", snp});
  cases.push_back({"SNP, independent covariate", snp});
  cases.back().settings.num_numeric_covariates = 1;

  for (const Case& c : cases) {
    const SimSubjects subjects = make_subjects(c.settings);
    const SimProbe probe = make_probe(c.settings, subjects, 1);
    // Every seventh subject misses a value: cases and controls, every class; at SNP
    // probes in turn the R value, the B value or both.
    const std::size_t n = subjects.status.size();
    std::vector<char> missing(n, kPresent);
    const bool is_snp = c.settings.probe_type == "SNP";
    int turn = 0;
    for (std::size_t i = 3; i < n; i += 7)
      missing[i] = static_cast<char>(is_snp ? kMissingR + turn++ % 3 : kMissingR);
    const std::vector<char> none(n, kPresent);

    FixtureDir with_missing;
    write_file_set(with_missing, c.settings, subjects, probe, missing, none);
    const RunOutput run_missing = with_missing.run({"--spec_file", "specification.txt"});
    FixtureDir without;
    write_file_set(without, c.settings, subjects, probe, none, missing);
    const RunOutput run_without = without.run({"--spec_file", "specification.txt"});
    ASSERT_EQ(run_missing.status, 0) << c.name << "\n" << run_missing.out;
    ASSERT_EQ(run_without.status, 0) << c.name << "\n" << run_without.out;

    const std::string results = without.read("results.out");
    EXPECT_EQ(count_probe_lines(results), 1) << c.name;
    EXPECT_EQ(results.find("NA"), std::string::npos)
        << c.name << ": the probe was not analysed\n" << results;
    EXPECT_EQ(with_missing.read("results.out"), results) << c.name;
  }
}
