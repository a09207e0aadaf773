#include "driver/model_setup.h"

#include <algorithm>
#include <memory>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "driver/stop.h"

namespace {

// Two covariate values within this distance are the same categorical level.
constexpr double kLevelTolerance = 0.000001;

bool same_level(double level, double x) {
  return level - kLevelTolerance < x && x < level + kLevelTolerance;
}

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// One covariate of the disease model and the design columns it gives.
struct SelectedCovariate {
  int position = 0;  // in the option tables
  bool categorical = false;
  std::vector<double> levels;  // categorical: the levels that have a column (all but the smallest)
  int first_column = 0;
  int num_columns = 0;
};

std::vector<double> distinct_levels(const Matrix& covariates, int num_subjects, int position) {
  std::vector<double> levels;
  for (int i = 0; i < num_subjects; ++i) {
    const double x = covariates(i, position);
    const bool known = std::any_of(levels.begin(), levels.end(),
                                   [x](double level) { return same_level(level, x); });
    if (!known) levels.push_back(x);
  }
  // Levels differ by more than the tolerance, so the ascending order is unique.
  std::sort(levels.begin(), levels.end());
  return levels;
}

std::string level_column_name(const std::string& covariate, double level) {
  char number[64];
  const double truncated = std::trunc(level);
  if (truncated >= static_cast<double>(INT_MIN) && truncated <= static_cast<double>(INT_MAX)) {
    std::snprintf(number, sizeof number, "%d", static_cast<int>(truncated));
  } else {
    std::snprintf(number, sizeof number, "%.0f", truncated);
  }
  return covariate + "(" + number + ")";
}

// Length of the parameter vector beyond the disease model for the largest layout of the
// run's probe type: class frequencies, R blocks and, for SNP probes, B blocks.
int max_intensity_params(const OPTION& option) {
  const int groups = option.differential_measurement_errors + 1;
  if (option.probe_type == ProbeType::kCn) return 2 + 2 * groups * 3;
  const int r_stride = option.array_type == 'A' ? 6 : 3;
  return 3 + 2 * groups * r_stride + 2 * groups * 6;
}

}  // namespace

void order_dependent_covariate_first(OPTION& option, int num_subjects, Matrix& covariates) {
  const int nc = option.num_covariates;
  const int ng = option.num_genetic_names;
  std::vector<int> order;  // order[new position] = old position
  for (int s = 0; s < nc; ++s) {
    if (option.dependence[at(s)] == 'D') order.push_back(s);
  }
  for (int s = 0; s < nc; ++s) {
    if (option.dependence[at(s)] != 'D') order.push_back(s);
  }

  const OPTION old = option;
  for (int j = 0; j < nc; ++j) {
    const int s = order[at(j)];
    option.is_categorical[at(j)] = old.is_categorical[at(s)];
    option.dependence[at(j)] = old.dependence[at(s)];
    option.variable_names[at(j)] = old.variable_names[at(s)];
    for (int j2 = 0; j2 < nc; ++j2) {
      option.effect_table[at(j)][at(j2)] = old.effect_table[at(s)][at(order[at(j2)])];
    }
    for (int g = nc; g < nc + ng; ++g) {
      option.effect_table[at(j)][at(g)] = old.effect_table[at(s)][at(g)];
      option.effect_table[at(g)][at(j)] = old.effect_table[at(g)][at(s)];
    }
  }

  std::vector<double> row(at(nc));
  for (int i = 0; i < num_subjects; ++i) {
    for (int j = 0; j < nc; ++j) row[at(j)] = covariates(i, order[at(j)]);
    for (int j = 0; j < nc; ++j) covariates(i, j) = row[at(j)];
  }
}

