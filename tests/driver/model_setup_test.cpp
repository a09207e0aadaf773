// Model set-up: covariate reordering, design columns and effect flags, and the model check.
#include "driver/model_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/data.h"
#include "driver/option.h"
#include "core/para.h"
#include "driver/stop.h"

namespace {

// Options after a specification file with these covariate names: K right after them and
// only K's main effect, tested.
OPTION options_with(const std::vector<std::string>& names) {
  OPTION option;
  set_default_options(option);
  const int nc = static_cast<int>(names.size());
  option.num_covariates = nc;
  for (int j = 0; j < nc; ++j) option.variable_names[j] = names[j];
  option.variable_names[nc] = "K";
  option.effect_table[0][0] = 0;
  option.effect_table[nc][nc] = 2;
  return option;
}

void add_l(OPTION& option) {
  option.variable_names[option.num_covariates + 1] = "L";
  option.num_genetic_names = 2;
}

void set_effect(OPTION& option, int i, int j, int value) {
  option.effect_table[i][j] = value;
  option.effect_table[j][i] = value;
}

Matrix table_of(const std::vector<std::vector<double>>& rows, int columns) {
  Matrix table = Matrix(static_cast<int>(rows.size()), columns);
  for (int i = 0; i < static_cast<int>(rows.size()); ++i)
    for (int j = 0; j < columns; ++j) table(i, j) = rows[i][j];
  return table;
}

struct ModelBuilt {
  PARA para;
  DATA data;
};

ModelBuilt set_up(const OPTION& option, const Matrix& covariates, int num_subjects) {
  ModelBuilt result;
  result.data.num_subjects = num_subjects;
  translate_options_to_para_data(option, result.para, result.data, covariates);
  return result;
}

// The text check_options writes before it stops the run, or "" when it accepts.
std::string check_message(const OPTION& option, const PARA& para) {
  testing::internal::CaptureStdout();
  try {
    check_options(option, para);
  } catch (const RunStopped&) {
    return testing::internal::GetCapturedStdout();
  }
  testing::internal::GetCapturedStdout();
  return "";
}

const std::string kStop = "\nQuillmark was stopped due to error(s) listed above.\n\n";

}  // namespace

TEST(ModelSetUp, OnlyKGivesModelZeroWithoutIntercept) {
  const OPTION option = options_with({});
  const Matrix none = table_of({{}, {}}, 0);
  const ModelBuilt s = set_up(option, none, 2);
  EXPECT_EQ(s.para.design().model_family, ModelFamily::kRetrospective);
  EXPECT_EQ(s.para.design().num_covariate_columns, 0);
  EXPECT_EQ(s.para.design().num_disease_coefs, 1);
  EXPECT_EQ(s.para.design().num_genetic_variables, 2);
  EXPECT_EQ(s.para.design().genetic_effects(0, 0), EffectFlag::kTested);
  EXPECT_EQ(s.para.design().genetic_effects(1, 1), EffectFlag::kAbsent);
  EXPECT_EQ(check_message(option, s.para), "");
}

