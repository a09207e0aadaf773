#pragma once
// Model set-up: turns the options and the phenotype covariate table into the disease-
// model design of PARA (design columns, effect flags, model type) and the design
// matrix of DATA, and rejects models that no fit supports.
//
// Column names of categorical levels use the level truncated toward zero, so two
// levels such as 1.2 and 1.7 give two columns with the same name "x(1)". The names
// are only labels; the columns stay distinct and both enter the model.

#include "core/data.h"
#include "driver/option.h"
#include "core/para.h"
#include "numeric/matrix.h"

// Moves the covariates marked dependent ('D') in front of the independent ones, keeping
// the order within each group, in every covariate table of `option` and in the columns
// of `covariates` (rows 0..num_subjects-1). Effect entries follow their covariates.
void order_dependent_covariate_first(OPTION& option, int num_subjects, Matrix& covariates);

// Fills the set-up fields of `para` (model type, design columns and their names, the
// three effect-flag matrices, num_disease_coefs) and `data.covariates`, a
// data.num_subjects x J design matrix from 0, from the options and the covariate table.
void translate_options_to_para_data(const OPTION& option, PARA& para, DATA& data,
                                    const Matrix& covariates);

// Stops the run (kill_Quillmark) when the model is one that no fit supports: more than
// one dependent covariate, dependent and independent covariates together, the product
// of K and L, or a disease model too large for the parameter vector.
void check_options(const OPTION& option, const PARA& para);
