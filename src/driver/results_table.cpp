#include "driver/results_table.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "driver/stop.h"
#include "numeric/log_tail.h"
#include "wald/wald.h"

namespace {

// The 97.5% point of the standard normal, for 95% intervals.
constexpr double kZ975 = 1.959963984540054;
// Below this a p-value is written from its logarithm: the tail as a double loses digits
// near the smallest normal number and is 0 beyond it.
constexpr double kSmallestPrinted = 1e-300;
const std::string kNA = "NA";

std::string number(double value, const char* pattern = "%.6g") {
  if (!std::isfinite(value)) return kNA;
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// 10^-minus_log10_p in scientific notation, e.g. "3.16228e-437", for any size.
std::string p_from_log10(double minus_log10_p) {
  double exponent = std::floor(-minus_log10_p);
  double mantissa = std::pow(10.0, -minus_log10_p - exponent);
  char text[64];
  std::snprintf(text, sizeof text, "%.5f", mantissa);
  if (text[0] == '1' && text[1] == '0') {  // rounded up to 10
    mantissa /= 10.0;
    exponent += 1.0;
  }
  std::snprintf(text, sizeof text, "%.6ge%+03.0f", mantissa, exponent);
  return text;
}

bool fitted(Outcome outcome) { return describe(outcome).stage != OutcomeStage::kStart; }

[[noreturn]] void write_failed(const ResultsTable& table) {
  std::printf("\nError: Cannot write to results table '%s'.\n", table.path.c_str());
  kill_Quillmark();
}

void put_line(ResultsTable& table, const std::string& line) {
  if (std::fprintf(table.file.get(), "%s\n", line.c_str()) < 0 ||
      std::fflush(table.file.get()) != 0 || std::ferror(table.file.get()))
    write_failed(table);
}

}  // namespace

std::vector<std::string> tested_terms(const PARA& para) {
  std::vector<std::string> terms;
  for (const DiseaseCoefficient& c : para.design().coefficients)
    if (c.flag == EffectFlag::kTested) terms.push_back(c.name);
  return terms;
}

namespace {
// Appends a tab and the field.
void append_field(std::string& line, std::string_view field) {
  line += '\t';
  line += field;
}
}  // namespace

std::string results_table_header(const std::vector<std::string>& terms) {
  std::string header = "CHROM\tPOS\tID\tPFB\tN_CASES\tN_CONTROLS";
  for (const std::string& term : terms)
    for (const char* column : {"BETA", "SE", "OR", "OR_L95", "OR_U95"}) {
      append_field(header, column);
      if (terms.size() > 1) {
        header += '_';
        header += term;
      }
    }
  header += "\tCHISQ\tDF\tP\tLOG10P\tOUTCOME\tPATH\tITER\tLOGLIK\tRESCUE_OUTCOME";
  return header;
}

double probe_minus_log10_p(const ProbeResult& result) {
  if (result.outcome != Outcome::kOk) return std::numeric_limits<double>::quiet_NaN();
  return minus_log10_chi_square_tail(result.statistic, result.degrees_of_freedom);
}

std::string results_table_line_start(const ProbeInfo& info) {
  return std::to_string(info.chromosome) + "\t" + std::to_string(info.position) + "\t" + info.name +
         "\t" + number(info.pfb) + "\t";
}

std::string results_table_row(const std::vector<std::string>& terms, const ProbeInfo& info,
                              const ProbeResult& result) {
  const bool ok = result.outcome == Outcome::kOk;
  std::string row = results_table_line_start(info);
  row += std::to_string(result.num_cases);
  append_field(row, std::to_string(result.num_controls));
  for (const std::string& term : terms) {
    const TestedEffect* effect = nullptr;
    for (const TestedEffect& e : result.tested)
      if (e.name == term) effect = &e;
    if (!ok || effect == nullptr) {
      row += "\tNA\tNA\tNA\tNA\tNA";
      continue;
    }
    const double b = effect->beta;
    const double se = effect->se;
    for (const double value : {b, se, std::exp(b), std::exp(b - kZ975 * se), std::exp(b + kZ975 * se)})
      append_field(row, number(value));
  }
  if (ok) {
    const double log10p = probe_minus_log10_p(result);
    append_field(row, number(result.statistic, "%.4f"));
    append_field(row, std::to_string(result.degrees_of_freedom));
    append_field(row, result.p_value >= kSmallestPrinted ? number(result.p_value) : p_from_log10(log10p));
    append_field(row, number(log10p, "%.10g"));
  } else {
    row += "\tNA\tNA\tNA\tNA";
  }
  append_field(row, describe(result.outcome).code);
  const bool fit_ran = fitted(result.outcome);
  append_field(row, fit_ran ? path_code(result.path) : kNA);
  append_field(row, fit_ran ? std::to_string(result.iterations) : kNA);
  const bool has_loglik = ok || result.outcome == Outcome::kTestCovariance;
  append_field(row, has_loglik ? number(result.loglik, "%.10g") : kNA);
  // Where the stated path's NA stands after the rescue from the robust start was turned
  // down too: the code that turned down its last attempt.
  const bool rescue_failed = !ok && result.rescue_outcome != Outcome::kOk;
  append_field(row, rescue_failed ? describe(result.rescue_outcome).code : kNA);
  return row;
}

void create_results_table(ResultsTable& table, const std::string& path,
                          const std::vector<std::string>& terms) {
  table.path = path;
  table.tested_terms = terms;
  table.file.reset(std::fopen(path.c_str(), "w"));
  if (!table.file) {
    std::printf("\nError: Results table '%s' cannot be created.\n", path.c_str());
    kill_Quillmark();
  }
  put_line(table, results_table_header(terms));
}

void append_to_results_table(ResultsTable& table, const std::string& path,
                             const std::vector<std::string>& terms) {
  table.path = path;
  table.tested_terms = terms;
  table.file.reset(std::fopen(path.c_str(), "a"));
  if (!table.file) {
    std::printf("\nError: Results table '%s' cannot be created.\n", path.c_str());
    kill_Quillmark();
  }
}

void write_table_row(ResultsTable& table, const ProbeInfo& info, const ProbeResult& result) {
  put_line(table, results_table_row(table.tested_terms, info, result));
}

void close_results_table(ResultsTable& table) {
  std::FILE* file = table.file.release();
  const bool had_error = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || had_error) write_failed(table);
}
