// The rescue path: probes whose stated start is rejected because calling errors pad a
// cluster are analysed from the robust start, their estimates recover the simulated odds
// ratio, and probes the stated path analyses keep their result.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/layout.h"
#include "core/outcome.h"
#include "driver/option.h"
#include "driver/probe.h"
#include "fit/cn_fit_harness.h"
#include "run_harness.h"

namespace {

struct RescueTally {
  int stated_failed = 0;
  int rescued = 0;
  std::vector<double> z;  // (beta - true log OR) / se of the rescued probes
};

// Analyses `probes` simulated probes with and without the rescue and checks each pair.
RescueTally analyse_both_ways(const SimSettings& settings, int model_type, bool snp, int dme,
                              int probes, Outcome expected_stated) {
  OPTION option;
  set_default_options(option);
  option.probe_type = snp ? ProbeType::kSnp : ProbeType::kCn;
  option.differential_measurement_errors = dme;
  const SimSubjects subjects = make_subjects(settings);
  DATA data = data_from_subjects(subjects, design_columns(model_type));
  ProbeWork stated_work, work;
  stated_work.rescue = false;
  RescueTally tally;
  for (int index = 0; index < probes; ++index) {
    const SimProbe probe = make_probe(settings, subjects, index);
    load_probe(data, probe);
    if (snp) data.intensity_b = probe.b;
    PARA para = para_for_model(model_type);
    const ProbeResult stated = analyse_probe(option, para, data, probe.pfb, stated_work);
    // Neither road rewrites the calls it was given (the SNP cleaning and the robust
    // start reassign their own copies), so the second analysis starts from the same data.
    EXPECT_EQ(data.called_cn, probe.called_cn) << "probe " << index;
    const ProbeResult result = analyse_probe(option, para, data, probe.pfb, work);
    EXPECT_EQ(data.called_cn, probe.called_cn) << "probe " << index;
    if (stated.outcome == Outcome::kOk) {
      EXPECT_EQ(result.path, stated.path);  // the fit's own rescue may have given it
      EXPECT_EQ(result.statistic, stated.statistic);
      EXPECT_EQ(result.tested[0].beta, stated.tested[0].beta);
      continue;
    }
    ++tally.stated_failed;
    if (stated.outcome == expected_stated || expected_stated == Outcome::kOk) {
      EXPECT_EQ(result.outcome, Outcome::kOk) << "probe " << index << " stated "
                                              << describe(stated.outcome).code << " rescue "
                                              << describe(result.rescue_outcome).code;
    }
    if (result.outcome != Outcome::kOk) {
      EXPECT_EQ(result.path, FitPath::kStated);
      EXPECT_EQ(result.outcome, stated.outcome);
      continue;
    }
    ++tally.rescued;
    EXPECT_EQ(result.path, FitPath::kRescued);
    EXPECT_EQ(result.stated_outcome, stated.outcome);
    const TestedEffect& k = result.tested[0];
    tally.z.push_back((k.beta - probe.log_or) / k.se);
  }
  return tally;
}

void expect_recovers_odds_ratio(const RescueTally& tally, const std::string& what) {
  ASSERT_GE(tally.rescued, 3) << what;
  double mean = 0.0;
  for (const double z : tally.z) {
    EXPECT_LT(std::fabs(z), 3.5) << what;
    mean += z / static_cast<double>(tally.z.size());
  }
  // The mean of n standard normals has sd 1 / sqrt(n).
  EXPECT_LT(std::fabs(mean), 3.0 / std::sqrt(static_cast<double>(tally.z.size()))) << what;
}

// CN probes, 5 % random miscalls: the miscalled two-copy subjects pad the one-copy start
// cluster and the stated start fails its cluster check. (The sieve fit of model 2 fails on
// its own at a one-copy frequency of 0.05, so its case has frequent deletions.)
TEST(Rescue, CnMiscallsPaddingAClusterAreAnalysedFromTheRobustStart) {
  struct Case {
    int model_type;
    double freq1;
  };
  for (const Case& c : {Case{0, 0.05}, Case{1, 0.05}, Case{2, 0.15}}) {
    SimSettings settings = cn_settings(2000, c.model_type, 1.5, 61 + c.model_type);
    settings.miscall_rate = 0.05;
    settings.freq1 = c.freq1;
    const RescueTally tally =
        analyse_both_ways(settings, c.model_type, false, 0, 20, Outcome::kStartClusterCheck);
    expect_recovers_odds_ratio(tally, "CN model " + std::to_string(c.model_type));
  }
}

// SNP probes whose two-copy subjects are called one copy (a caller's false deletions):
// the cleaning never moves a one-copy call, so they pad the one-copy cluster and the start
// fails its cluster check (status 1).
TEST(Rescue, SnpOneCopyCallsThatLookLikeTwoCopiesAreAnalysedFromTheRobustStart) {
  SimSettings settings = cn_settings(2000, 0, 1.5, 71);
  settings.probe_type = "SNP";
  settings.false_call_rate = 0.03;
  settings.freq1 = 0.1;
  const RescueTally tally = analyse_both_ways(settings, 0, true, 0, 16, Outcome::kStartClusterCheck);
  EXPECT_GE(tally.stated_failed, 8);
  expect_recovers_odds_ratio(tally, "SNP");
}

// The acceptance tests still guard the rescued fit: a one-copy mean that wandered 1.5 fitted
// standard deviations toward two copies (on both roads here), judged against the robust
// centre, is turned down, and the probe is reported as the stated path left it.
TEST(Rescue, AcceptanceTestsGuardTheRescuedFit) {
  OPTION option;
  set_default_options(option);
  option.probe_type = ProbeType::kCn;
  SimSettings settings = cn_settings(2000, 0, 1.5, 61);
  settings.miscall_rate = 0.05;
  settings.freq1 = 0.05;
  const SimSubjects subjects = make_subjects(settings);
  DATA data = data_from_subjects(subjects, 0);
  ProbeWork work;
  work.fit_override = [](const double* start, const DATA& d, const PARA& para) {
    FitResult fit = fit_probe(false, start, d, para);
    const ParamLayout layout(para);
    if (fit.ok())
      fit.estimates[layout.r_mean(0, 1)] += 1.5 * std::exp(fit.estimates[layout.r_logvar(0, 1)] / 2.0);
    return fit;
  };
  int turned_down = 0;
  for (int index = 0; index < 12; ++index) {
    load_probe(data, make_probe(settings, subjects, index));
    PARA para = para_for_model(0);
    const ProbeResult result = analyse_probe(option, para, data, 2.0, work);
    EXPECT_NE(result.outcome, Outcome::kOk);
    EXPECT_EQ(result.path, FitPath::kStated);
    if (result.rescue_outcome == Outcome::kAcceptMeanMoved) ++turned_down;
  }
  EXPECT_GE(turned_down, 10);
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The run reports the rescued probes: PATH "rescued" in the extended table, a count on
// the outcome line, and numbers in the results file.
TEST(Rescue, RunReportsRescuedProbes) {
  const FixtureDir dir;
  const std::string sim = std::string(QUILLMARK_SIM_BIN) + " --out " + quoted(dir.path()) +
                          " --probe-type CN --subjects 800 --probes 30 --miscall-rate 0.05 "
                          "--freq1 0.05 --seed 9 > /dev/null";
  ASSERT_EQ(std::system(sim.c_str()), 0);
  const RunOutput run = dir.run({"--spec_file", "specification.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::istringstream table(dir.read("results.out.tsv"));
  std::string line;
  std::getline(table, line);
  int rescued = 0;
  while (std::getline(table, line)) {
    if (line.find("\tOK\trescued\t") != std::string::npos) ++rescued;
  }
  ASSERT_GT(rescued, 0);
  EXPECT_NE(run.err.find("; " + std::to_string(rescued) + " rescued\n"), std::string::npos) << run.err;
}

}  // namespace
