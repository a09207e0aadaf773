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

void create_results_file(ResultsFile& results, const std::string& path,
                         const std::vector<std::string>& input_files) {
  results.path = path;
  for (const std::string& input : input_files) {
    std::error_code unknown;
    if (std::filesystem::equivalent(path, input, unknown)) {
      std::printf("\nError: Results file '%s' would overwrite the input file '%s'.\n", path.c_str(),
                  input.c_str());
      kill_Quillmark();
    }
  }
  results.file.reset(std::fopen(path.c_str(), "w"));
  if (!results.file) {
    std::printf("\nError: Results file '%s' cannot be created.\n", path.c_str());
    kill_Quillmark();
  }
  check_write(results,
              std::fprintf(results.file.get(),
                           "Chr   Position     CN/SNP-id      pfb   Test-Stat   p-Value \n"));
  check_write(results,
              std::fprintf(results.file.get(),
                           "---  ---------  ---------------  -----  ---------  ---------\n"));
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
}

void close_results_file(ResultsFile& results) {
  std::FILE* file = results.file.release();
  const bool had_error = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || had_error) write_failed(results);
}
