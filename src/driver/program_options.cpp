#include "driver/program_options.h"

#include "driver/line_reader.h"
#include "driver/probe_pipeline.h"
#include "driver/stop.h"

#include <cstdio>

#ifndef QUILLMARK_VERSION
#error "QUILLMARK_VERSION comes from project(... VERSION ...) in CMakeLists.txt"
#endif

const char* quillmark_version() { return QUILLMARK_VERSION; }

std::string usage_text() {
  return "Usage: quillmark [--spec_file PATH] [--out PATH] [--chunk I/N] [--resume]\n"
         "                 [--threads N] [--newton-finish] [--no-tsv] [--quiet]\n"
         "       quillmark --help | --version\n"
         "\n"
         "Tests copy-number variation for association with disease in a case-control study,\n"
         "probe by probe, with a latent-class likelihood of the raw intensities.\n"
         "\n"
         "Options:\n"
         "  --spec_file PATH  the specification file (default ./specification.txt); the last\n"
         "                    one given wins\n"
         "  --out PATH        write the results to PATH instead of RESULT_FILE\n"
         "  --chunk I/N       analyse only the I-th of N contiguous ranges of probes\n"
         "  --resume          continue an interrupted run after the probes it wrote\n"
         "  --threads N       analyse probes on N threads (default: every core the\n"
         "                    machine gives the process); results do not depend on N\n"
         "  --newton-finish   stop each fit's EM early and finish it by Newton steps on the\n"
         "                    observed log-likelihood: 2-4x faster, and at the maximum\n"
         "                    itself, where a default run stops near it, so statistics\n"
         "                    differ in their last digits (PATH \"newton\")\n"
         "  --no-tsv          do not write the extended results table RESULT_FILE.tsv\n"
         "  --quiet           no progress on standard error\n"
         "  --help            print this help and exit\n"
         "  --version         print the version and exit\n"
         "\n"
         "Outputs: RESULT_FILE (the results file), RESULT_FILE.tsv (effect sizes, counts and\n"
         "the outcome of every probe), RESULT_FILE.log (what the run printed, with its\n"
         "summary). Plots: quillmark-plot RESULT_FILE.tsv. See README.md.\n";
}

ProgramAction take_program_options(std::vector<std::string>& arguments, ProgramOptions& options) {
  std::vector<std::string> kept;
  options.threads = available_threads();
  for (std::size_t a = 0; a < arguments.size(); ++a) {
    const std::string& argument = arguments[a];
    if (argument == "--help") {
      std::printf("%s", usage_text().c_str());
      return ProgramAction::kExitSuccess;
    }
    if (argument == "--version") {
      std::printf("quillmark %s\n", quillmark_version());
      return ProgramAction::kExitSuccess;
    }
    if (argument == "--no-tsv") {
      options.write_table = false;
    } else if (argument == "--quiet") {
      options.quiet = true;
    } else if (argument == "--newton-finish") {
      options.newton_finish = true;
    } else if (argument == "--threads") {
      const std::string value = a + 1 < arguments.size() ? arguments[++a] : "";
      int threads = 0;
      if (!parse_int(value, threads) || threads < 1) {
        std::printf("\nError: Option '--threads' needs a number of threads of at least 1, not '%s'.\n",
                    value.c_str());
        kill_Quillmark();
      }
      options.threads = threads;
    } else {
      kept.push_back(argument);
      const bool takes_value =
          argument == "--spec_file" || argument == "--out" || argument == "--chunk";
      if (takes_value && a + 1 < arguments.size()) kept.push_back(arguments[++a]);
    }
  }
  arguments = std::move(kept);
  return ProgramAction::kRun;
}
