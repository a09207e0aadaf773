#pragma once
// The results file: two header lines, then one line per probe in probe order. Every
// write and the final close are checked; a failure stops the run with
// "\nError: Cannot write to results file '%s'.\n" (kill_Quillmark), so a run never
// reports completion over a results file that is incomplete.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "driver/probe.h"
#include "driver/readers.h"

struct ResultsFile {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file;
  std::string path;
};

// Creates the file anew and writes its two header lines; stops the run with
// "\nError: Results file '%s' cannot be created.\n" when it cannot be created, and with
// "\nError: Results file '%s' would overwrite the input file '%s'.\n" when it is one of
// `input_files` (creating it would destroy that input before it is read).
void create_results_file(ResultsFile& results, const std::string& path,
                         const std::vector<std::string>& input_files);

// Writes the probe's line: its statistic and p-value when result.status is below 1,
// else "NA" for both.
void write_probe_line(ResultsFile& results, const ProbeInfo& info, const ProbeResult& result);

// Closes the file, checking that everything reached it.
void close_results_file(ResultsFile& results);
