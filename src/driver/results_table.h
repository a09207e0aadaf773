#pragma once
// The extended results table RESULT_FILE.tsv: tab-separated, one header line, one row per
// probe in the order of the results file, in the column conventions of PLINK 2 and
// REGENIE:
//   CHROM POS ID PFB N_CASES N_CONTROLS
//   BETA SE OR OR_L95 OR_U95        (one tested term; with several, each name carries
//                                    the term: BETA_K SE_K OR_K OR_L95_K OR_U95_K BETA_L ...)
//   CHISQ DF P LOG10P OUTCOME PATH ITER LOGLIK
// Missing fields are "NA". The header depends on the run's model only. A write failure
// stops the run with "\nError: Cannot write to results table '%s'.\n" (kill_Quillmark).

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/para.h"
#include "driver/probe.h"
#include "driver/readers.h"

struct ResultsTable {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file;
  std::string path;
  std::vector<std::string> tested_terms;  // the run's tested coefficients, in vector order
};

// The tested coefficients of the run's disease model ("K", "L", "K:age", ...).
std::vector<std::string> tested_terms(const PARA& para);

// The header line (without its line break) for `terms`.
std::string results_table_header(const std::vector<std::string>& terms);

// The row (without its line break) of one probe.
std::string results_table_row(const std::vector<std::string>& terms, const ProbeInfo& info,
                              const ProbeResult& result);

// Creates the table and writes its header; stops the run with
// "\nError: Results table '%s' cannot be created.\n" when it cannot.
void create_results_table(ResultsTable& table, const std::string& path,
                          const std::vector<std::string>& terms);

// Opens the table of an interrupted run for appending rows after those it holds.
void append_to_results_table(ResultsTable& table, const std::string& path,
                             const std::vector<std::string>& terms);
// What the row of a probe begins with: its CHROM, POS, ID and PFB fields and a tab.
std::string results_table_line_start(const ProbeInfo& info);
// Writes the probe's row, flushed so that a run stopped between probes leaves whole rows.
void write_table_row(ResultsTable& table, const ProbeInfo& info, const ProbeResult& result);

// Closes the table, checking that everything reached it.
void close_results_table(ResultsTable& table);

// -log10 of the probe's p-value, from its statistic on the log scale; NaN for an NA probe.
double probe_minus_log10_p(const ProbeResult& result);