TEST(ModelSetUp, CategoricalLevelsGiveSortedColumnsWithTruncatedNames) {
  struct Case {
    std::vector<double> values;
    std::vector<std::string> names;
    std::vector<std::vector<double>> columns;  // per subject
  };
  const std::vector<Case> cases = {
      // 1.0000001 is the level 1 within the tolerance: 0 in both columns.
      {{2, 1, 3, 1.0000001}, {"x(2)", "x(3)"}, {{1, 0}, {0, 0}, {0, 1}, {0, 0}}},
      {{0.5, 1.5, 0.5}, {"x(1)"}, {{0}, {1}, {0}}},
      // Two levels that truncate alike keep the same name; their columns stay distinct.
      {{0, 1.2, 1.7}, {"x(1)", "x(1)"}, {{0, 0}, {1, 0}, {0, 1}}},
      {{-2.5, 4}, {"x(4)"}, {{0}, {1}}},
      // A single level gives no column.
      {{3, 3}, {}, {{}, {}}},
  };
  for (const Case& c : cases) {
    OPTION option = options_with({"x"});
    option.is_categorical[0] = 1;
    set_effect(option, 0, 0, 1);
    std::vector<std::vector<double>> rows;
    for (double v : c.values) rows.push_back({v});
    const ModelBuilt s = set_up(option, table_of(rows, 1), static_cast<int>(rows.size()));
    ASSERT_EQ(s.para.design().num_covariate_columns, static_cast<int>(c.names.size()));
    EXPECT_EQ(s.para.design().covariate_names, c.names);
    EXPECT_EQ(s.para.design().model_family, ModelFamily::kRetrospectiveWithCovariates);
    for (std::size_t i = 0; i < rows.size(); ++i)
      for (std::size_t k = 0; k < c.names.size(); ++k)
        EXPECT_EQ(s.data.covariates(static_cast<int>(i), static_cast<int>(k)), c.columns[i][k])
            << "subject " << i << " column " << k;
    EXPECT_EQ(s.para.design().num_disease_coefs,
              1 + static_cast<int>(c.names.size()) + (c.names.empty() ? 0 : 1));
  }
}

TEST(ModelSetUp, IndependentCovariatesWithCategoricalGiveModelOne) {
  OPTION option = options_with({"age", "batch"});
  option.is_categorical[1] = 1;
  set_effect(option, 0, 0, 1);
  set_effect(option, 1, 1, 1);
  const Matrix table = table_of({{40.5, 1}, {50, 2}, {61, 3}, {33, 2}}, 2);
  const ModelBuilt s = set_up(option, table, 4);
  EXPECT_EQ(s.para.design().model_family, ModelFamily::kRetrospectiveWithCovariates);
  EXPECT_EQ(s.para.design().num_covariate_columns, 3);
  EXPECT_EQ(s.para.design().covariate_names, (std::vector<std::string>{"age", "batch(2)", "batch(3)"}));
  EXPECT_EQ(s.data.covariates(0, 0), 40.5);
  EXPECT_EQ(s.data.covariates(3, 1), 1.0);
  EXPECT_EQ(s.data.covariates(3, 2), 0.0);
  EXPECT_EQ(s.para.design().num_disease_coefs, 1 + 3 + 1);
  EXPECT_EQ(check_message(option, s.para), "");
}

