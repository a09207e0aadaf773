// quillmark-sim: writes a simulated Quillmark input set into a directory.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/option_parsing.h"
#include "sim/penncnv.h"
#include "sim/simulate.h"

namespace {

constexpr const char* HELP = R"(Usage: quillmark-sim --out DIR [options]

Writes a simulated case-control input set for Quillmark into DIR:
  phenotype.dat      header "status <covariates>", one line per subject
  raw.dat, raw.info  intensities: one LRR line per CN probe, LRR and BAF lines
                     per SNP probe; raw.info names the probe of every line
  CN.dat, CN.info    called copy numbers, one line per probe; "name chr pos pfb"
  truth.txt          per probe: name, chr, pos, pfb, log_or, log_or_L,
                     null/associated, miscalled subjects (called other than
                     the true copy number, for any reason), true class counts
  specification.txt  settings for a run of quillmark from DIR
  true_classes.dat   with --true-classes: every subject's true class, per probe
Run the analysis with:  cd DIR && quillmark --spec_file specification.txt

Options (defaults in brackets):
  --out DIR                  output directory, created if missing (required)
  --probe-type CN|SNP        probe type [SNP]
  --array-type I|A           array type; 'A' gets the same intensities as 'I' [I]
  --subjects N               number of subjects [2000]
  --cases N                  exact number of cases (overrides --case-fraction)
  --case-fraction F          share of cases, rounded to a whole number [0.5]
  --probes N                 number of probes [100]
  --null-fraction F          share of probes without effect, spread evenly [0.5]
  --odds-ratio F             odds ratio per copy (effect K) of associated probes [1.5]
  --odds-ratio-L F           odds ratio per unit of k - 2l (effect L), SNP only [1]
  --effect-L                 put L in EFFECT and TEST even with --odds-ratio-L 1
  --differential             cases get shifted intensity means and wider sds, and
                             DIFFERENTIAL_MEASUREMENT_ERRORS = 1 [0]
  --miscall-rate F           share of subjects per probe whose called copy number
                             is a neighbouring value of the true one [0]
  --missed-carrier-rate F    segment caller's profile: share of subjects with 0 or 1
                             copies called 2, independent of the intensities [0]
  --false-call-rate F        segment caller's profile: share of subjects with 2
                             copies called 1, independent of the intensities [0]
  --numeric-covariates N     numeric covariates cov1..covN, N(0,1) in controls,
                             N(g,1) in cases with g = --covariate-log-or [0]
  --categorical-levels M     categorical covariate "cat" with levels 1..M
                             (0: none) [0]
  --covariate-log-or F       log odds ratio per unit of each numeric covariate
                             and per level step of "cat" [0.3]
  --dependent-covariate      covariate "dep" on which the frequencies of 0 and 1
                             copies depend (DEPENDENT = dep, EFFECT = K dep);
                             not combined with other covariates
  --dependent-levels D       values 0..D-1 of "dep"; above 2 it is also
                             CATEGORICAL [2]
  --freq0 F                  population frequency of 0 copies [0.02]
  --freq1 F                  population frequency of 1 copy [0.1]
  --pfb-min F, --pfb-max F   range of the per-probe B allele frequency [0.2, 0.8]
  --decimals N               decimals of intensities and covariates [4]
  --seed N                   seed; equal seeds give equal files [1]
  --true-classes             also write true_classes.dat: per probe, every subject's
                             true copy number, followed on SNP probes by its number
                             of B alleles ("21": two copies, one B allele)
  --penncnv DIR              also write the same study in PennCNV form into DIR:
                             per-sample signal files and their list, a .pfb file,
                             calls as .rawcnv and PLINK .cnv, a sample sheet
  --help                     show this text and exit

The model (documented in full in tools/sim/README.md): status is fixed per
subject; per probe the latent copy number k (0, 1, 2) and B allele count l are
drawn given status as P(k, l) * exp(status * (log_or * k + log_or_L * (k - 2l))),
with l ~ Binomial(k, pfb); LRR ~ Normal(-2.5/-0.5/0.0, sd 0.4/0.18/0.15);
BAF ~ Normal around 0, 0.5 or 1 (sd 0.03-0.045, no copy: 0.5 sd 0.25) clipped
to [0, 1].
)";

[[noreturn]] void fail(const std::string& message) { fail_usage("quillmark-sim", message); }

template <typename T>
T parse_number(std::string_view option, std::string_view text) {
  return parse_option_number<T>("quillmark-sim", option, text);
}

}  // namespace