void translate_options_to_para_data(const OPTION& option, PARA& para, DATA& data,
                                    const Matrix& covariates) {
  const int nc = option.num_covariates;
  const int ng = option.num_genetic_names;
  const int n = data.num_subjects;
  const auto& effect = option.effect_table;

  std::vector<SelectedCovariate> selected;
  int num_dependent = 0;
  int num_independent = 0;
  int num_columns = 0;
  int num_dependent_columns = 0;
  for (int s = 0; s < nc; ++s) {
    if (effect[at(s)][at(s)] <= 0) continue;
    SelectedCovariate covariate;
    covariate.position = s;
    covariate.categorical = option.is_categorical[at(s)] == 1;
    if (covariate.categorical) {
      std::vector<double> levels = distinct_levels(covariates, n, s);
      if (!levels.empty()) levels.erase(levels.begin());  // the smallest is the reference
      covariate.levels = std::move(levels);
      covariate.num_columns = static_cast<int>(covariate.levels.size());
    } else {
      covariate.num_columns = 1;
    }
    covariate.first_column = num_columns;
    num_columns += covariate.num_columns;
    if (option.dependence[at(s)] == 'D') {
      ++num_dependent;
      num_dependent_columns += covariate.num_columns;
    } else {
      ++num_independent;
    }
    selected.push_back(std::move(covariate));
  }
  const int J = num_columns;

  RunDesign design;
  design.model_family = num_dependent >= 1    ? ModelFamily::kProspectiveSieve
                      : num_independent >= 1 ? ModelFamily::kRetrospectiveWithCovariates
                                             : ModelFamily::kRetrospective;
  clear_effects(design, J);
  design.num_dependent_columns = num_dependent_columns;
  design.num_dependent_covariates = num_dependent;
  design.num_genetic_variables = 2;

  design.covariate_names.assign(at(J), std::string());
  data.covariates = Matrix(n, J);
  for (const SelectedCovariate& covariate : selected) {
    const std::string& name = option.variable_names[at(covariate.position)];
    for (int k = 0; k < covariate.num_columns; ++k) {
      const int c = covariate.first_column + k;
      if (covariate.categorical) {
        const double level = covariate.levels[at(k)];
        design.covariate_names[at(c)] = level_column_name(name, level);
        for (int i = 0; i < n; ++i) {
          data.covariates(i, c) = same_level(level, covariates(i, covariate.position)) ? 1.0 : 0.0;
        }
      } else {
        design.covariate_names[at(c)] = name;
        for (int i = 0; i < n; ++i) data.covariates(i, c) = covariates(i, covariate.position);
      }
    }
  }

  int k_position = -1;
  int l_position = -1;
  for (int g = nc; g < nc + ng; ++g) {
    const std::string& name = option.variable_names[at(g)];
    if (!name.empty() && name[0] == 'K') k_position = g;
    if (!name.empty() && name[0] == 'L') l_position = g;
  }

  if (k_position >= 0) design.genetic_effects(0, 0) = effect_flag_of(effect[at(k_position)][at(k_position)]);
  if (l_position >= 0) {
    design.genetic_effects(1, 1) = effect_flag_of(effect[at(l_position)][at(l_position)]);
    if (k_position >= 0) {
      design.genetic_effects(0, 1) = effect_flag_of(effect[at(k_position)][at(l_position)]);
      design.genetic_effects(1, 0) = effect_flag_of(effect[at(k_position)][at(l_position)]);
    }
  }
  for (std::size_t a = 0; a < selected.size(); ++a) {
    const SelectedCovariate& first = selected[a];
    const std::size_t s = at(first.position);
    for (int c = first.first_column; c < first.first_column + first.num_columns; ++c) {
      if (k_position >= 0) design.gene_covariate_effects(c, 0) = effect_flag_of(effect[at(k_position)][s]);
      if (l_position >= 0) design.gene_covariate_effects(c, 1) = effect_flag_of(effect[at(l_position)][s]);
      design.covariate_effects(c, c) = effect_flag_of(effect[s][s]);
      for (std::size_t b = a + 1; b < selected.size(); ++b) {
        const SelectedCovariate& later = selected[b];
        for (int c2 = later.first_column; c2 < later.first_column + later.num_columns; ++c2) {
          design.covariate_effects(c, c2) = effect_flag_of(effect[s][at(later.position)]);
        }
      }
    }
  }

  list_disease_coefficients(design);
  para.run_design = std::make_shared<const RunDesign>(std::move(design));
}

void check_options(const OPTION& option, const PARA& para) {
  if (para.design().num_dependent_covariates > 1) {
    std::printf(
        "\nError: Only one covariate is allowed to depend on the genetic variable(s) in the "
        "current version\n");
    kill_Quillmark();
  }
  const RunDesign& design = para.design();
  if (design.num_dependent_covariates == 1 &&
      design.num_covariate_columns > design.num_dependent_columns) {
    std::printf(
        "\nError: Dependent and independent covariates are not allowed to co-exist in the "
        "current version\n");
    kill_Quillmark();
  }
  if (in_model(design.genetic_effects(0, 1)) || in_model(design.genetic_effects(1, 0))) {
    std::printf("\nError: Not allow the effect 'K*L' or 'L*K'\n");
    kill_Quillmark();
  }
  // The starting values and fits address the whole parameter vector in the driver's
  // 200 entries; a larger model would not fit in it.
  const int room = kMaxParams - max_intensity_params(option);
  if (design.num_disease_coefs > room) {
    std::printf(
        "\nError: The disease model has %d coefficients; at most %d fit in the parameter vector "
        "of this probe type.\n",
        design.num_disease_coefs, room);
    kill_Quillmark();
  }
}
