#include "driver/readers.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

#include "driver/spec_file.h"
#include "driver/stop.h"

namespace {

[[noreturn]] void field_error(const LineReader& reader, int field, const std::string& what) {
  std::printf("\nError: '%s', line %ld, field %d: %s.\n", reader.path().c_str(),
              reader.line_number(), field, what.c_str());
  kill_Quillmark();
}

[[noreturn]] void ends_early(const LineReader& reader, const std::string& probe) {
  std::printf("\nError: '%s', line %ld: the file ends before the values of probe '%s'.\n",
              reader.path().c_str(), reader.line_number() + 1, probe.c_str());
  kill_Quillmark();
}

void open_or_stop(LineReader& reader, const std::string& path, int threads = 1) {
  if (!reader.open(path, threads)) {
    std::printf("\nError: '%s' does not exist.\n", path.c_str());
    kill_Quillmark();
  }
}

std::string quoted(std::string_view token) { return "'" + std::string(token) + "'"; }

// A chromosome as PLINK numbers it: a number, or X, Y, XY and MT (also M) as 23, 24, 25
// and 26, with or without a "chr" prefix, in any case.
bool parse_chromosome(std::string_view token, int& chromosome) {
  const auto is = [](std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
    return true;
  };
  if (token.size() > 3 && is(token.substr(0, 3), "chr")) token.remove_prefix(3);
  static constexpr std::pair<std::string_view, int> kNamed[] = {
      {"x", 23}, {"y", 24}, {"xy", 25}, {"mt", 26}, {"m", 26}};
  for (const auto& [name, number] : kNamed) {
    if (is(token, name)) {
      chromosome = number;
      return true;
    }
  }
  return parse_int(token, chromosome);
}

// Parses one row of the called-CN information file: name, chromosome, position, pfb.
void parse_probe_info(const LineReader& reader, std::string_view line, ProbeInfo& info) {
  std::size_t pos = 0;
  std::string_view token;
  next_token(line, pos, token);
  info.name.assign(token);
  const char* what[] = {"chromosome", "position", "pfb"};
  for (int field = 2; field <= 4; ++field) {
    const std::string name = what[field - 2];
    if (!next_token(line, pos, token))
      field_error(reader, field, "the " + name + " of probe '" + info.name + "' is missing");
    bool ok = false;
    if (field == 2) ok = parse_chromosome(token, info.chromosome);
    if (field == 3) ok = parse_int(token, info.position);
    if (field == 4) ok = parse_double(token, info.pfb);
    if (!ok) {
      field_error(reader, field,
                  "the " + name + " " + quoted(token) + " of probe '" + info.name + "' is not " +
                      (field == 4 ? "a number" : "an integer"));
    }
  }
}

// The next probe line of a data file; stops the run when the file has ended.
std::string_view probe_line(LineReader& reader, const ProbeInfo& info) {
  std::string_view line;
  if (!reader.next_nonblank_line(line)) ends_early(reader, info.name);
  return line;
}

[[noreturn]] void short_line(const LineReader& reader, int field, int num_subjects,
                             const ProbeInfo& info) {
  field_error(reader, field,
              "value missing; probe '" + info.name + "' needs " + std::to_string(num_subjects) +
                  " values, one per subject, and the line holds " + std::to_string(field - 1));
}

void read_called_cn_line(LineReader& reader, const ProbeInfo& info, int num_subjects,
                         std::vector<int>& called_cn) {
  const std::string_view line = probe_line(reader, info);
  std::size_t pos = 0;
  std::string_view token;
  for (int i = 0; i < num_subjects; ++i) {
    if (!next_token(line, pos, token)) short_line(reader, i + 1, num_subjects, info);
    int value = 0;
    if (token.size() == 1 && static_cast<unsigned>(token[0] - '0') < 10) {
      value = token[0] - '0';  // the common call, one digit, without the general parser
    } else if (!parse_int(token, value)) {
      field_error(reader, i + 1,
                  "called copy number " + quoted(token) + " of probe '" + info.name +
                      "' is not an integer");
    }
    if (value < 0) {
      field_error(
          reader, i + 1,
          "called copy number " + quoted(token) + " of probe '" + info.name + "' is below 0");
    }
    called_cn[static_cast<std::size_t>(i)] = value;
  }
}

void read_intensity_line(LineReader& reader, const ProbeInfo& info, int num_subjects,
                         const char* kind, std::vector<double>& intensity) {
  const std::string_view line = probe_line(reader, info);
  std::size_t pos = 0;
  const std::span<double> values(intensity.data(), static_cast<std::size_t>(num_subjects));
  const NumbersRead read = read_numbers(line, pos, values);
  const int field = static_cast<int>(read.count) + 1;
  if (read.stop == NumberToken::kNone) short_line(reader, field, num_subjects, info);
  if (read.stop == NumberToken::kNotNumber) {
    field_error(reader, field,
                std::string(kind) + " intensity " + quoted(read.token) + " of probe '" +
                    info.name + "' is not a number");
  }
}

}  // namespace

