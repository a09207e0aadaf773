#pragma once
// The specification file: keyword lines that set the run's options, the covariate
// names of the phenotype header, and the table of variables and effects of the
// disease model.
//
// A line is split at white space; a line without tokens is skipped. Its first token is
// the keyword, the second a separator that is not examined ("=" by convention), the
// rest are its values. Lines are read whole, whatever their length.
//
// Settings are taken in line order. Because CATEGORICAL, DEPENDENT, EFFECT and TEST
// name covariates of the phenotype header, PHENOTYPE_FILE must stand before all of
// them and may be given only once; otherwise the run stops with
//   "\nError: PHENOTYPE_FILE must come before CATEGORICAL, DEPENDENT, EFFECT and TEST.\n"
// or
//   "\nError: PHENOTYPE_FILE is given more than once.\n".
//
// Paths and names may be of any length. Capacities are checked, never truncated: a
// header with more covariates than fit beside K, or an EFFECT list that needs L when the
// table is full, stops the run with a message.
// A header name "K" or "L" (the genetic variables) or a name given twice in the header
// stops the run too, since EFFECT and TEST could not tell them apart.

#include <string_view>

#include "driver/option.h"

// Reads OPTION.spec_file into `option`, whose defaults are in place, writes a report
// line for every accepted setting, and stops the run (kill_Quillmark) on any error.
void read_spec_file(OPTION& option);

// True when the first token of a phenotype file is a number, that is, when the file
// has no header line.
bool phenotype_header_missing(std::string_view first_token);
