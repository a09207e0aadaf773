#pragma once
// Runs the built program in a fresh temporary directory on small fixture files and
// collects its standard output (time lines masked), standard error, exit status and
// results file.

#include <string>
#include <vector>

struct RunOutput {
  std::string out;  // standard output with the start and completion times masked
  std::string err;
  int status = -1;
};

// A temporary working directory, removed with its files at the end of the test.
class FixtureDir {
 public:
  FixtureDir();
  ~FixtureDir();
  FixtureDir(const FixtureDir&) = delete;
  FixtureDir& operator=(const FixtureDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes the file `name` (creating its directories) with `text`.
  void write(const std::string& name, const std::string& text) const;
  bool exists(const std::string& name) const;
  std::string read(const std::string& name) const;
  void remove(const std::string& name) const;
  // Runs the program in this directory with `args`.
  RunOutput run(const std::vector<std::string>& args = {}) const;

 private:
  std::string path_;
};

// Replaces the 24-character times after "Quillmark started: " and "Quillmark complete: "
// with "<time>".
std::string mask_times(std::string out);

// The banner, the masked start line and the "Options in effect" head of every run.
std::string run_head();

// Expected results file of a run: the two header lines, then for each probe the fixed
// part of its line (chromosome, position, name, pfb); the statistic and p-value may be
// either numbers in their formats or the "NA" pair. Empty when the file matches, else
// a description of the first difference.
struct ExpectedProbe {
  int chromosome;
  int position;
  std::string name;
  double pfb;
};
std::string compare_results(const std::string& results, const std::vector<ExpectedProbe>& probes);

// Number of probe lines (lines after the two header lines) of a results file.
int count_probe_lines(const std::string& results);

// The standard input set in `dir`: an empty specification file and the default files
// for 4 subjects (no covariates used) and 3 SNP probes rs1, rs2, rs3. The first line of
// raw.dat belongs to a row "ctrl" before the first probe and is not numeric: a run
// reads it only when the row skip fails.
void write_standard_inputs(const FixtureDir& dir);
// The probes of the standard input set.
std::vector<ExpectedProbe> standard_probes();

// A relative path "./ddd.../ddd.../fff..." of exactly `length` characters, its folder
// names and file name each within the 255 characters a file system allows.
std::string long_relative_path(std::size_t length);
