#include "driver/results.h"

#include <filesystem>
#include <system_error>

#include "driver/stop.h"

namespace {

[[noreturn]] void write_failed(const ResultsFile& results) {
  std::printf("\nError: Cannot write to results file '%s'.\n", results.path.c_str());
  kill_Quillmark();
}

void check_write(ResultsFile& results, int written) {
  if (written < 0 || std::ferror(results.file.get())) write_failed(results);
}

}  // namespace

const std::vector<std::string>& results_header_lines() {
  static const std::vector<std::string> lines = {
      "Chr   Position     CN/SNP-id      pfb   Test-Stat   p-Value ",
      "---  ---------  ---------------  -----  ---------  ---------"};
  return lines;
}

std::string results_line_start(const ProbeInfo& info) {
  const int length = std::snprintf(nullptr, 0, "%3d  %9d  %-15s  %5.3lf  ", info.chromosome,
                                   info.position, info.name.c_str(), info.pfb);
  std::string start(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(start.data(), start.size(), "%3d  %9d  %-15s  %5.3lf  ", info.chromosome,
                info.position, info.name.c_str(), info.pfb);
  start.pop_back();
  return start;
}

void check_results_path(const std::string& path, const std::vector<std::string>& input_files) {
  for (const std::string& input : input_files) {
    std::error_code unknown;
    if (std::filesystem::equivalent(path, input, unknown)) {
      std::printf("\nError: Results file '%s' would overwrite the input file '%s'.\n", path.c_str(),
                  input.c_str());
      kill_Quillmark();
    }
  }
}

void create_results_file(ResultsFile& results, const std::string& path,
                         const std::vector<std::string>& input_files) {
  results.path = path;
  check_results_path(path, input_files);
  results.file.reset(std::fopen(path.c_str(), "w"));
  if (!results.file) {
    std::printf("\nError: Results file '%s' cannot be created.\n", path.c_str());
    kill_Quillmark();
  }
  for (const std::string& header : results_header_lines())
    check_write(results, std::fprintf(results.file.get(), "%s\n", header.c_str()));
}

void append_to_results_file(ResultsFile& results, const std::string& path) {
  results.path = path;
  results.file.reset(std::fopen(path.c_str(), "a"));
  if (!results.file) {
    std::printf("\nError: Results file '%s' cannot be created.\n", path.c_str());
    kill_Quillmark();
  }
}

void write_probe_line(ResultsFile& results, const ProbeInfo& info, const ProbeResult& result) {
  int written = 0;
  if (result.status < 1) {
    written =
        std::fprintf(results.file.get(), "%3d  %9d  %-15s  %5.3lf  %9.4lf  %.2e\n", info.chromosome,
                     info.position, info.name.c_str(), info.pfb, result.statistic, result.p_value);
  } else {
    written = std::fprintf(results.file.get(), "%3d  %9d  %-15s  %5.3lf     NA        NA    \n",
                           info.chromosome, info.position, info.name.c_str(), info.pfb);
  }
  check_write(results, written);
  if (std::fflush(results.file.get()) != 0) write_failed(results);
}

void close_results_file(ResultsFile& results) {
  std::FILE* file = results.file.release();
  const bool had_error = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || had_error) write_failed(results);
}
