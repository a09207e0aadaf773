// The whole run: the banner, the command line, the specification file, the input
// files, the model set-up and the loop over probes.

#include "driver/run.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "core/data.h"
#include "driver/cluster_options.h"
#include "driver/interrupt.h"
#include "driver/line_sinks.h"
#include "driver/model_setup.h"
#include "driver/option.h"
#include "core/para.h"
#include "driver/probe_loop.h"
#include "driver/program_options.h"
#include "driver/readers.h"
#include "driver/results.h"
#include "driver/run_report.h"
#include "driver/spec_file.h"
#include "driver/stop.h"

namespace {

// The local time in the 24-character calendar form with its own line break,
// "Thu Jun  7 14:03:59 2012\n", as the C library's calendar text comes.
std::string local_time_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &local);
  return text;
}

void write_banner() {
  std::printf("\n");
  std::printf("@-------------------------------------------------@\n");
  std::printf("|   Quillmark    |   v1.0   |     01/Jun/2012     |\n");
  std::printf("---------------------------------------------------\n");
  std::printf("|          For documentation & citation           |\n");
  std::printf("|  See README.md of the Quillmark distribution    |\n");
  std::printf("@-------------------------------------------------@\n\n");
}

void read_command_line(const std::vector<std::string>& arguments, OPTION& option,
                       ClusterOptions& cluster) {
  std::printf("\nOptions in effect:\n");
  const std::size_t count = arguments.size();
  for (std::size_t a = 0; a < count; ++a) {
    const std::string& argument = arguments[a];
    std::printf("        -- '%s' ", argument.c_str());
    if (read_cluster_option(arguments, a, cluster)) continue;
    if (argument != "--spec_file") {
      std::printf("\nError: Unknown command line option '%s'.\n", argument.c_str());
      kill_Quillmark();
    }
    if (a + 1 >= count) {
      std::printf("\nError: Option '--spec_file' needs a path.\n");
      kill_Quillmark();
    }
    const std::string& path = arguments[++a];
    std::printf("Model specifications read from '%s'\n", path.c_str());
    option.spec_file = path;
    option.spec_file_given = 1;
  }
}

void write_defaults_in_effect(const OPTION& o) {
  std::printf("\nDefaults in effect:\n");
  if (!o.spec_file_given)
    std::printf("        -- Specifications read from '%s'\n", o.spec_file.c_str());
  if (!o.phenotype_file_given)
    std::printf("        -- Phenotypes read from '%s'\n", o.phenotype_file.c_str());
  if (!o.raw_intensity_dat_file_given)
    std::printf("        -- Raw intensities read from '%s'\n", o.raw_intensity_dat_file.c_str());
  if (!o.raw_intensity_info_file_given)
    std::printf("        -- Information on raw intensities read from '%s'\n",
                o.raw_intensity_info_file.c_str());
  if (!o.called_cn_dat_file_given)
    std::printf("        -- Called CNs read from '%s'\n", o.called_cn_dat_file.c_str());
  if (!o.called_cn_info_file_given)
    std::printf("        -- Information on called CNs read from '%s'\n",
                o.called_cn_info_file.c_str());
  if (!o.result_file_given)
    std::printf("        -- Results outputed to '%s'\n", o.result_file.c_str());
  if (!o.design_given) std::printf("        -- Study design is '%s'\n", o.design.c_str());
  if (!o.array_type_given)
    std::printf("        -- Raw intensities from array '%c'\n", letter_of(o.array_type));
  if (!o.probe_type_given)
    std::printf("        -- Request analysis at probe '%s'\n", probe_type_name(o.probe_type));
  if (!o.effect_mode_given)
    std::printf("        -- Effect mode set to be '%s'\n", o.effect_mode.c_str());
  if (!o.differential_measurement_errors_given)
    std::printf("        -- DIFFERENTIAL_MEASUREMENT_ERRORS set to be '%d'\n",
                o.differential_measurement_errors);
  if (!o.categorical_given) std::printf("        -- No covariate is categorical\n");
  if (!o.dependent_given)
    std::printf("        -- No covariate is correlated with genetic variables\n");
  if (!o.effect_given)
    std::printf(
        "        -- The disease model only contains the main effect of the total copy number\n");
  if (!o.test_given) std::printf("        -- Joint testing of all genetic effects\n");
  std::printf("\n");
}

}  // namespace

