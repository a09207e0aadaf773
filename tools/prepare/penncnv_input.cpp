#include "prepare/penncnv_input.h"

#include <charconv>
#include <unordered_set>

#include "prepare/text_io.h"

namespace {

bool parse_int64(std::string_view token, std::int64_t& value) {
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

bool parse_int(std::string_view token, int& value) {
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// PennCNV writes call positions plainly and lengths with thousands separators.
// Positions beyond 10^12 are refused, so that sums and differences of positions cannot overflow.
bool parse_position(std::string_view token, std::int64_t& value) {
  return parse_int64(token, value) && value >= 0 && value <= 1'000'000'000'000;
}

void check_stretch(const std::string& path, long line, std::int64_t start, std::int64_t end) {
  if (end < start)
    input_error(path, line, "the call ends at " + std::to_string(end) + ", before its start " +
                                std::to_string(start));
}

// "chr1:1000-5000 numsnp=10 length=4,001 state2,cn=1 sample1.txt startsnp=rs1 endsnp=rs10"
void parse_rawcnv_line(const std::string& path, long line_number,
                       const std::vector<std::string_view>& t, CallLine& call) {
  if (t.size() < 5)
    input_error(path, line_number, "a PennCNV call needs at least 5 fields (region, numsnp, length, "
                                   "state and cn, sample); the line holds " + std::to_string(t.size()));
  const std::string_view region = t[0];
  const std::size_t colon = region.find(':');
  const std::size_t dash = region.find('-', colon == std::string_view::npos ? 0 : colon);
  if (colon == std::string_view::npos || dash == std::string_view::npos ||
      !parse_position(region.substr(colon + 1, dash - colon - 1), call.start) ||
      !parse_position(region.substr(dash + 1), call.end))
    input_error(path, line_number, "the region '" + std::string(region) + "' is not chr:start-end");
  call.chromosome = chromosome_code(region.substr(0, colon));
  check_stretch(path, line_number, call.start, call.end);
  bool found = false;
  for (const std::string_view token : t) {
    const std::size_t at = token.find("cn=");
    if (at == std::string_view::npos || !token.starts_with("state")) continue;
    if (!parse_int(token.substr(at + 3), call.cn) || call.cn < 0)
      input_error(path, line_number, "the copy number in '" + std::string(token) + "' is not an integer of at least 0");
    found = true;
    break;
  }
  if (!found) input_error(path, line_number, "the call has no field 'stateN,cn=C'");
  call.sample = t[4];
}

// "FID IID CHR BP1 BP2 TYPE SCORE SITES"
void parse_plink_line(const std::string& path, long line_number,
                      const std::vector<std::string_view>& t, CallLine& call) {
  if (t.size() < 6)
    input_error(path, line_number, "a PLINK call needs the fields FID IID CHR BP1 BP2 TYPE; the line holds " +
                                       std::to_string(t.size()));
  call.sample = t[1];
  call.chromosome = chromosome_code(t[2]);
  if (!parse_position(t[3], call.start))
    input_error(path, line_number, "BP1 '" + std::string(t[3]) + "' is not a position");
  if (!parse_position(t[4], call.end))
    input_error(path, line_number, "BP2 '" + std::string(t[4]) + "' is not a position");
  check_stretch(path, line_number, call.start, call.end);
  if (!parse_int(t[5], call.cn) || call.cn < 0)
    input_error(path, line_number, "TYPE '" + std::string(t[5]) + "' is not a copy number (an integer of at least 0)");
}

}  // namespace

int chromosome_code(std::string_view token) {
  if (token.size() > 3 && iequals(token.substr(0, 3), "chr")) token.remove_prefix(3);
  int number = 0;
  if (parse_int(token, number)) return number >= 1 && number <= 26 ? number : 0;
  if (iequals(token, "X")) return 23;
  if (iequals(token, "Y")) return 24;
  if (iequals(token, "XY")) return 25;
  if (iequals(token, "MT") || iequals(token, "M")) return 26;
  return 0;
}

PfbTable read_pfb(const std::string& path) {
  LineInput in;
  in.open_or_throw(path);
  PfbTable table;
  std::vector<std::string_view> t;
  std::string_view line;
  bool first = true;
  while (in.next_nonblank(line)) {
    split_blanks(line, t);
    if (first && iequals(t[0], "Name")) {
      first = false;
      continue;
    }
    first = false;
    if (t.size() < 4)
      input_error(path, in.line_number(), "a .pfb line needs Name, Chr, Position and PFB; the line holds " +
                                              std::to_string(t.size()) + " fields");
    PfbProbe probe;
    probe.chromosome = chromosome_code(t[1]);
    if (!parse_position(t[2], probe.position))
      input_error(path, in.line_number(), "the position '" + std::string(t[2]) + "' of probe '" +
                                              std::string(t[0]) + "' is not an integer");
    double pfb = 0.0;
    const auto result = std::from_chars(t[3].data(), t[3].data() + t[3].size(), pfb);
    if (result.ec != std::errc() || result.ptr != t[3].data() + t[3].size() || !(pfb >= 0.0 && pfb <= 2.0))
      input_error(path, in.line_number(), "the PFB '" + std::string(t[3]) + "' of probe '" +
                                              std::string(t[0]) + "' is not a number from 0 to 1, or 2");
    if (probe.chromosome == 0) {
      ++table.unplaced;
      continue;
    }
    probe.cn_probe = pfb == 2.0;
    probe.pfb.assign(t[3]);
    if (!table.probes.emplace(std::string(t[0]), std::move(probe)).second)
      input_error(path, in.line_number(), "probe '" + std::string(t[0]) + "' is listed a second time");
  }
  return table;
}

CallFormat read_calls(const std::string& path, const std::function<void(const CallLine&)>& take) {
  LineInput in;
  in.open_or_throw(path);
  std::vector<std::string_view> t;
  std::string_view line;
  CallFormat format = CallFormat::PennCnv;
  bool first = true;
  while (in.next_nonblank(line)) {
    split_blanks(line, t);
    if (first) {
      first = false;
      format = t[0].find(':') != std::string_view::npos ? CallFormat::PennCnv : CallFormat::Plink;
      if (format == CallFormat::Plink && t[0] == "FID") continue;
    }
    CallLine call;
    call.line = in.line_number();
    if (format == CallFormat::PennCnv) parse_rawcnv_line(path, in.line_number(), t, call);
    else parse_plink_line(path, in.line_number(), t, call);
    take(call);
  }
  return format;
}

SampleSheet read_sample_sheet(const std::string& path) {
  LineInput in;
  in.open_or_throw(path);
  SampleSheet sheet;
  sheet.path = path;
  std::vector<std::string_view> t;
  std::string_view line;
  if (!in.next_nonblank(line)) input_error(path, 0, "the sample sheet is empty; it needs a header line (ID, status, covariates)");
  split_blanks(line, t);
  if (t.size() < 2)
    input_error(path, in.line_number(), "the header must name at least the ID and the status columns");
  for (const auto token : t) sheet.columns.emplace_back(token);
  std::unordered_set<std::string> seen;
  while (in.next_nonblank(line)) {
    split_blanks(line, t);
    if (t.size() != sheet.columns.size())
      input_error(path, in.line_number(), "the line holds " + std::to_string(t.size()) +
                                              " values where the header names " +
                                              std::to_string(sheet.columns.size()) + " columns");
    SampleSheet::Row row;
    row.id.assign(t[0]);
    row.line = in.line_number();
    for (std::size_t j = 1; j < t.size(); ++j) row.values.emplace_back(t[j]);
    if (!seen.insert(row.id).second)
      input_error(path, in.line_number(), "sample '" + row.id + "' is listed a second time");
    sheet.rows.push_back(std::move(row));
  }
  return sheet;
}

SignalColumns parse_signal_header(std::string_view header, const std::string& path,
                                  const std::string& fallback_id) {
  static constexpr std::string_view LRR = "Log R Ratio";
  static constexpr std::string_view BAF = "B Allele Freq";
  std::vector<std::string_view> fields;
  split_tabs(header, fields);
  SignalColumns columns;
  columns.count = static_cast<int>(fields.size());
  std::unordered_map<std::string, int> baf_of;
  for (std::size_t c = 0; c < fields.size(); ++c) {
    const std::string_view f = fields[c];
    const int column = static_cast<int>(c);
    auto id_of = [&](std::string_view suffix) {
      if (f == suffix) return fallback_id;
      return std::string(f.substr(0, f.size() - suffix.size() - 1));
    };
    if (f == "Name") {
      columns.name = column;
    } else if (f.ends_with(LRR) && (f.size() == LRR.size() || f[f.size() - LRR.size() - 1] == '.')) {
      columns.samples.push_back(SignalSample{id_of(LRR), column, -1});
    } else if (f.ends_with(BAF) && (f.size() == BAF.size() || f[f.size() - BAF.size() - 1] == '.')) {
      baf_of[id_of(BAF)] = column;
    }
  }
  if (columns.name < 0) input_error(path, 1, "the header has no column 'Name' (the columns must be tab-separated)");
  if (columns.samples.empty()) input_error(path, 1, "the header has no column '<sample>.Log R Ratio'");
  std::unordered_set<std::string> seen;
  for (auto& s : columns.samples) {
    const auto it = baf_of.find(s.id);
    if (it == baf_of.end())
      input_error(path, 1, "sample '" + s.id + "' has a column '" + s.id + ".Log R Ratio' but no column '" +
                               s.id + ".B Allele Freq'");
    s.baf = it->second;
    if (!seen.insert(s.id).second) input_error(path, 1, "sample '" + s.id + "' has two columns 'Log R Ratio'");
  }
  return columns;
}