TEST(ModelSetUp, ProductsAndTestFlagsReachTheEffectMatrices) {
  // Covariates a (numeric), b (categorical, 3 levels), c (named only in a product).
  OPTION option = options_with({"a", "b", "c"});
  add_l(option);
  option.is_categorical[1] = 1;
  const int K = 3, L = 4;
  set_effect(option, 0, 0, 1);
  set_effect(option, 1, 1, 2);
  set_effect(option, L, L, 1);
  set_effect(option, K, 0, 2);  // K*a tested
  set_effect(option, L, 1, 1);  // L*b
  set_effect(option, 0, 1, 1);  // a*b
  set_effect(option, K, 2, 1);  // K*c: c's main effect is absent, so c and K*c stay out
  const Matrix table = table_of({{1, 0, 5}, {2, 1, 6}, {3, 2, 7}}, 3);
  const ModelBuilt s = set_up(option, table, 3);
  const PARA& p = s.para;
  ASSERT_EQ(p.design().num_covariate_columns, 3);  // a, b(1), b(2)
  EXPECT_EQ(p.design().genetic_effects(0, 0), EffectFlag::kTested);
  EXPECT_EQ(p.design().genetic_effects(1, 1), EffectFlag::kModelled);
  EXPECT_EQ(p.design().genetic_effects(0, 1), EffectFlag::kAbsent);
  EXPECT_EQ(p.design().gene_covariate_effects(0, 0), EffectFlag::kTested);
  EXPECT_EQ(p.design().gene_covariate_effects(0, 1), EffectFlag::kAbsent);
  EXPECT_EQ(p.design().gene_covariate_effects(1, 1), EffectFlag::kModelled);
  EXPECT_EQ(p.design().gene_covariate_effects(2, 1), EffectFlag::kModelled);
  EXPECT_EQ(p.design().gene_covariate_effects(1, 0), EffectFlag::kAbsent);
  EXPECT_EQ(p.design().covariate_effects(0, 0), EffectFlag::kModelled);
  EXPECT_EQ(p.design().covariate_effects(1, 1), EffectFlag::kTested);
  EXPECT_EQ(p.design().covariate_effects(2, 2), EffectFlag::kTested);
  EXPECT_EQ(p.design().covariate_effects(0, 1), EffectFlag::kModelled);
  EXPECT_EQ(p.design().covariate_effects(0, 2), EffectFlag::kModelled);
  EXPECT_EQ(p.design().covariate_effects(1, 2), EffectFlag::kAbsent);  // levels of one covariate: no product
  EXPECT_EQ(p.design().covariate_effects(1, 0), EffectFlag::kAbsent);  // below the diagonal stays 0
  // K, L, K*a, L*b(1), L*b(2), a, b(1), b(2), a*b(1), a*b(2), intercept: listed once for
  // the run, in the order of the parameter vector, with their flags.
  EXPECT_EQ(p.design().num_disease_coefs, 11);
  const std::vector<std::pair<std::string, EffectFlag>> expected = {
      {"K", EffectFlag::kTested},          {"L", EffectFlag::kModelled},
      {"K:a", EffectFlag::kTested},        {"L:b(1)", EffectFlag::kModelled},
      {"L:b(2)", EffectFlag::kModelled},   {"a", EffectFlag::kModelled},
      {"a:b(1)", EffectFlag::kModelled},   {"a:b(2)", EffectFlag::kModelled},
      {"b(1)", EffectFlag::kTested},       {"b(2)", EffectFlag::kTested},
      {"(intercept)", EffectFlag::kModelled}};
  ASSERT_EQ(p.design().coefficients.size(), expected.size());
  for (std::size_t u = 0; u < expected.size(); ++u) {
    EXPECT_EQ(p.design().coefficients[u].name, expected[u].first) << u;
    EXPECT_EQ(p.design().coefficients[u].flag, expected[u].second) << u;
  }
}

TEST(ModelSetUp, ModelCheckMessages) {
  struct Case {
    const char* what;
    std::vector<char> dependence;  // of covariates x, y
    std::vector<int> main_effects;
    bool k_times_l;
    std::string message;  // "" when accepted
    ModelFamily family;
  };
  const std::vector<Case> cases = {
      {"one dependent", {'D', 'I'}, {1, 0}, false, "", ModelFamily::kProspectiveSieve},
      {"dependent outside the model", {'D', 'I'}, {0, 1}, false, "", ModelFamily::kRetrospectiveWithCovariates},
      {"dependent outside, none in", {'D', 'D'}, {0, 0}, false, "", ModelFamily::kRetrospective},
      {"two dependent",
       {'D', 'D'},
       {1, 1},
       false,
       "\nError: Only one covariate is allowed to depend on the genetic variable(s) in the current "
       "version\n",
       ModelFamily::kProspectiveSieve},
      {"dependent with independent",
       {'I', 'D'},
       {1, 1},
       false,
       "\nError: Dependent and independent covariates are not allowed to co-exist in the current "
       "version\n",
       ModelFamily::kProspectiveSieve},
      {"K*L", {'I', 'I'}, {0, 0}, true, "\nError: Not allow the effect 'K*L' or 'L*K'\n", ModelFamily::kRetrospective},
  };
  for (const Case& c : cases) {
    OPTION option = options_with({"x", "y"});
    for (int j = 0; j < 2; ++j) {
      option.dependence[j] = c.dependence[j];
      set_effect(option, j, j, c.main_effects[j]);
    }
    if (c.k_times_l) {
      add_l(option);
      set_effect(option, 3, 3, 1);
      set_effect(option, 2, 3, 1);
    }
    Matrix table = table_of({{1, 2}, {3, 4}}, 2);
    order_dependent_covariate_first(option, 2, table);
    const ModelBuilt s = set_up(option, table, 2);
    EXPECT_EQ(s.para.design().model_family, c.family) << c.what;
    EXPECT_EQ(check_message(option, s.para), c.message.empty() ? "" : c.message + kStop) << c.what;
  }
}