int run_quillmark(const std::vector<std::string>& command_line) {
  std::vector<std::string> arguments = command_line;
  ProgramOptions program;
  if (take_program_options(arguments, program) == ProgramAction::kExitSuccess) return 0;
  RunReport report(command_line, program);
  write_banner();
  std::printf("\nQuillmark started: %s\n", local_time_text().c_str());

  OPTION option;
  set_default_options(option);
  ClusterOptions cluster;
  read_command_line(arguments, option, cluster);
  read_spec_file(option);
  apply_cluster_options(cluster, option);
  report.open_log(option, cluster.resume);
  write_defaults_in_effect(option);

  PhenotypeTable phenotypes = read_phenotype_file(option);
  const int n = phenotypes.num_subjects;
  std::printf("%d subjects, 1 disease variable and %d covariates read from '%s'\n", n,
              option.num_covariates, option.phenotype_file.c_str());
  order_dependent_covariate_first(option, n, phenotypes.covariates);

  const long raw_rows = count_raw_info_rows(option.raw_intensity_info_file);
  std::printf("%ld rows read from '%s'\n", raw_rows, option.raw_intensity_dat_file.c_str());
  const ProbeTableSummary probes = scan_called_cn_info(option.called_cn_info_file);
  std::printf("%ld rows read from '%s'\n", probes.num_probes, option.called_cn_dat_file.c_str());
  check_data_line_counts(option, probes.num_probes, raw_rows);
  const ProbeRange range = chunk_range(probes.num_probes, cluster.chunk_index, cluster.chunk_count);
  if (cluster.chunked) {
    std::printf("Chunk %d of %d: %ld probes, from probe %ld on\n", cluster.chunk_index,
                cluster.chunk_count, range.count, range.first + 1);
  }

  ProbeProcessor processor;
  if (program.newton_finish) processor.work.convergence = FitConvergence::kNewtonFinish;
  DATA& data = processor.data;
  data.num_subjects = n;
  data.excluded.assign(static_cast<std::size_t>(n), 0);
  data.called_cn.assign(static_cast<std::size_t>(n), 0);
  data.disease_status = phenotypes.disease_status;
  data.intensity_r.assign(static_cast<std::size_t>(n), 0.0);
  data.intensity_b.assign(static_cast<std::size_t>(n), 0.0);

  translate_options_to_para_data(option, processor.para, data, phenotypes.covariates);
  check_options(option, processor.para);
  phenotypes = PhenotypeTable{};

  const long first_probe_row =
      probes.num_probes > 0 ? find_raw_info_row(option.raw_intensity_info_file, probes.first_name)
                            : -1;
  ProbeSource source;
  open_probe_source(source, option, n, first_probe_row, probes.first_name, program.threads);

  const std::vector<std::string> inputs = {
      option.spec_file,           option.phenotype_file,      option.raw_intensity_dat_file,
      option.raw_intensity_info_file, option.called_cn_dat_file, option.called_cn_info_file};
  ResultsFile results;
  long written = 0;
  std::vector<LineSinkLayout> sinks = {
      {option.result_file, results_header_lines(), results_line_start}};
  if (report.writes_table())
    sinks.push_back({option.result_file + ".tsv",
                     {results_table_header(tested_terms(processor.para))},
                     results_table_line_start});
  if (cluster.resume) {
    check_results_path(option.result_file, inputs);
    written = prepare_resume(sinks, option.called_cn_info_file, range);
    std::printf("Resumed with %ld of %ld probes already in '%s'\n", written, range.count,
                option.result_file.c_str());
    append_to_results_file(results, option.result_file);
  } else {
    create_results_file(results, option.result_file, inputs);
  }
  report.start_probes(option, processor.para, range.count - written, cluster.resume);
  skip_probes(source, range.first + written);
  const ProbeRecorder recorder = [&report](const ProbeInfo& info, const ProbeResult& result) {
    report.record(info, result);
  };

  install_interrupt_handlers();
  written += process_probes(option, source, processor, results, recorder, range.count - written,
                            program.threads, [] { return interrupt_signal() != 0; });
  close_results_file(results);
  report.finish();

  // A signal after the last probe interrupts nothing.
  if (const int signal_number = interrupt_signal(); signal_number != 0 && written < range.count) {
    std::printf("\nQuillmark interrupted by %s: %ld of %ld probes written to '%s'; the same "
                "command with --resume continues the run.\n\n",
                interrupt_signal_name(signal_number), written, range.count,
                option.result_file.c_str());
    return 128 + signal_number;
  }
  std::printf("\nQuillmark complete: %s\n\n", local_time_text().c_str());
  return 0;
}
