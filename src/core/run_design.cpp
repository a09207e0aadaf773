#include "core/run_design.h"

void clear_effects(RunDesign& design, int num_columns) {
  design.num_covariate_columns = num_columns;
  design.genetic_effects.resize(2, 2, EffectFlag::kAbsent);
  design.covariate_effects.resize(num_columns, num_columns, EffectFlag::kAbsent);
  design.gene_covariate_effects.resize(num_columns, 2, EffectFlag::kAbsent);
}

void list_disease_coefficients(RunDesign& design) {
  static const char* const kGenetic[2] = {"K", "L"};
  const int J = design.num_covariate_columns;
  const auto column = [&design](int j) {
    return j < static_cast<int>(design.covariate_names.size()) ? design.covariate_names[j]
                                                                : "Z" + std::to_string(j + 1);
  };
  std::vector<DiseaseCoefficient> coefficients;
  for (int g = 0; g < design.num_genetic_variables; ++g)
    if (in_model(design.genetic_effects(g, g)))
      coefficients.push_back({kGenetic[g], design.genetic_effects(g, g)});
  for (int j = 0; j < J; ++j)
    for (int g = 0; g < design.num_genetic_variables; ++g)
      if (in_model(design.gene_covariate_effects(j, g)))
        coefficients.push_back({std::string(kGenetic[g]) + ":" + column(j),
                                design.gene_covariate_effects(j, g)});
  for (int j = 0; j < J; ++j)
    for (int jj = j; jj < J; ++jj)
      if (in_model(design.covariate_effects(j, jj)))
        coefficients.push_back({jj == j ? column(j) : column(j) + ":" + column(jj),
                                design.covariate_effects(j, jj)});
  if (J > 0) coefficients.push_back({"(intercept)", EffectFlag::kModelled});
  design.coefficients = std::move(coefficients);
  design.num_disease_coefs = static_cast<int>(design.coefficients.size());
}