PhenotypeTable read_phenotype_file(const OPTION& option) {
  LineReader reader;
  open_or_stop(reader, option.phenotype_file);
  std::string_view line;
  const bool has_header = reader.next_nonblank_line(line);
  std::size_t pos = 0;
  std::string_view token;
  if (!has_header || (next_token(line, pos, token) && phenotype_header_missing(token))) {
    std::printf("\nError: Header line is missing in '%s'.\n", option.phenotype_file.c_str());
    kill_Quillmark();
  }

  const int nc = option.num_covariates;
  std::vector<int> status;
  std::vector<double> values;
  while (reader.next_nonblank_line(line)) {
    pos = 0;
    next_token(line, pos, token);
    int y = 0;
    if (!parse_int(token, y) || (y != 0 && y != 1)) {
      field_error(reader, 1, "disease status " + quoted(token) + " is not 0 or 1");
    }
    status.push_back(y);
    for (int j = 0; j < nc; ++j) {
      const std::string& name = option.variable_names[static_cast<std::size_t>(j)];
      if (!next_token(line, pos, token)) {
        field_error(reader, j + 2, "the value of covariate '" + name + "' is missing");
      }
      double x = 0.0;
      if (!parse_double(token, x) || !std::isfinite(x)) {
        field_error(
            reader, j + 2,
            "the value " + quoted(token) + " of covariate '" + name + "' is not a finite number");
      }
      values.push_back(x);
    }
  }

  PhenotypeTable table;
  table.num_subjects = static_cast<int>(status.size());
  table.disease_status = std::move(status);
  table.covariates = Matrix(table.num_subjects, nc);
  for (int i = 0; i < table.num_subjects; ++i) {
    for (int j = 0; j < nc; ++j) {
      table.covariates(i, j) = values[static_cast<std::size_t>(i) * static_cast<std::size_t>(nc) +
                                      static_cast<std::size_t>(j)];
    }
  }
  return table;
}

long count_raw_info_rows(const std::string& path) { return count_nonblank_lines(path); }

long count_nonblank_lines(const std::string& path) {
  LineReader reader;
  open_or_stop(reader, path);
  long rows = 0;
  std::string_view line;
  while (reader.next_nonblank_line(line)) ++rows;
  return rows;
}

long find_raw_info_row(const std::string& path, const std::string& name) {
  LineReader reader;
  open_or_stop(reader, path);
  long row = 0;
  std::string_view line;
  std::string_view token;
  while (reader.next_nonblank_line(line)) {
    std::size_t pos = 0;
    next_token(line, pos, token);
    if (token == name) return row;
    ++row;
  }
  return -1;
}

void check_data_line_counts(const OPTION& option, long num_probes, long raw_rows) {
  const long called_cn_lines = count_nonblank_lines(option.called_cn_dat_file);
  if (called_cn_lines != num_probes) {
    std::printf("\nError: '%s' has %ld lines but '%s' has %ld probes.\n",
                option.called_cn_dat_file.c_str(), called_cn_lines,
                option.called_cn_info_file.c_str(), num_probes);
    kill_Quillmark();
  }
  const long raw_lines = count_nonblank_lines(option.raw_intensity_dat_file);
  if (raw_lines != raw_rows) {
    std::printf("\nError: '%s' has %ld lines but '%s' has %ld rows.\n",
                option.raw_intensity_dat_file.c_str(), raw_lines,
                option.raw_intensity_info_file.c_str(), raw_rows);
    kill_Quillmark();
  }
}

