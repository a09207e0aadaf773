#pragma once
// Readers of the run's input files: the phenotype file, the two information files and
// the two per-probe data files. Lines may be of any length; blank lines are skipped
// everywhere. Every value is parsed exactly; a malformed or missing value stops the
// run with "\nError: '<file>', line <n>, field <m>: <what is wrong>.\n" (kill_Quillmark).
// Extra values at the end of a line are ignored.
//
// The data files are read forward once, one probe at a time:
// - called-CN data file: one line per probe (the probe's values start a new line and
//   end on it), num_subjects integers of at least 0;
// - raw-intensity data file: one line per row of its information file (an R line for a
//   CN probe, an R line and a B line for a SNP probe) of num_subjects numbers; the
//   words NA, NaN, nan, inf and -inf (any case) are kept as non-finite values.

#include <string>
#include <vector>

#include "core/data.h"
#include "driver/line_reader.h"
#include "driver/option.h"
#include "numeric/matrix.h"

// Disease status and covariate values of every subject, in subject order.
struct PhenotypeTable {
  int num_subjects = 0;
  std::vector<int> disease_status;  // 0 control, 1 case
  Matrix covariates;               // num_subjects x num_covariates, from 0
};

// Reads the subject lines after the header: the status (0 or 1) and
// option.num_covariates finite numbers, named by option.variable_names.
PhenotypeTable read_phenotype_file(const OPTION& option);

// Number of lines with a token of the file at `path`; stops the run when it cannot be opened.
long count_nonblank_lines(const std::string& path);
// Number of rows (lines with a token) of the raw-intensity information file.
long count_raw_info_rows(const std::string& path);
// Stops the run before any probe is analysed when the called-CN data file does not hold
// `num_probes` lines or the raw-intensity data file not `raw_rows` lines (the rows of its
// information file), with "\nError: '<data file>' has N lines but '<information file>' has M
// probes.\n" (rows for the raw-intensity files). Blank lines are not counted.
void check_data_line_counts(const OPTION& option, long num_probes, long raw_rows);
// Row number, from 0, of the first row of the raw-intensity information file whose name
// is `name`; -1 when no row has it.
long find_raw_info_row(const std::string& path, const std::string& name);

// One row of the called-CN information file.
struct ProbeInfo {
  std::string name;
  int chromosome = 0;
  int position = 0;
  double pfb = 0.0;
};

// Number of probes of the called-CN information file and the name of the first one;
// every row is checked, so a malformed row stops the run before any probe is analysed.
struct ProbeTableSummary {
  long num_probes = 0;
  std::string first_name;
};
ProbeTableSummary scan_called_cn_info(const std::string& path);

// The three files that the probe loop reads forward together.
struct ProbeSource {
  LineReader info;
  LineReader called_cn;
  LineReader raw;
  // Read beside the raw-intensity data file when the first probe was found in it: every
  // intensity line must then stand on a row named after its probe.
  LineReader raw_info;
  bool check_row_names = false;
  bool snp = true;
  // Probes whose called-CN lines and intensity rows are still to be passed over before the
  // next probe's values are read (skip_probes).
  long data_to_skip = 0;
  int num_subjects = 0;
};

// Opens the called-CN information and data files and the raw-intensity data file, and
// skips to the row of the raw-intensity information file that names the first probe
// (`first_probe_row`, from find_raw_info_row). When no row names it (-1), the data file is
// read from its first line and row names are not checked; otherwise a row whose name is
// not that of the probe read from it stops the run. bgzip-compressed data files are
// decompressed on `decompression_threads` threads.
void open_probe_source(ProbeSource& source, const OPTION& option, int num_subjects,
                       long first_probe_row, const std::string& first_probe,
                       int decompression_threads = 1);

// Moves the source past the next `probes` probes without reading their values: their rows
// of the information file now, their called-CN lines and intensity rows (without parsing
// them) when the next probe is read.
void skip_probes(ProbeSource& source, long probes);

// The next row of the called-CN information file; false when none is left.
bool next_probe_info(ProbeSource& source, ProbeInfo& info);
// The next row of a called-CN information file read by `info_file`; false when none is left.
bool next_probe_info(LineReader& info_file, ProbeInfo& info);

// Reads the called copy numbers and the intensity line(s) of `info` into `data`.
void read_probe_data(ProbeSource& source, const ProbeInfo& info, DATA& data);
