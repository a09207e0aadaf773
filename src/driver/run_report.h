#pragma once
// What a run writes beside its results file and standard output: the log
// (RESULT_FILE.log), the extended results table (RESULT_FILE.tsv), progress on standard
// error and the closing summary on standard error and in the log.

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "driver/option.h"
#include "core/para.h"
#include "driver/probe.h"
#include "driver/program_options.h"
#include "driver/progress.h"
#include "driver/readers.h"
#include "driver/results_table.h"
#include "driver/run_summary.h"

class RunReport {
 public:
  // A report of the run started with `arguments` and the output options in `program`.
  RunReport(const std::vector<std::string>& arguments, const ProgramOptions& program);
  // Closes the log, also when the run was stopped by an error.
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Opens RESULT_FILE.log once the specification file has named the results file: its
  // header (version, command line, resolved paths, threads), then what was printed so far.
  // A log that cannot be created or would overwrite an input file is left out, with a
  // warning on standard error.
  // With `append` (a resumed run) the log is continued after what it holds.
  void open_log(const OPTION& option, bool append = false);

  // Creates RESULT_FILE.tsv for the run's model (unless --no-tsv) and starts the progress
  // over `num_probes`; called after the results file was created. A table that would
  // overwrite an input file stops the run with
  // "\nError: Results table '%s' would overwrite the input file '%s'.\n".
  // With `resume` the table is continued after the rows it holds (prepare_resume has cut
  // it back to whole rows).
  void start_probes(const OPTION& option, const PARA& para, long num_probes, bool resume = false);

  // Whether the run writes RESULT_FILE.tsv (no --no-tsv).
  bool writes_table() const { return program_.write_table; }
  // Records one probe: its table row, its count in the summary and the progress.
  void record(const ProbeInfo& info, const ProbeResult& result);

  // Closes the table and writes the summary on standard error (and so in the log).
  void finish();

 private:
  std::vector<std::string> arguments_;
  ProgramOptions program_;
  std::chrono::steady_clock::time_point wall_start_;
  std::clock_t cpu_start_;
  ResultsTable table_;
  RunSummary summary_;
  std::optional<Progress> progress_;
  long done_ = 0;
};

// The log header: version, command line, working directory, resolved input and output
// paths and the thread count, one "key: value" line each, then a blank line.
std::string log_header(const std::vector<std::string>& arguments, const OPTION& option,
                       const ProgramOptions& program);
