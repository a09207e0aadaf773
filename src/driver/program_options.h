#pragma once
// The command-line options about the program and its outputs rather than the analysis:
// --help, --version, --no-tsv and --quiet. They are taken out of the argument list
// before the analysis options are read, so the "Options in effect" lines stay those
// of the analysis.

#include <string>
#include <vector>

// The program's version, from the build.
const char* quillmark_version();

struct ProgramOptions {
  bool write_table = true;  // the extended results table RESULT_FILE.tsv
  bool quiet = false;       // no progress on standard error
  int threads = 1;          // threads that analyse probes; --threads, else every core given
  bool newton_finish = false;  // --newton-finish: fits finished by Newton steps at their maximum
};

enum class ProgramAction { kRun, kExitSuccess };

// Removes --no-tsv, --quiet, --newton-finish and --threads N from `arguments` into `options` (without
// --threads, options.threads is every core the machine gives the process). A value of
// --threads that is not a whole number of at least 1 stops the run with an error. With --help or --version
// anywhere, prints the usage or the version on standard output and returns
// kExitSuccess. The value after --spec_file is a path, never taken as one of these.
ProgramAction take_program_options(std::vector<std::string>& arguments, ProgramOptions& options);

// The usage text that --help prints.
std::string usage_text();
