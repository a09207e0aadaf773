// quillmark-prepare: Quillmark input sets from PennCNV signal files, a .pfb
// file, calls and a sample sheet.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/option_parsing.h"
#include "prepare/prepare.h"
#include "prepare/text_io.h"

namespace {

constexpr const char* HELP = R"(Usage: quillmark-prepare --signal-list FILE | --signal-table FILE
         --pfb FILE --calls FILE [--calls FILE ...] --samples FILE --out DIR [options]

Turns the files of a PennCNV user into ready-to-run Quillmark input sets:
  DIR/snp/   SNP probes       phenotype.dat, raw.dat, raw.info, CN.dat, CN.info,
  DIR/cn/    CN probes (PFB 2)  specification.txt; run: cd DIR/snp && quillmark
  DIR/sample_outcomes.txt    every sample: analysed (and its subject number),
                             no_signal_data, missing_value or not_in_sample_sheet

Inputs:
  --signal-list FILE       file listing one PennCNV signal file per line (plain or
                           gzip); each file is tab-separated with the columns Name,
                           <ID>.Log R Ratio, <ID>.B Allele Freq in any order
                           (others, such as Chr, Position, GType, are ignored)
  --signal-table FILE      instead: one probe-major table with those columns for
                           every sample
  --pfb FILE               Name Chr Position PFB; PFB 2 marks CN probes; positions
                           come from here
  --calls FILE             calls: PennCNV .rawcnv or PLINK .cnv (FID IID CHR BP1 BP2
                           TYPE ...); may be repeated. The called copy number is 2
                           outside a sample's calls and the call's copy number inside
  --samples FILE           sample sheet: a header line, then ID, status (0/1, or
                           PLINK's 1/2 with 0 missing) and covariates; a sample
                           with NA or -9 in a kept column is dropped

Options (defaults in brackets):
  --out DIR                output directory, created if missing (required)
  --min-carriers N         analyse probes with at least N subjects carrying a call
  --min-carrier-share F    ... or at least this share of the subjects; with both,
                           whichever is smaller [10 carriers or 1%, whichever is
                           smaller; no minimum with --probes or --region]
  --probes FILE            analyse the probes named in FILE (first word of a line)
  --region CHR:FROM-TO     analyse the probes in this stretch; may be repeated
  --covariates A,B,...     sample sheet columns to keep as covariates [all]
  --status-coding C        auto, 01 or 12 [auto: 12 when some status is 2]
  --array-type I|A         ARRAY_TYPE of the SNP set [I]; the CN set gets I
  --differential 0|1       write DIFFERENTIAL_MEASUREMENT_ERRORS [not written]
  --effect TERMS           write EFFECT (terms with L only in the SNP set)
  --test TERMS             write TEST
  --categorical NAMES      write CATEGORICAL
  --dependent NAMES        write DEPENDENT
  --bgzip                  write raw.dat.gz and CN.dat.gz, bgzip-compressed
  --max-open-files N       signal files open at once; more are read in groups
                           through temporary files in DIR [what the system allows]
  --help                   show this text and exit
)";

[[noreturn]] void fail(const std::string& message) { fail_usage("quillmark-prepare", message); }

template <typename T>
T parse_number(std::string_view option, std::string_view text) {
  return parse_option_number<T>("quillmark-prepare", option, text);
}

}  // namespace

int main(int argc, char** argv) {
  PrepareSettings s;
  for (int a = 1; a < argc; ++a) {
    std::string_view option = argv[a];
    std::string_view inline_value;
    bool has_inline = false;
    if (const auto eq = option.find('='); option.starts_with("--") && eq != std::string_view::npos) {
      inline_value = option.substr(eq + 1);
      option = option.substr(0, eq);
      has_inline = true;
    }
    auto value = [&]() -> std::string {
      if (has_inline) return std::string(inline_value);
      if (a + 1 >= argc) fail("option '" + std::string(option) + "' needs a value");
      return argv[++a];
    };
    auto flag = [&]() {
      if (has_inline) fail("option '" + std::string(option) + "' takes no value");
    };

    if (option == "--help" || option == "-h") {
      flag();
      std::fputs(HELP, stdout);
      return 0;
    } else if (option == "--signal-list") {
      s.signal_list = value();
    } else if (option == "--signal-table") {
      s.signal_table = value();
    } else if (option == "--pfb") {
      s.pfb = value();
    } else if (option == "--calls") {
      s.calls.push_back(value());
    } else if (option == "--samples") {
      s.samples = value();
    } else if (option == "--out") {
      s.out = value();
    } else if (option == "--min-carriers") {
      s.min_carriers = parse_number<int>(option, value());
      if (s.min_carriers < 0) fail("--min-carriers must not be negative");
    } else if (option == "--min-carrier-share") {
      s.min_carrier_share = parse_number<double>(option, value());
      if (!(s.min_carrier_share >= 0.0 && s.min_carrier_share <= 1.0))
        fail("--min-carrier-share must be from 0 to 1");
    } else if (option == "--probes") {
      s.probe_list = value();
    } else if (option == "--region") {
      const std::string text = value();
      Region region;
      if (!parse_region(text, region)) fail("--region needs CHR:FROM-TO (such as chr1:1000000-2000000), got '" + text + "'");
      s.regions.push_back(region);
    } else if (option == "--covariates") {
      std::string text = value();
      s.covariates_given = true;
      for (char& c : text)
        if (c == ',') c = ' ';
      std::vector<std::string_view> names;
      split_blanks(text, names);
      s.covariates.assign(names.begin(), names.end());
    } else if (option == "--status-coding") {
      const std::string v = value();
      if (v == "auto") s.status_coding = StatusCoding::Auto;
      else if (v == "01") s.status_coding = StatusCoding::ZeroOne;
      else if (v == "12") s.status_coding = StatusCoding::OneTwo;
      else fail("--status-coding must be 'auto', '01' or '12'");
    } else if (option == "--array-type") {
      const std::string v = value();
      if (v != "I" && v != "A") fail("--array-type must be 'I' or 'A'");
      s.array_type = v[0];
    } else if (option == "--differential") {
      s.differential = value();
      if (s.differential != "0" && s.differential != "1") fail("--differential must be 0 or 1");
    } else if (option == "--effect") {
      s.effect = value();
    } else if (option == "--test") {
      s.test = value();
    } else if (option == "--categorical") {
      s.categorical = value();
    } else if (option == "--dependent") {
      s.dependent = value();
    } else if (option == "--bgzip") {
      flag();
      s.bgzip = true;
    } else if (option == "--max-open-files") {
      s.max_open_files = parse_number<int>(option, value());
      if (s.max_open_files < 1) fail("--max-open-files must be at least 1");
    } else {
      fail("unknown option '" + std::string(argv[a]) + "'");
    }
  }
  if (s.signal_list.empty() == s.signal_table.empty())
    fail("give the signal data with either --signal-list FILE or --signal-table FILE");
  if (s.pfb.empty()) fail("the .pfb file is missing (--pfb FILE)");
  if (s.calls.empty()) fail("the calls are missing (--calls FILE)");
  if (s.samples.empty()) fail("the sample sheet is missing (--samples FILE)");
  if (s.out.empty()) fail("the output directory is missing (--out DIR)");

  try {
    run_prepare(s, stdout);
  } catch (const InputError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: %s.\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: %s.\n", e.what());
    return 1;
  }
  return 0;
}
