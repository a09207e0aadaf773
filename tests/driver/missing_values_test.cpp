// Missing intensities: a subject whose intensity at a probe is NA or NaN is left out of
// that probe, so the probe's result is exactly that of the same data without the subject.
// With one probe, leaving the subject out of the probe is removing it from the whole file
// set (phenotype line, call and intensity), so the two runs can be compared byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "run_harness.h"

namespace {

struct Subject {
  int status;
  double x;
  int call;
  double r;
};

// Subjects with clear one-, two- and zero-copy clusters; cases carry more deletions and
// their intensities a small shift, so the fits have an effect and group terms to find.
std::vector<Subject> make_subjects(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.15);
  const double means[3] = {-1.6, -0.55, 0.0};
  std::vector<Subject> subjects;
  for (int i = 0; i < n; ++i) {
    Subject s;
    s.status = i % 2;
    s.x = static_cast<double>(1 + i % 3);
    const double u = unit(rng);
    const double deletion = s.status == 1 ? 0.30 : 0.18;
    s.call = u < 0.06 ? 0 : (u < deletion ? 1 : 2);
    s.r = means[s.call] + noise(rng) + (s.status == 1 ? 0.02 : 0.0);
    subjects.push_back(s);
  }
  return subjects;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

// Writes a one-probe CN file set of the subjects not dropped; a subject marked missing
// has the word `missing_words[m % 3]` for its intensity.
void write_file_set(const FixtureDir& dir, const std::vector<Subject>& subjects,
                    const std::vector<char>& missing, const std::vector<char>& dropped,
                    const std::string& settings) {
  static const char* const kMissingWords[] = {"NA", "NaN", "nan"};
  std::string phenotype = "status x\n";
  std::string calls;
  std::string r_line;
  int m = 0;
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    if (dropped[i]) continue;
    const Subject& s = subjects[i];
    phenotype += std::to_string(s.status) + " " + number(s.x) + "\n";
    calls += std::to_string(s.call) + " ";
    r_line += (missing[i] ? std::string(kMissingWords[m++ % 3]) : number(s.r)) + " ";
  }
  dir.write("spec.txt", "PHENOTYPE_FILE = phenotype.dat\nPROBE_TYPE = CN\n" + settings);
  dir.write("phenotype.dat", phenotype);
  dir.write("CN.info", "cn1 3 5000 0.000\n");
  dir.write("CN.dat", calls + "\n");
  dir.write("raw.info", "cn1\n");
  dir.write("raw.dat", r_line + "\n");
}

}  // namespace

TEST(MissingValues, MissingIntensityEqualsRemovingTheSubject) {
  struct Case {
    const char* name;
    std::string settings;
  };
  const std::vector<Case> cases = {
      {"K only, shared measurement errors", "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\n"},
      {"K only, measurement errors by status", "DIFFERENTIAL_MEASUREMENT_ERRORS = 1\n"},
      {"independent covariate", "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\nEFFECT = K x\n"},
      {"dependent covariate (sieve)",
       "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\nDEPENDENT = x\nEFFECT = K x\n"},
  };
  const int n = 400;
  const std::vector<Subject> subjects = make_subjects(n, 20240611u);
  // Every seventh subject misses its intensity: cases and controls, every class.
  std::vector<char> missing(n, 0);
  for (int i = 3; i < n; i += 7) missing[static_cast<std::size_t>(i)] = 1;
  const std::vector<char> none(n, 0);

  for (const Case& c : cases) {
    FixtureDir with_missing;
    write_file_set(with_missing, subjects, missing, none, c.settings);
    const RunOutput run_missing = with_missing.run({"--spec_file", "spec.txt"});
    FixtureDir without;
    write_file_set(without, subjects, none, missing, c.settings);
    const RunOutput run_without = without.run({"--spec_file", "spec.txt"});
    ASSERT_EQ(run_missing.status, 0) << c.name << "\n" << run_missing.out;
    ASSERT_EQ(run_without.status, 0) << c.name << "\n" << run_without.out;

    const std::string results = without.read("results.out");
    EXPECT_EQ(compare_results(results, {{3, 5000, "cn1", 0.0}}), "") << c.name;
    EXPECT_EQ(results.find("NA"), std::string::npos) << c.name << ": the probe was not analysed\n"
                                                     << results;
    EXPECT_EQ(with_missing.read("results.out"), results) << c.name;
  }
}
