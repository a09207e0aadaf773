// The run summary and the progress lines: counts by outcome, the genomic-control lambda,
// the thresholds, and progress written on a clock the test moves.
#include "driver/run_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/progress.h"
#include "numeric/log_tail.h"

namespace {
// Adds an analysed probe with statistic `w` on `df` degrees of freedom.
void add_ok(RunSummary& summary, double w, int df = 1) {
  summary.add(Outcome::kOk, w, df, minus_log10_chi_square_tail(w, df));
}
}  // namespace

TEST(RunSummary, CountsOutcomesMostFrequentFirst) {
  RunSummary summary;
  for (int i = 0; i < 3912; ++i) add_ok(summary, 0.1 + i * 1e-3);
  for (int i = 0; i < 17; ++i) summary.add(Outcome::kAcceptMeanMoved, 0.0, 0, NAN);
  for (int i = 0; i < 41; ++i) summary.add(Outcome::kStartClusterCheck, 0.0, 0, NAN);
  for (int i = 0; i < 30; ++i) summary.add(Outcome::kFitIterationCap, 0.0, 0, NAN);
  summary.add(Outcome::kTestCovariance, 0.0, 0, NAN);
  summary.add(Outcome::kNoUsableSubject, 0.0, 0, NAN);
  const std::string text = summary.lines(3733.44, 3700.0);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            "3,912 probes analysed, 90 NA: 41 START_CLUSTER, 30 FIT_ITERATION_CAP, "
            "17 ACCEPT_MEAN_MOVED, 1 NO_SUBJECTS, 1 TEST_COVARIANCE\n");
  EXPECT_NE(text.find("\nWall time: 3733.4 s; CPU time: 3700.0 s\n"), std::string::npos) << text;
  EXPECT_EQ(summary.count(Outcome::kStartClusterCheck), 41);
}

// Rescued, continued and Newton-finished probes are counted among the analysed ones and
// named at the end of the line; without any the line is as before. NA probes never count.
TEST(RunSummary, CountsRescuedContinuedAndNewtonFinishedProbes) {
  struct Case {
    int rescued, continued, newton;
    const char* line;
  };
  for (const Case& c :
       {Case{1037, 0, 0, "1,200 probes analysed, 1 NA: 1 FIT_SINGULAR; 1,037 rescued\n"},
        Case{0, 3, 0, "1,200 probes analysed, 1 NA: 1 FIT_SINGULAR; 3 continued\n"},
        Case{5, 2, 0, "1,200 probes analysed, 1 NA: 1 FIT_SINGULAR; 5 rescued, 2 continued\n"},
        Case{0, 0, 1190, "1,200 probes analysed, 1 NA: 1 FIT_SINGULAR; 1,190 finished by Newton\n"},
        Case{4, 0, 1190,
             "1,200 probes analysed, 1 NA: 1 FIT_SINGULAR; 4 rescued, 1,190 finished by Newton\n"},
        Case{0, 0, 0, "1,200 probes analysed, 1 NA: 1 FIT_SINGULAR\n"}}) {
    RunSummary summary;
    for (int i = 0; i < 1200; ++i)
      summary.add(Outcome::kOk, 1.0, 1, 0.5,
                  i < c.rescued                           ? FitPath::kRescued
                  : i < c.rescued + c.continued            ? FitPath::kContinued
                  : i < c.rescued + c.continued + c.newton ? FitPath::kNewtonFinish
                                                           : FitPath::kStated);
    summary.add(Outcome::kFitSingularInformation, 0.0, 0, NAN, FitPath::kRescued);
    const std::string text = summary.lines(1.0, 1.0);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), c.line);
  }
}