ProbeTableSummary scan_called_cn_info(const std::string& path) {
  LineReader reader;
  open_or_stop(reader, path);
  ProbeTableSummary summary;
  ProbeInfo info;
  std::string_view line;
  while (reader.next_nonblank_line(line)) {
    parse_probe_info(reader, line, info);
    if (summary.num_probes == 0) summary.first_name = info.name;
    ++summary.num_probes;
  }
  return summary;
}

void open_probe_source(ProbeSource& source, const OPTION& option, int num_subjects,
                       long first_probe_row, const std::string& first_probe,
                       int decompression_threads) {
  source.snp = option.probe_type == ProbeType::kSnp;
  source.num_subjects = num_subjects;
  open_or_stop(source.info, option.called_cn_info_file);
  open_or_stop(source.called_cn, option.called_cn_dat_file, decompression_threads);
  open_or_stop(source.raw, option.raw_intensity_dat_file, decompression_threads);
  source.check_row_names = first_probe_row >= 0;
  if (source.check_row_names) open_or_stop(source.raw_info, option.raw_intensity_info_file);
  std::string_view line;
  for (long r = 0; r < first_probe_row; ++r) {
    if (!source.raw.next_nonblank_line(line)) ends_early(source.raw, first_probe);
    source.raw_info.next_nonblank_line(line);
  }
}

void skip_probes(ProbeSource& source, long probes) {
  std::string_view line;
  for (long p = 0; p < probes && source.info.next_nonblank_line(line); ++p) {
  }
  source.data_to_skip += probes;
}

bool next_probe_info(ProbeSource& source, ProbeInfo& info) { return next_probe_info(source.info, info); }

bool next_probe_info(LineReader& info_file, ProbeInfo& info) {
  std::string_view line;
  if (!info_file.next_nonblank_line(line)) return false;
  parse_probe_info(info_file, line, info);
  return true;
}

namespace {
// The next row of the raw-intensity information file must name the probe whose
// intensities are read next: a missing or extra data row would otherwise shift every
// later probe's intensities onto the wrong probe.
void check_raw_row(ProbeSource& source, const ProbeInfo& info) {
  if (!source.check_row_names) return;
  std::string_view line;
  if (!source.raw_info.next_nonblank_line(line)) {
    std::printf("\nError: '%s' ends before the row of probe '%s'.\n", source.raw_info.path().c_str(),
                info.name.c_str());
    kill_Quillmark();
  }
  std::size_t pos = 0;
  std::string_view token;
  next_token(line, pos, token);
  if (token != info.name) {
    std::printf("\nError: '%s', line %ld: the row is named '%s' where the intensities of probe "
                "'%s' are expected.\n",
                source.raw_info.path().c_str(), source.raw_info.line_number(),
                std::string(token).c_str(), info.name.c_str());
    kill_Quillmark();
  }
}
}  // namespace

namespace {
// Passes over the called-CN lines and intensity rows of the probes skipped before `info`.
void skip_probe_data(ProbeSource& source, const ProbeInfo& info) {
  const long rows_per_probe = source.snp ? 2 : 1;
  std::string_view line;
  for (long p = 0; p < source.data_to_skip; ++p) {
    if (!source.called_cn.next_nonblank_line(line)) ends_early(source.called_cn, info.name);
  }
  for (long r = 0; r < source.data_to_skip * rows_per_probe; ++r) {
    if (!source.raw.next_nonblank_line(line)) ends_early(source.raw, info.name);
    // A short information file shows at the next row check, which names the probe.
    if (source.check_row_names) source.raw_info.next_nonblank_line(line);
  }
  source.data_to_skip = 0;
}
}  // namespace

void read_probe_data(ProbeSource& source, const ProbeInfo& info, DATA& data) {
  if (source.data_to_skip > 0) skip_probe_data(source, info);
  read_called_cn_line(source.called_cn, info, source.num_subjects, data.called_cn);
  check_raw_row(source, info);
  read_intensity_line(source.raw, info, source.num_subjects, "R", data.intensity_r);
  if (source.snp) {
    check_raw_row(source, info);
    read_intensity_line(source.raw, info, source.num_subjects, "B", data.intensity_b);
  }
}