TEST(ModelSetUp, ReorderingPutsTheDependentCovariateFirst) {
  OPTION option = options_with({"x", "z"});
  add_l(option);
  option.dependence[1] = 'D';
  option.is_categorical[1] = 1;
  set_effect(option, 1, 1, 2);  // z
  set_effect(option, 2, 1, 1);  // K*z
  set_effect(option, 3, 0, 1);  // L*x
  set_effect(option, 3, 3, 1);
  Matrix table = table_of({{10, 1}, {20, 2}, {30, 1}}, 2);
  order_dependent_covariate_first(option, 3, table);

  EXPECT_EQ(option.variable_names[0], "z");
  EXPECT_EQ(option.variable_names[1], "x");
  EXPECT_EQ(option.variable_names[2], "K");
  EXPECT_EQ(option.variable_names[3], "L");
  EXPECT_EQ(option.dependence[0], 'D');
  EXPECT_EQ(option.dependence[1], 'I');
  EXPECT_EQ(option.is_categorical[0], 1);
  EXPECT_EQ(option.is_categorical[1], 0);
  EXPECT_EQ(option.effect_table[0][0], 2);
  EXPECT_EQ(option.effect_table[1][1], 0);
  EXPECT_EQ(option.effect_table[2][0], 1);
  EXPECT_EQ(option.effect_table[0][2], 1);
  EXPECT_EQ(option.effect_table[3][1], 1);
  EXPECT_EQ(option.effect_table[1][3], 1);
  EXPECT_EQ(option.effect_table[3][0], 0);
  EXPECT_EQ(option.effect_table[2][2], 2);
  EXPECT_EQ(option.effect_table[3][3], 1);
  EXPECT_EQ(table(0, 0), 1);
  EXPECT_EQ(table(0, 1), 10);
  EXPECT_EQ(table(1, 0), 2);
  EXPECT_EQ(table(2, 1), 30);

  const ModelBuilt s = set_up(option, table, 3);
  EXPECT_EQ(s.para.design().model_family, ModelFamily::kProspectiveSieve);
  EXPECT_EQ(s.para.design().num_covariate_columns, 1);
  EXPECT_EQ(s.para.design().num_dependent_columns, 1);
  EXPECT_EQ(s.para.design().num_dependent_covariates, 1);
  EXPECT_EQ(s.para.design().covariate_names, std::vector<std::string>{"z(2)"});
  EXPECT_EQ(s.data.covariates(1, 0), 1.0);
  EXPECT_EQ(s.data.covariates(2, 0), 0.0);
  EXPECT_EQ(s.para.design().gene_covariate_effects(0, 0), EffectFlag::kModelled);
  EXPECT_EQ(s.para.design().covariate_effects(0, 0), EffectFlag::kTested);
  EXPECT_EQ(check_message(option, s.para), "");
}

TEST(ModelSetUp, ADiseaseModelBeyondTheParameterVectorIsRejected) {
  // One categorical covariate with 170 levels: 169 columns, K and the intercept. SNP probes
  // of array 'I' with separate control and case sets need 39 more entries.
  OPTION option = options_with({"site"});
  option.is_categorical[0] = 1;
  set_effect(option, 0, 0, 1);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 170; ++i) rows.push_back({static_cast<double>(i)});
  const ModelBuilt s = set_up(option, table_of(rows, 1), 170);
  EXPECT_EQ(s.para.design().num_disease_coefs, 171);
  EXPECT_EQ(check_message(option, s.para),
            "\nError: The disease model has 171 coefficients; at most 161 fit in the parameter "
            "vector of this probe type.\n" +
                kStop);
}