TEST(RunSummary, LambdaAndThresholds) {
  // Statistics at the quantiles of chi-square(1) give lambda 1; doubling them gives 2.
  for (int df : {1, 3}) {
    RunSummary null_run;
    RunSummary inflated;
    const int n = 1001;
    for (int i = 0; i < n; ++i) {
      // The (i + 0.5)/n tail quantile by bisection on the log tail.
      const double target = std::log((i + 0.5) / n);
      double low = 0.0, high = 200.0;
      for (int s = 0; s < 100; ++s) {
        const double mid = 0.5 * (low + high);
        (log_chi_square_tail(mid, df) > target ? low : high) = mid;
      }
      add_ok(null_run, low, df);
      add_ok(inflated, 2.0 * low, df);
    }
    EXPECT_NEAR(null_run.lambda_gc(), 1.0, 1e-6) << df;
    EXPECT_NEAR(inflated.lambda_gc(), 2.0, 1e-6) << df;
  }
  RunSummary summary;
  add_ok(summary, 30.0);       // p = 2.2e-8
  add_ok(summary, 29.5);       // p = 5.6e-8
  add_ok(summary, 19.6);       // p = 9.6e-6
  add_ok(summary, 2009.0);     // p = 1e-440, which only the log tail gives
  add_ok(summary, 0.4549364);  // the median of the five is 29.5
  const std::string text = summary.lines(1.0, 1.0);
  char lambda[128];
  std::snprintf(lambda, sizeof lambda,
                "Genomic control: lambda_GC = %.4f (median chi-square 29.5000 on 1 df)\n",
                29.5 / 0.454936423119572);
  EXPECT_EQ(text, "5 probes analysed, 0 NA\n" + std::string(lambda) +
                      "Probes with p < 5e-8: 2; with p < 1e-5: 4\n"
                      "Wall time: 1.0 s; CPU time: 1.0 s\n");

  RunSummary empty;
  empty.add(Outcome::kStartFewOneCopy, 0.0, 0, NAN);
  EXPECT_TRUE(std::isnan(empty.lambda_gc()));
  EXPECT_EQ(empty.lines(0.0, 0.0),
            "0 probes analysed, 1 NA: 1 START_FEW_ONE_COPY\n"
            "Genomic control: lambda_GC = NA (no probe analysed)\n"
            "Probes with p < 5e-8: 0; with p < 1e-5: 0\n"
            "Wall time: 0.0 s; CPU time: 0.0 s\n");
}

TEST(RunSummary, ThousandsSeparators) {
  const std::vector<std::pair<long, std::string>> cases = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {3912, "3,912"}, {1234567, "1,234,567"},
      {-45000, "-45,000"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(with_thousands(value), text);
}

TEST(Progress, LinesOnAClockAndRedrawsOnATerminal) {
  double now = 100.0;
  std::string written;
  const Progress::Sink sink = [&written](std::string_view text) { written += text; };
  const Progress::Clock clock = [&now] { return now; };

  // Not a terminal: one line per interval, whatever the number of probes in between.
  Progress lines(1000, false, 300.0, sink, clock);
  for (int done = 1; done <= 1000; ++done) {
    now += 1.0;
    lines.update(done);
  }
  lines.finish();
  EXPECT_EQ(written,
            "Progress: 300 of 1,000 probes (30.0%), 1 probes/s, 12 min left\n"
            "Progress: 600 of 1,000 probes (60.0%), 1 probes/s, 7 min left\n"
            "Progress: 900 of 1,000 probes (90.0%), 1 probes/s, 2 min left\n");

  // A terminal: the line is redrawn in place, at most every quarter second, always at the
  // end, and cleared by finish().
  written.clear();
  now = 0.0;
  Progress redraw(20, true, 300.0, sink, clock);
  for (int done = 1; done <= 20; ++done) {
    now += 0.1;
    redraw.update(done);
  }
  redraw.finish();
  EXPECT_EQ(written.find('\n'), std::string::npos);
  EXPECT_EQ(written.substr(0, 50), "\033[KProgress: 3 of 20 probes (15.0%), 10 probes/s, ");
  EXPECT_NE(written.find("\033[KProgress: 20 of 20 probes (100.0%), 10 probes/s, 0 s left\r"),
            std::string::npos)
      << written;
  EXPECT_EQ(written.substr(written.size() - 4), "\r\033[K");

  // No sink (--quiet): nothing, and no clock needed beyond construction.
  Progress quiet(5, true, 300.0, {}, clock);
  quiet.update(5);
  quiet.finish();
  EXPECT_EQ(Progress::describe(0, 0, 0.0), "Progress: 0 of 0 probes (100.0%)");
  EXPECT_EQ(Progress::describe(7200, 10000, 3600.0),
            "Progress: 7,200 of 10,000 probes (72.0%), 2 probes/s, 23 min left");
  EXPECT_EQ(Progress::describe(1, 10000, 3.0),
            "Progress: 1 of 10,000 probes (0.0%), 0.333 probes/s, 8.3 h left");
}

TEST(RunSummary, ReadmeDocumentsEveryOutcomeCode) {
  std::ifstream in(std::string(QUILLMARK_SOURCE_DIR) + "/README.md");
  std::stringstream readme;
  readme << in.rdbuf();
  for (const OutcomeDescription& d : kOutcomeDescriptions)
    EXPECT_NE(readme.str().find("| `" + std::string(d.code) + "` |"), std::string::npos) << d.code;
}
