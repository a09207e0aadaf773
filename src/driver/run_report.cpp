#include "driver/run_report.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "driver/console.h"
#include "driver/stop.h"

namespace {

std::string resolved(const std::string& path) {
  std::error_code unknown;
  const std::filesystem::path absolute = std::filesystem::absolute(path, unknown);
  return unknown ? path : absolute.lexically_normal().string();
}

std::string quoted_argument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n'\"\\$`") == std::string::npos)
    return argument;
  std::string text = "'";
  for (char c : argument) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return text + "'";
}

// The input file that `path` would overwrite, or "".
std::string overwritten_input(const std::string& path, const OPTION& option) {
  for (const std::string* input : {&option.spec_file, &option.phenotype_file, &option.raw_intensity_dat_file,
                                   &option.raw_intensity_info_file, &option.called_cn_dat_file,
                                   &option.called_cn_info_file}) {
    std::error_code unknown;
    if (std::filesystem::equivalent(path, *input, unknown)) return *input;
  }
  return "";
}

}  // namespace

std::string log_header(const std::vector<std::string>& arguments, const OPTION& option,
                       const ProgramOptions& program) {
  std::string command = "quillmark";
  for (const std::string& argument : arguments) command += " " + quoted_argument(argument);
  std::error_code unknown;
  const std::string cwd = std::filesystem::current_path(unknown).string();
  std::string header = "quillmark " + std::string(quillmark_version()) + " log\n";
  header += "command line: " + command + "\n";
  header += "working directory: " + cwd + "\n";
  const std::pair<const char*, const std::string*> paths[] = {
      {"specification file", &option.spec_file},
      {"phenotype file", &option.phenotype_file},
      {"raw-intensity data file", &option.raw_intensity_dat_file},
      {"raw-intensity information file", &option.raw_intensity_info_file},
      {"called-CN data file", &option.called_cn_dat_file},
      {"called-CN information file", &option.called_cn_info_file},
      {"results file", &option.result_file}};
  for (const auto& [what, path] : paths) header += std::string(what) + ": " + resolved(*path) + "\n";
  header += "results table: " +
            (program.write_table ? resolved(option.result_file + ".tsv") : std::string("none (--no-tsv)")) +
            "\n";
  header += "log file: " + resolved(option.result_file + ".log") + "\n";
  header += "threads: " + std::to_string(program.threads) + "\n";
  return header + "\n";
}

RunReport::RunReport(const std::vector<std::string>& arguments, const ProgramOptions& program)
    : arguments_(arguments),
      program_(program),
      wall_start_(std::chrono::steady_clock::now()),
      cpu_start_(std::clock()) {}

RunReport::~RunReport() { close_console_log(); }

void RunReport::open_log(const OPTION& option, bool append) {
  const std::string path = option.result_file + ".log";
  const std::string input = overwritten_input(path, option);
  if (!input.empty()) {
    std::fprintf(stderr, "Warning: log file '%s' would overwrite the input file '%s'; the run goes on without it\n",
                 path.c_str(), input.c_str());
    return;
  }
  if (!open_console_log(path, log_header(arguments_, option, program_), append)) {
    std::fprintf(stderr, "Warning: log file '%s' cannot be created; the run goes on without it\n",
                 path.c_str());
  }
}

void RunReport::start_probes(const OPTION& option, const PARA& para, long num_probes,
                             bool resume) {
  if (program_.write_table) {
    const std::string path = option.result_file + ".tsv";
    const std::string input = overwritten_input(path, option);
    if (!input.empty()) {
      std::printf("\nError: Results table '%s' would overwrite the input file '%s'.\n", path.c_str(),
                  input.c_str());
      kill_Quillmark();
    }
    if (resume)
      append_to_results_table(table_, path, tested_terms(para));
    else
      create_results_table(table_, path, tested_terms(para));
  }
  progress_.emplace(make_stderr_progress(num_probes, program_.quiet));
}

void RunReport::record(const ProbeInfo& info, const ProbeResult& result) {
  if (table_.file) write_table_row(table_, info, result);
  summary_.add(result.outcome, result.statistic, result.degrees_of_freedom,
               probe_minus_log10_p(result), result.path);
  if (progress_) progress_->update(++done_);
}

void RunReport::finish() {
  if (progress_) progress_->finish();
  if (table_.file) close_results_table(table_);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start_).count();
  const double cpu = static_cast<double>(std::clock() - cpu_start_) / CLOCKS_PER_SEC;
  const std::string summary = summary_.lines(wall, cpu);
  std::fprintf(stderr, "%s", summary.c_str());
  if (!console_tee_installed()) log_only(summary);
}
