// The probe loop in-process: a probe whose fitted covariance of the tested effects is
// unusable is written as "NA" with one warning naming it, and the loop goes on.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/model_setup.h"
#include "driver/option.h"
#include "driver/probe_loop.h"
#include "driver/readers.h"
#include "driver/results.h"
#include "driver/spec_file.h"
#include "fit/fit.h"
#include "run_harness.h"

namespace {

using FitOverride = decltype(ProbeWork::fit_override);

// Three CN probes of 300 subjects with clear zero-, one- and two-copy clusters.
void write_three_probes(const FixtureDir& dir) {
  const int n = 300;
  std::mt19937 rng(777);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.15);
  const double means[3] = {-1.6, -0.55, 0.0};
  std::string phenotype = "status\n";
  for (int i = 0; i < n; ++i) phenotype += i % 2 == 0 ? "0\n" : "1\n";
  std::string calls;
  std::string raw;
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < n; ++i) {
      const double u = unit(rng);
      const int k = u < 0.06 ? 0 : (u < (i % 2 == 1 ? 0.3 : 0.18) ? 1 : 2);
      char value[32];
      std::snprintf(value, sizeof value, "%.6f ", means[k] + noise(rng));
      calls += std::to_string(k) + " ";
      raw += value;
    }
    calls += "\n";
    raw += "\n";
  }
  const std::string d = dir.path() + "/";
  dir.write("spec.txt", "PHENOTYPE_FILE = " + d + "phenotype.dat\n" +
                            "RAW_INTENSITY_DAT_FILE = " + d + "raw.dat\n" +
                            "RAW_INTENSITY_INFO_FILE = " + d + "raw.info\n" +
                            "CALLED_CN_DAT_FILE = " + d + "CN.dat\n" +
                            "CALLED_CN_INFO_FILE = " + d + "CN.info\n" +
                            "RESULT_FILE = " + d + "results.out\n" + "PROBE_TYPE = CN\n" +
                            "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\n");
  dir.write("phenotype.dat", phenotype);
  dir.write("CN.info", "cn1 1 100 0.0\ncn2 1 200 0.0\ncn3 1 300 0.0\n");
  dir.write("raw.info", "cn1\ncn2\ncn3\n");
  dir.write("CN.dat", calls);
  dir.write("raw.dat", raw);
}

struct LoopOutput {
  std::vector<std::string> lines;  // the results file, line by line
  std::string err;
};

// The run's set-up and probe loop, as the program entry does them, with `fit_override`
// in the processor.
LoopOutput run_loop(const FixtureDir& dir, const FitOverride& fit_override) {
  OPTION option;
  set_default_options(option);
  option.spec_file = dir.path() + "/spec.txt";
  read_spec_file(option);
  PhenotypeTable phenotypes = read_phenotype_file(option);
  const int n = phenotypes.num_subjects;
  order_dependent_covariate_first(option, n, phenotypes.covariates);
  const ProbeTableSummary probes = scan_called_cn_info(option.called_cn_info_file);

  ProbeProcessor processor;
  processor.data.num_subjects = n;
  processor.data.excluded.assign(static_cast<std::size_t>(n), 0);
  processor.data.called_cn.assign(static_cast<std::size_t>(n), 0);
  processor.data.disease_status = phenotypes.disease_status;
  processor.data.intensity_r.assign(static_cast<std::size_t>(n), 0.0);
  processor.data.intensity_b.assign(static_cast<std::size_t>(n), 0.0);
  translate_options_to_para_data(option, processor.para, processor.data, phenotypes.covariates);
  check_options(option, processor.para);
  processor.work.fit_override = fit_override;

  ProbeSource source;
  open_probe_source(source, option, n,
                    find_raw_info_row(option.raw_intensity_info_file, probes.first_name),
                    probes.first_name);
  ResultsFile results;
  create_results_file(results, option.result_file, {});
  testing::internal::CaptureStderr();
  while (process_next_probe(option, source, processor, results)) {
  }
  LoopOutput output;
  output.err = testing::internal::GetCapturedStderr();
  close_results_file(results);

  std::istringstream text(dir.read("results.out"));
  for (std::string line; std::getline(text, line);) output.lines.push_back(line);
  return output;
}

}  // namespace

TEST(ProbeLoop, UnusableTestedCovarianceGivesNaAndTheLoopGoesOn) {
  FixtureDir dir;
  write_three_probes(dir);
  const LoopOutput reference = run_loop(dir, nullptr);
  ASSERT_EQ(reference.lines.size(), 5u);
  for (std::size_t l = 2; l < 5; ++l)
    ASSERT_EQ(reference.lines[l].find("NA"), std::string::npos) << reference.lines[l];
  EXPECT_EQ(reference.err, "");

  // The real fit; on the second probe the covariance row of K's coefficient is then
  // zeroed, as a degenerate information matrix would leave it.
  int fits = 0;
  const FitOverride zero_second_row = [&fits](const double* start, const DATA& data,
                                              const PARA& para) {
    FitResult fit = fit_retro_K(start, data, para);
    if (++fits == 2) fit.disease_covariance[1].fill(0.0);
    return fit;
  };
  const LoopOutput damaged = run_loop(dir, zero_second_row);
  EXPECT_EQ(fits, 3);
  ASSERT_EQ(damaged.lines.size(), 5u);
  EXPECT_EQ(damaged.lines[2], reference.lines[2]);
  EXPECT_EQ(damaged.lines[3] + "\n", "  1        200  cn2              0.000     NA        NA    \n");
  EXPECT_EQ(damaged.lines[4], reference.lines[4]);
  EXPECT_EQ(damaged.err,
            "Warning: probe 'cn2': the covariance of the tested effects is not positive "
            "definite; reported as NA\n");
}
