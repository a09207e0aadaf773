#pragma once
// The run's design of the disease model: set once by the model set-up from the options
// and the covariate table, then read-only for every probe of the run.

#include <string>
#include <vector>

#include "core/model_family.h"
#include "numeric/matrix.h"

// What the settings give one effect of the disease model.
enum class EffectFlag : unsigned char {
  kAbsent,    // not in the disease model
  kModelled,  // in the model, not tested
  kTested,    // in the model and tested
};

// The flag of the settings file's 0, 1 or 2 (above 2 counts as tested, below 0 as absent).
inline EffectFlag effect_flag_of(int value) {
  return value <= 0 ? EffectFlag::kAbsent : value == 1 ? EffectFlag::kModelled : EffectFlag::kTested;
}

// True when the effect is in the disease model.
inline bool in_model(EffectFlag flag) { return flag != EffectFlag::kAbsent; }

// One coefficient of the disease model, in the order of the parameter vector's disease
// block: K, L, the products of K and L with each covariate column, each covariate
// column with its products with later columns, and the intercept when there are
// covariates.
struct DiseaseCoefficient {
  std::string name;                       // "K", "L", "K:age", "age", "age:sex", "(intercept)"
  EffectFlag flag = EffectFlag::kModelled;  // kModelled or kTested
};

struct RunDesign {
  ModelFamily model_family = ModelFamily::kRetrospective;  // the likelihood the design calls for
  std::vector<std::string> covariate_names;  // name of each design column
  int num_covariate_columns = 0;             // J, the design columns
  int num_genetic_variables = 0;             // K and L
  int num_dependent_columns = 0;             // columns of the dependent covariate
  int num_dependent_covariates = 0;
  BasicMatrix<EffectFlag> covariate_effects;       // J x J: main effects, products above
  BasicMatrix<EffectFlag> genetic_effects;         // 2 x 2: K, L and their product
  BasicMatrix<EffectFlag> gene_covariate_effects;  // J x 2: products of a column with K, L
  int num_disease_coefs = 0;                       // coefficients.size()
  std::vector<DiseaseCoefficient> coefficients;    // the disease model's coefficients
};

// Sizes the three effect tables for J design columns, every effect absent.
void clear_effects(RunDesign& design, int num_columns);

// Lists the coefficients of the disease model from the effect tables and the column
// names into design.coefficients and design.num_disease_coefs (unnamed columns are "Z1", ...).
void list_disease_coefficients(RunDesign& design);
