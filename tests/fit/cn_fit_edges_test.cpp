// Probes at the edges of the CN fits: nothing to fit, an absent reference class, sieve
// strata that leave a probability at 0 or need more rows than the matrix holds.

#include <gtest/gtest.h>

#include <random>

#include "fit/cn_fit_harness.h"
#include "fit/strata.h"

namespace {

// Subjects of one stratum of the dependent covariate: per class the number of controls
// and cases, intensities drawn around the class means.
struct Cell {
  int k, controls, cases;
};

void add_stratum(std::vector<Cell> cells, double z, std::mt19937& rng, FitRun& run,
                 std::vector<int>& status, std::vector<int>& cn, std::vector<double>& r,
                 std::vector<double>& zs) {
  const double mean[3] = {-2.0, -0.5, 0.0};
  const double sd[3] = {0.3, 0.12, 0.08};
  std::normal_distribution<double> normal(0.0, 1.0);
  for (const Cell& c : cells)
    for (int y = 0; y < 2; ++y)
      for (int i = 0; i < (y == 0 ? c.controls : c.cases); ++i) {
        status.push_back(y);
        cn.push_back(c.k);
        r.push_back(mean[c.k] + sd[c.k] * normal(rng));
        zs.push_back(z);
      }
  (void)run;
}

// A sieve probe with two strata (z = 0 and z = 1) built from the given cells.
void sieve_probe(FitRun& run, const std::vector<Cell>& stratum0,
                 const std::vector<Cell>& stratum1) {
  std::mt19937 rng(7);
  std::vector<int> status, cn;
  std::vector<double> r, z;
  add_stratum(stratum0, 0.0, rng, run, status, cn, r, z);
  add_stratum(stratum1, 1.0, rng, run, status, cn, r, z);
  const int n = static_cast<int>(status.size());
  run.data = make_data(n, 1);
  for (int i = 0; i < n; ++i) {
    run.data.disease_status[i] = status[i];
    run.data.called_cn[i] = cn[i];
    run.data.intensity_r[i] = r[i];
    run.data.covariates(i, 0) = z[i];
  }
  run.para = make_para_dependent(1);
  run.start_status = get_CN_initial(run.start.data(), run.para, run.data, 2.0, 'I', 0);
}

TEST(CnFitEdges, NothingToFitFails) {
  for (const int model_type : {0, 1, 2}) {
    FitRun run;
    run.para = para_for_model(model_type);
    run.data = make_data(12, design_columns(model_type));
    // Two subjects per class and status: no class is modelled, every subject is excluded.
    for (int i = 0; i < 12; ++i) {
      run.data.disease_status[i] = i % 2;
      run.data.called_cn[i] = (i / 2) % 3;
    }
    ASSERT_EQ(get_CN_initial(run.start.data(), run.para, run.data, 2.0, 'I', 1), 0);
    const int P = run.para.num_params;
    const std::size_t free = run.para.free_params.size();
    EXPECT_EQ(run_fit(model_type, run, FitControl{}), 1) << model_type;
    EXPECT_EQ(run.outcome, Outcome::kNoUsableSubject) << model_type;
    EXPECT_EQ(run.para.num_params, P);
    EXPECT_EQ(run.para.free_params.size(), free);
  }
}

TEST(CnFitEdges, AbsentReferenceClassFails) {
  // Classes 0 and 1 modelled, two copies too rare: the frequency log-ratios have no anchor.
  for (const int model_type : {0, 1, 2}) {
    FitRun run;
    run.para = para_for_model(model_type);
    std::mt19937 rng(3);
    std::normal_distribution<double> normal(0.0, 1.0);
    run.data = make_data(200, design_columns(model_type));
    for (int i = 0; i < 200; ++i) {
      const int k = i < 2 ? 2 : (i % 3 == 0 ? 0 : 1);
      run.data.disease_status[i] = i % 2;
      run.data.called_cn[i] = k;
      run.data.intensity_r[i] = (k == 0 ? -2.0 : k == 1 ? -0.5 : 0.0) + 0.1 * normal(rng);
      for (int j = 0; j < design_columns(model_type); ++j)
        run.data.covariates(i, j) = i % 2 == 0 ? normal(rng) : 0.0;
    }
    ASSERT_EQ(get_CN_initial(run.start.data(), run.para, run.data, 2.0, 'I', 0), 0);
    ASSERT_EQ(run.para.cn_class_present, (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(run_fit(model_type, run, FitControl{}), 1) << model_type;
    EXPECT_EQ(run.outcome, Outcome::kNoReferenceClass) << model_type;
  }
}

TEST(CnFitEdges, SieveSlotAtZeroIsFixedAndTheRestStaysExact) {
  // Stratum 1 holds no zero-copy subject: its class-0 probability is 0 and not free.
  FitRun run;
  sieve_probe(run, {{0, 8, 8}, {1, 20, 25}, {2, 60, 60}}, {{1, 15, 20}, {2, 50, 45}});
  ASSERT_EQ(run.start_status, 0);
  FitControl control;
  control.loglik_tolerance = 1e-13;
  control.max_iterations = 20000;
  ASSERT_EQ(run_fit(2, run, control), 0);
  const int P = run.para.num_params;
  ASSERT_EQ(run.report.num_strata, 2);
  EXPECT_EQ(run.report.sieve_q[3 + 0], 0.0);
  for (const int position : run.report.free_positions) EXPECT_NE(position, P + 2 + 0);
  EXPECT_EQ(run.report.free_positions.size(),
            run.para.free_params.size() + 3);

  const Objective f(run, 2);
  std::vector<double> gradient;
  std::vector<std::vector<double>> hessian;
  finite_differences(f, gradient, hessian);
  const std::vector<int>& pos = run.report.free_positions;
  for (int a = 0; a < f.size(); ++a) {
    EXPECT_LT(std::fabs(gradient[a]) / std::sqrt(-hessian[a][a]), 1e-3) << a;
    for (int b = 0; b < f.size(); ++b)
      EXPECT_NEAR(run.report.information(pos[a], pos[b]) / std::sqrt(hessian[a][a] * hessian[b][b]),
                  -hessian[a][b] / std::sqrt(hessian[a][a] * hessian[b][b]), 2e-3)
          << a << ", " << b;
  }
}

TEST(CnFitEdges, SieveStratumWithoutReferenceClassFails) {
  // With three two-copy subjects in stratum 1 the fit stands; without them the stratum's
  // reference probability is 0 and its other probabilities have no complement.
  FitRun with;
  sieve_probe(with, {{0, 8, 8}, {1, 20, 25}, {2, 60, 60}}, {{0, 5, 5}, {1, 15, 20}, {2, 2, 1}});
  ASSERT_EQ(with.start_status, 0);
  EXPECT_EQ(run_fit(2, with, FitControl{}), 0);

  FitRun without;
  sieve_probe(without, {{0, 8, 8}, {1, 20, 25}, {2, 60, 60}}, {{0, 5, 5}, {1, 15, 20}});
  ASSERT_EQ(without.start_status, 0);
  const int P = without.para.num_params;
  const std::size_t free = without.para.free_params.size();
  EXPECT_EQ(run_fit(2, without, FitControl{}), 1);
  EXPECT_EQ(without.outcome, Outcome::kFitSieveReference);
  EXPECT_EQ(without.para.num_params, P);
  EXPECT_EQ(without.para.free_params.size(), free);
}

TEST(CnFitEdges, SieveWithMoreRowsThanTheMatrixFails) {
  // Two dependent columns (no quantile strata) with 120 distinct rows: 240 sieve slots.
  const SimSettings settings = cn_settings(600, 0, 1.0, 5);
  const SimSubjects subjects = make_subjects(settings);
  FitRun run;
  run.para = make_para_dependent(2);
  run.data = data_from_subjects(subjects, 0);
  run.data.covariates = Matrix(600, 2);
  for (int i = 0; i < 600; ++i) {
    run.data.covariates(i, 0) = i % 60;
    run.data.covariates(i, 1) = (i / 60) % 2;
  }
  load_probe(run.data, make_probe(settings, subjects, 0));
  ASSERT_EQ(get_CN_initial(run.start.data(), run.para, run.data, 2.0, 'I', 1), 0);
  const int P = run.para.num_params;
  EXPECT_EQ(run_fit(2, run, FitControl{}), 1);
  EXPECT_EQ(run.outcome, Outcome::kTooManyParameters);
  EXPECT_EQ(run.para.num_params, P);
}

TEST(Strata, DistinctValuesAndQuantiles) {
  struct Case {
    const char* name;
    std::vector<double> values;
    std::vector<int> excluded;
    std::vector<int> stratum_of;
    std::vector<int> size;
  };
  std::vector<Case> cases = {
      {"three values in order of first subject",
       {5, 1, 5, 3, 1},
       {0, 0, 0, 0, 0},
       {0, 1, 0, 2, 1},
       {2, 2, 1}},
      {"within 1e-6 of the representative",
       {1.0, 1.0000009, 1.0000015, 0.9999991},
       {0, 0, 0, 0},
       {0, 0, 1, 0},
       {3, 1}},
      {"excluded subjects open no stratum", {4, 2, 4}, {1, 0, 0}, {-1, 0, 1}, {1, 1}},
  };
  {
    Case twenty{"twenty distinct values stand", {}, {}, {}, {}};
    for (int i = 0; i < 20; ++i) {
      twenty.values.push_back(19 - i);
      twenty.excluded.push_back(0);
      twenty.stratum_of.push_back(i);
      twenty.size.push_back(1);
    }
    cases.push_back(twenty);
  }
  {
    // 21 values 0..20 (subject i holds i): cut points sorted[floor(20 (m + 1) / 20)] = m + 1,
    // so stratum 0 holds 0 and 1, stratum m holds m + 1.
    Case quantiles{"twenty-one values give quantile strata", {}, {}, {}, {}};
    for (int i = 0; i <= 20; ++i) {
      quantiles.values.push_back(i);
      quantiles.excluded.push_back(0);
      quantiles.stratum_of.push_back(i == 0 ? 0 : i - 1);
    }
    quantiles.size.assign(20, 1);
    quantiles.size[0] = 2;
    cases.push_back(quantiles);
  }
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.values.size());
    DATA data = make_data(n, 1);
    for (int i = 0; i < n; ++i) {
      data.covariates(i, 0) = c.values[i];
      data.excluded[i] = c.excluded[i];
    }
    const Strata s = form_strata(data, 1);
    EXPECT_EQ(s.stratum_of, c.stratum_of) << c.name;
    EXPECT_EQ(s.size, c.size) << c.name;
  }
}

}  // namespace
