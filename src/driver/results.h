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

// Stops the run with the message of create_results_file when `path` is one of `input_files`.
void check_results_path(const std::string& path, const std::vector<std::string>& input_files);

// Opens an existing results file, whose header and whole probe lines --resume has checked,
// to append the lines of the remaining probes; stops the run like create_results_file.
void append_to_results_file(ResultsFile& results, const std::string& path);

// The two header lines of the results file, without their line breaks.
const std::vector<std::string>& results_header_lines();

// What the results line of `info` begins with whatever its outcome: chromosome, position,
// name and pfb as written, and the two blanks after them.
std::string results_line_start(const ProbeInfo& info);

// Writes the probe's line: its statistic and p-value when result.status is below 1,
// else "NA" for both. The line reaches the file at once, so a run stopped by a signal
// leaves every line written before whole.
void write_probe_line(ResultsFile& results, const ProbeInfo& info, const ProbeResult& result);

// Closes the file, checking that everything reached it.
void close_results_file(ResultsFile& results);
