// The probe loop in-process: a probe whose fitted covariance of the tested effects is
// unusable is written as "NA" with one warning naming it, and the loop goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/model_setup.h"
#include "driver/option.h"
#include "driver/probe_loop.h"
#include "driver/readers.h"
#include "driver/results.h"
#include "driver/results_table.h"
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
  std::string table_header;                     // of the extended results table
  std::vector<std::map<std::string, std::string>> rows;  // its rows by column name
};

// The run's set-up and probe loop, as the program entry does them, with `fit_override`
// in the processor; `rescue` false keeps a probe the stated path turns down NA.
LoopOutput run_loop(const FixtureDir& dir, const FitOverride& fit_override, bool rescue = true) {
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
  processor.work.rescue = rescue;

  ProbeSource source;
  open_probe_source(source, option, n,
                    find_raw_info_row(option.raw_intensity_info_file, probes.first_name),
                    probes.first_name);
  ResultsFile results;
  create_results_file(results, option.result_file, {});
  LoopOutput output;
  const std::vector<std::string> terms = tested_terms(processor.para);
  output.table_header = results_table_header(terms);
  const ProbeRecorder recorder = [&](const ProbeInfo& info, const ProbeResult& result) {
    std::map<std::string, std::string> row;
    std::istringstream names(output.table_header);
    std::istringstream fields(results_table_row(terms, info, result));
    for (std::string name, field; std::getline(names, name, '\t') && std::getline(fields, field, '\t');)
      row[name] = field;
    output.rows.push_back(row);
  };
  testing::internal::CaptureStderr();
  while (process_next_probe(option, source, processor, results, recorder)) {
  }
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
    if (++fits == 2) std::fill_n(fit.disease_covariance.row(0), fit.disease_covariance.cols(), 0.0);
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

TEST(ProbeLoop, TableNamesTheStepThatTurnedAProbeDown) {
  FixtureDir dir;
  write_three_probes(dir);
  // Each override runs the real fit, then damages the second probe's fitted vector or
  // covariance the way a faulty fit would; the acceptance tests or the Wald test must
  // reject it and the table must say which.
  struct Case {
    const char* outcome;
    std::function<void(double* params, Matrix& cov, const PARA& para)> damage;
  };
  const std::vector<Case> cases = {
      {"ACCEPT_MEAN_MOVED",
       [](double* f, Matrix&, const PARA& para) {
         // The one-copy mean moves down by 1.5 fitted standard deviations.
         f[para.r_mean_start + 1] -= 1.5 * std::exp(f[para.r_logvar_start + 1] / 2.0);
       }},
      {"ACCEPT_CLUSTER",
       [](double* f, Matrix&, const PARA& para) {
         // The one-copy mean above the two-copy mean.
         f[para.r_mean_start + 1] = f[para.r_mean_start + 2] + 0.5;
       }},
      {"TEST_COVARIANCE",
       [](double*, Matrix& cov, const PARA&) { std::fill_n(cov.row(0), cov.cols(), 0.0); }},
  };
  for (const Case& c : cases) {
    int fits = 0;
    const FitOverride damaging = [&](const double* start, const DATA& data, const PARA& para) {
      FitResult fit = fit_retro_K(start, data, para);
      if (++fits == 2) c.damage(fit.estimates.data(), fit.disease_covariance, para);
      return fit;
    };
    const LoopOutput output = run_loop(dir, damaging, false);
    ASSERT_EQ(output.rows.size(), 3u) << c.outcome;
    EXPECT_EQ(output.table_header,
              "CHROM\tPOS\tID\tPFB\tN_CASES\tN_CONTROLS\tBETA\tSE\tOR\tOR_L95\tOR_U95\tCHISQ\tDF\tP\t"
              "LOG10P\tOUTCOME\tPATH\tITER\tLOGLIK\tRESCUE_OUTCOME");
    EXPECT_EQ(output.rows[0].at("OUTCOME"), "OK");
    EXPECT_EQ(output.rows[2].at("OUTCOME"), "OK");
    const auto& row = output.rows[1];
    EXPECT_EQ(row.at("OUTCOME"), c.outcome);
    EXPECT_EQ(output.lines[3].substr(output.lines[3].size() - 21), "     NA        NA    ");
    for (const char* column : {"BETA", "SE", "OR", "OR_L95", "OR_U95", "CHISQ", "DF", "P", "LOG10P"})
      EXPECT_EQ(row.at(column), "NA") << c.outcome << " " << column;
    // The fit ran: its path and iterations are known, and the subjects it analysed.
    EXPECT_EQ(row.at("PATH"), "stated");
    EXPECT_GT(std::stoi(row.at("ITER")), 0);
    EXPECT_EQ(row.at("N_CASES"), "150");
    EXPECT_EQ(row.at("N_CONTROLS"), "150");
    EXPECT_EQ(row.at("LOGLIK") == "NA", c.outcome != std::string("TEST_COVARIANCE")) << c.outcome;

    // With the rescue, a fit the acceptance tests turned down is fitted again from the
    // robust start (the third fit, undamaged) and reported as rescued; a failed Wald test
    // is no matter of the start and stays NA.
    fits = 0;
    const LoopOutput rescued = run_loop(dir, damaging, true);
    ASSERT_EQ(rescued.rows.size(), 3u) << c.outcome;
    const bool acceptance = c.outcome != std::string("TEST_COVARIANCE");
    EXPECT_EQ(fits, acceptance ? 4 : 3) << c.outcome;
    EXPECT_EQ(rescued.rows[1].at("OUTCOME"), acceptance ? "OK" : c.outcome);
    EXPECT_EQ(rescued.rows[1].at("PATH"), acceptance ? "rescued" : "stated");
    EXPECT_EQ(rescued.rows[0], output.rows[0]);
    EXPECT_EQ(rescued.rows[2], output.rows[2]);
    for (const auto& row : rescued.rows) EXPECT_EQ(row.at("RESCUE_OUTCOME"), "NA") << c.outcome;

    // A rescue damaged as well leaves the stated path's code standing and names its own.
    fits = 0;
    const FitOverride damaging_both = [&](const double* start, const DATA& data, const PARA& para) {
      FitResult fit = fit_retro_K(start, data, para);
      if (++fits == 2 || fits == 3) c.damage(fit.estimates.data(), fit.disease_covariance, para);
      return fit;
    };
    const LoopOutput both = run_loop(dir, damaging_both, true);
    ASSERT_EQ(both.rows.size(), 3u) << c.outcome;
    EXPECT_EQ(both.rows[1].at("OUTCOME"), c.outcome);
    EXPECT_EQ(both.rows[1].at("RESCUE_OUTCOME"), acceptance ? c.outcome : "NA");
  }
}

TEST(ProbeLoop, TableGivesLog10PWhereThePValueUnderflows) {
  FixtureDir dir;
  write_three_probes(dir);
  // The variance of K's coefficient shrunk so that its Wald statistic is 1e2, 2009 and 1e4:
  // p is 1.5e-23 on the first probe and below the smallest double on the others.
  const double targets[3] = {100.0, 2009.0, 1e4};
  int fits = 0;
  const FitOverride sharpened = [&](const double* start, const DATA& data, const PARA& para) {
    FitResult fit = fit_retro_K(start, data, para);
    // K's coefficient comes first in the estimates and the covariance.
    fit.disease_covariance(0, 0) = fit.estimates[0] * fit.estimates[0] / targets[fits++];
    return fit;
  };
  const LoopOutput output = run_loop(dir, sharpened);
  ASSERT_EQ(output.rows.size(), 3u);
  for (int p = 0; p < 3; ++p) {
    const auto& row = output.rows[static_cast<std::size_t>(p)];
    ASSERT_EQ(row.at("OUTCOME"), "OK") << p;
    const double w = std::stod(row.at("CHISQ"));
    EXPECT_NEAR(w, targets[p], 1e-3 * targets[p]);
    // ln P(chi-square(1) > w) = ln erfc(z), z^2 = w / 2, by its asymptotic series.
    const double z = std::sqrt(w / 2.0);
    const double u = 1.0 / (2.0 * z * z);
    const double log_p = -z * z - std::log(z * std::sqrt(M_PI)) +
                         std::log(1.0 - u + 3.0 * u * u - 15.0 * u * u * u + 105.0 * u * u * u * u);
    const double log10p = std::stod(row.at("LOG10P"));
    EXPECT_NEAR(log10p, -log_p / std::log(10.0), 1e-5 * log10p) << p;
    // P is written from LOG10P, never as 0.
    const std::string printed = row.at("P");
    const std::size_t e = printed.find('e');
    ASSERT_NE(e, std::string::npos) << printed;
    const double printed_log10 = std::log10(std::stod(printed.substr(0, e))) + std::stod(printed.substr(e + 1));
    EXPECT_NEAR(printed_log10, -log10p, 1e-5) << printed;
  }
  EXPECT_NE(output.lines[3].find("0.00e+00"), std::string::npos);  // the results file as it was
}