int main(int argc, char** argv) {
  SimSettings s;
  std::string out;
  std::string penncnv;
  for (int a = 1; a < argc; ++a) {
    std::string_view option = argv[a];
    std::string_view inline_value;
    bool has_inline = false;
    if (const auto eq = option.find('='); option.starts_with("--") && eq != std::string_view::npos) {
      inline_value = option.substr(eq + 1);
      option = option.substr(0, eq);
      has_inline = true;
    }
    auto value = [&]() -> std::string_view {
      if (has_inline) return inline_value;
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
    } else if (option == "--out") {
      out = value();
      if (out.empty()) fail("option '--out' needs a directory");
    } else if (option == "--probe-type") {
      s.probe_type = value();
      if (s.probe_type != "CN" && s.probe_type != "SNP") fail("--probe-type must be 'CN' or 'SNP'");
    } else if (option == "--array-type") {
      const std::string_view v = value();
      if (v != "I" && v != "A") fail("--array-type must be 'I' or 'A'");
      s.array_type = v[0];
    } else if (option == "--subjects") {
      s.num_subjects = parse_number<int>(option, value());
    } else if (option == "--cases") {
      s.num_cases = parse_number<int>(option, value());
      if (s.num_cases < 0) fail("--cases must not be negative");
    } else if (option == "--case-fraction") {
      s.case_fraction = parse_number<double>(option, value());
      s.num_cases = -1;
    } else if (option == "--probes") {
      s.num_probes = parse_number<int>(option, value());
    } else if (option == "--null-fraction") {
      s.null_fraction = parse_number<double>(option, value());
    } else if (option == "--odds-ratio") {
      s.odds_ratio = parse_number<double>(option, value());
    } else if (option == "--odds-ratio-L") {
      s.odds_ratio_L = parse_number<double>(option, value());
    } else if (option == "--effect-L") {
      flag();
      s.effect_L = true;
    } else if (option == "--differential") {
      flag();
      s.differential = true;
    } else if (option == "--miscall-rate") {
      s.miscall_rate = parse_number<double>(option, value());
    } else if (option == "--missed-carrier-rate") {
      s.missed_carrier_rate = parse_number<double>(option, value());
    } else if (option == "--false-call-rate") {
      s.false_call_rate = parse_number<double>(option, value());
    } else if (option == "--numeric-covariates") {
      s.num_numeric_covariates = parse_number<int>(option, value());
    } else if (option == "--categorical-levels") {
      s.categorical_levels = parse_number<int>(option, value());
    } else if (option == "--covariate-log-or") {
      s.covariate_log_or = parse_number<double>(option, value());
    } else if (option == "--dependent-covariate") {
      flag();
      s.dependent_covariate = true;
    } else if (option == "--dependent-levels") {
      s.dependent_levels = parse_number<int>(option, value());
    } else if (option == "--freq0") {
      s.freq0 = parse_number<double>(option, value());
    } else if (option == "--freq1") {
      s.freq1 = parse_number<double>(option, value());
    } else if (option == "--pfb-min") {
      s.pfb_min = parse_number<double>(option, value());
    } else if (option == "--pfb-max") {
      s.pfb_max = parse_number<double>(option, value());
    } else if (option == "--decimals") {
      s.decimals = parse_number<int>(option, value());
    } else if (option == "--true-classes") {
      flag();
      s.write_true_classes = true;
    } else if (option == "--penncnv") {
      penncnv = value();
      if (penncnv.empty()) fail("option '--penncnv' needs a directory");
    } else if (option == "--seed") {
      s.seed = parse_number<std::uint64_t>(option, value());
    } else {
      fail("unknown option '" + std::string(argv[a]) + "'");
    }
  }
  if (out.empty()) fail("the output directory is missing (--out DIR)");
  if (const std::string problem = validate_settings(s); !problem.empty()) fail(problem);

  try {
    write_input_set(s, out);
    if (!penncnv.empty()) write_penncnv_set(s, penncnv);
  } catch (const std::exception& e) {
    fail(e.what());
  }
  const long cases = s.num_cases >= 0 ? s.num_cases : std::lround(s.case_fraction * s.num_subjects);
  std::printf("Wrote %d %s probes for %d subjects (%ld cases) into '%s'\n", s.num_probes,
              s.probe_type.c_str(), s.num_subjects, cases, out.c_str());
  if (!penncnv.empty()) std::printf("Wrote the same study in PennCNV form into '%s'\n", penncnv.c_str());
  return 0;
}
