// Preparing Quillmark input sets. The signal data are sample-major (one file per
// sample) and Quillmark's files probe-major, so the signal files are read in
// lockstep, one line of each per probe. When more files are listed than may be
// open at once, they are read in groups: each group's columns go to a temporary
// file (one line per probe), and the temporary files are then read in lockstep
// the same way. Memory: the .pfb table, the calls, and one read buffer and one
// line per open file; it does not grow with the number of probes read.
#include "prepare/prepare.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "prepare/call_index.h"
#include "prepare/penncnv_input.h"
#include "prepare/text_io.h"

namespace fs = std::filesystem;

namespace {

bool is_missing_word(std::string_view token) {
  return token == "-9" || token == "NA" || token == "na" || token == "Na" || token == "nA";
}

bool is_finite_number(std::string_view token) {
  double value = 0.0;
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr == token.data() + token.size() && std::isfinite(value);
}

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string_view> t;
  split_blanks(text, t);
  return {t.begin(), t.end()};
}

// One source of signal data: a per-sample file or the multi-sample table.
struct SignalSource {
  std::string path;
  SignalColumns columns;
};

// An analysed subject: its sheet row and where its signal columns are.
struct Subject {
  std::size_t sheet_row = 0;
  std::size_t source = 0;
  std::size_t sample = 0;  // index into the source's columns.samples
};

// The files of one output set (SNP or CN probes), created with the first probe.
struct SetWriter {
  fs::path dir;
  bool snp = true;
  bool bgzip = false;
  long probes = 0;
  OutputFile raw, raw_info, cn, cn_info;

  void add(std::string_view name, const PfbProbe& probe, std::string_view lrr, std::string_view baf,
           std::string_view cn_line) {
    if (!raw.is_open()) {
      fs::create_directories(dir);
      const std::string gz = bgzip ? ".gz" : "";
      raw.create((dir / ("raw.dat" + gz)).string(), bgzip);
      raw_info.create((dir / "raw.info").string(), false);
      cn.create((dir / ("CN.dat" + gz)).string(), bgzip);
      cn_info.create((dir / "CN.info").string(), false);
    }
    ++probes;
    raw.write(lrr);
    raw.put('\n');
    raw_info.write(name);
    raw_info.write(" LRR\n");
    if (snp) {
      raw.write(baf);
      raw.put('\n');
      raw_info.write(name);
      raw_info.write(" BAF\n");
    }
    cn.write(cn_line);
    cn_info.write(name);
    char numbers[64];
    const int length = std::snprintf(numbers, sizeof numbers, " %d %lld ", probe.chromosome,
                                     static_cast<long long>(probe.position));
    cn_info.write(std::string_view(numbers, static_cast<std::size_t>(length)));
    cn_info.write(probe.pfb);
    cn_info.put('\n');
  }

  void close() {
    if (!raw.is_open()) return;
    raw.close();
    raw_info.close();
    cn.close();
    cn_info.close();
  }
};

// Reading one group of signal sources in lockstep.
class GroupReader {
 public:
  struct Member {
    LineInput in;
    const SignalSource* source = nullptr;
    std::vector<std::size_t> samples;  // columns.samples indices, in subject order
  };

  void add(const SignalSource& source, std::vector<std::size_t> samples, std::size_t buffer) {
    Member m;
    m.source = &source;
    m.samples = std::move(samples);
    m.in.open_or_throw(source.path, buffer);
    std::string_view header;
    m.in.next(header);  // read and parsed when the sources were listed
    members_.push_back(std::move(m));
  }

  // Reads the next probe row: its name, and the subjects' log R ratio and B allele
  // frequency tokens joined by spaces. False when every file has ended.
  bool next(std::string& name, std::string& lrr, std::string& baf) {
    lrr.clear();
    baf.clear();
    for (std::size_t k = 0; k < members_.size(); ++k) {
      Member& m = members_[k];
      std::string_view line;
      const bool has = m.in.next_nonblank(line);
      if (k == 0) {
        if (!has) {
          for (std::size_t j = 1; j < members_.size(); ++j)
            if (members_[j].in.next_nonblank(line))
              input_error(members_[j].in.path(), members_[j].in.line_number(),
                          "the file has more probe rows than '" + members_[0].in.path() + "' (" +
                              std::to_string(rows_) + "); every signal file must list the same probes");
          return false;
        }
      } else if (!has) {
        input_error(m.in.path(), m.in.line_number(),
                    "the file ends after " + std::to_string(rows_) + " probe rows while '" +
                        members_[0].in.path() + "' goes on; every signal file must list the same probes");
      }
      split_tabs(line, fields_);
      const SignalColumns& c = m.source->columns;
      if (static_cast<int>(fields_.size()) < c.count)
        input_error(m.in.path(), m.in.line_number(),
                    "the line holds " + std::to_string(fields_.size()) + " tab-separated fields where the header names " +
                        std::to_string(c.count));
      const std::string_view row_name = fields_[static_cast<std::size_t>(c.name)];
      if (k == 0) {
        name.assign(row_name);
      } else if (row_name != name) {
        input_error(m.in.path(), m.in.line_number(),
                    "probe '" + std::string(row_name) + "' stands where '" + members_[0].in.path() +
                        "' has probe '" + name + "' (line " + std::to_string(members_[0].in.line_number()) +
                        "); every signal file must list the probes in the same order");
      }
      for (const std::size_t s : m.samples) {
        const SignalSample& sample = c.samples[s];
        append_token(lrr, fields_[static_cast<std::size_t>(sample.lrr)], m);
        append_token(baf, fields_[static_cast<std::size_t>(sample.baf)], m);
      }
    }
    ++rows_;
    return true;
  }

 private:
  void append_token(std::string& out, std::string_view token, const Member& m) {
    if (!out.empty()) out += ' ';
    if (token.empty()) {
      out += "NA";  // an empty field is a missing value
      return;
    }
    if (token.find(' ') != std::string_view::npos)
      input_error(m.in.path(), m.in.line_number(), "the value '" + std::string(token) + "' holds a space");
    out += token;
  }

  std::vector<Member> members_;
  std::vector<std::string_view> fields_;
  long rows_ = 0;
};

// Order-sensitive digest of the probe names of one pass, to check that every
// group of signal files lists the same probes.
struct NameDigest {
  std::uint64_t hash = 1469598103934665603ull;
  long rows = 0;
  void add(std::string_view name) {
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ '\n') * 1099511628211ull;
    ++rows;
  }
};

// Open files allowed at once: the soft limit raised to the hard one, less room for
// the program's other files.
int open_file_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1000;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  const rlim_t cap = 1 << 20;
  const rlim_t usable = std::min(limit.rlim_cur, cap);
  return usable > 64 ? static_cast<int>(usable - 32) : 16;
}

std::string strip_extension(std::string_view name) {
  if (name.ends_with(".gz")) name.remove_suffix(3);
  const std::size_t dot = name.find_last_of('.');
  return std::string(dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot));
}

// Which calls cover a probe: the carriers and the called copy numbers of the subjects.
class CallLookup {
 public:
  CallLookup(const CallIndex& index, int subjects) : index_(index), cn_(static_cast<std::size_t>(subjects), 2) {}

  // Number of subjects with a call over the probe; their copy numbers are held for cn_line.
  int carriers(const PfbProbe& probe) {
    for (const std::int32_t s : touched_) cn_[static_cast<std::size_t>(s)] = 2;
    touched_.clear();
    index_.for_each_covering(probe.chromosome, probe.position, [&](const IndexedCall& call) {
      cn_[static_cast<std::size_t>(call.subject)] = call.cn;
      touched_.push_back(call.subject);
    });
    return static_cast<int>(touched_.size());
  }

  // The called copy numbers of the probe last looked up, one line.
  const std::string& cn_line() {
    line_.clear();
    char digits[16];
    for (std::size_t i = 0; i < cn_.size(); ++i) {
      if (i > 0) line_ += ' ';
      const int v = cn_[i];
      if (v >= 0 && v <= 9) {
        line_ += static_cast<char>('0' + v);
      } else {
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        line_.append(digits, r.ptr);
      }
    }
    line_ += '\n';
    return line_;
  }

 private:
  const CallIndex& index_;
  std::vector<int> cn_;
  std::vector<std::int32_t> touched_;
  std::string line_;
};

// The specification file of one set.
std::string specification_text(const PrepareSettings& s, bool snp) {
  // L (the allele-specific effect) exists at SNP probes only: CN sets leave its terms out.
  auto terms = [&](const std::string& text) {
    std::string kept;
    for (const auto& term : split_words(text)) {
      bool has_l = false;
      std::size_t start = 0;
      while (start <= term.size()) {
        const std::size_t star = std::min(term.find('*', start), term.size());
        if (term.substr(start, star - start) == "L") has_l = true;
        start = star + 1;
      }
      if (has_l && !snp) continue;
      kept += " " + term;
    }
    return kept;
  };
  const std::string gz = s.bgzip ? ".gz" : "";
  std::string t;
  t += "PHENOTYPE_FILE = phenotype.dat\n";
  t += "RAW_INTENSITY_DAT_FILE = raw.dat" + gz + "\n";
  t += "RAW_INTENSITY_INFO_FILE = raw.info\n";
  t += "CALLED_CN_DAT_FILE = CN.dat" + gz + "\n";
  t += "CALLED_CN_INFO_FILE = CN.info\n";
  t += "RESULT_FILE = results.out\n";
  t += std::string("ARRAY_TYPE = ") + (snp ? s.array_type : 'I') + "\n";
  t += std::string("PROBE_TYPE = ") + (snp ? "SNP" : "CN") + "\n";
  if (!s.differential.empty()) t += "DIFFERENTIAL_MEASUREMENT_ERRORS = " + s.differential + "\n";
  if (!s.categorical.empty()) t += "CATEGORICAL = " + s.categorical + "\n";
  if (!s.dependent.empty()) t += "DEPENDENT = " + s.dependent + "\n";
  if (const std::string e = terms(s.effect); !e.empty()) t += "EFFECT =" + e + "\n";
  if (const std::string e = terms(s.test); !e.empty()) t += "TEST =" + e + "\n";
  return t;
}

void write_text_file(const fs::path& path, const std::string& text) {
  OutputFile f;
  f.create(path.string(), false);
  f.write(text);
  f.close();
}

void report_names(std::FILE* report, const char* what, const std::vector<std::string>& names) {
  std::fprintf(report, "  %zu %s%s%s\n", names.size(), what, names.empty() ? "" : ": ",
               name_list(names).c_str());
}

}  // namespace

bool parse_region(std::string_view text, Region& region) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::size_t dash = text.find('-', colon);
  if (dash == std::string_view::npos) return false;
  region.chromosome = chromosome_code(text.substr(0, colon));
  auto number = [](std::string_view t, std::int64_t& v) {
    std::string digits;
    for (const char c : t)
      if (c != ',') digits += c;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    return !digits.empty() && r.ec == std::errc() && r.ptr == digits.data() + digits.size() && v >= 0;
  };
  return region.chromosome != 0 && number(text.substr(colon + 1, dash - colon - 1), region.from) &&
         number(text.substr(dash + 1), region.to) && region.from <= region.to;
}

PrepareSummary run_prepare(const PrepareSettings& s, std::FILE* report) {
  PrepareSummary summary;

  // The sample sheet: which columns to keep, how status is coded.
  const SampleSheet sheet = read_sample_sheet(s.samples);
  summary.sheet_samples = static_cast<int>(sheet.rows.size());
  std::vector<std::size_t> kept;  // indices into Row::values (0 is the status)
  std::vector<std::string> covariate_names;
  if (s.covariates_given) {
    for (const auto& name : s.covariates) {
      const auto it = std::find(sheet.columns.begin() + 2, sheet.columns.end(), name);
      if (it == sheet.columns.end())
        input_error(s.samples, 1, "the sample sheet has no covariate column '" + name + "'");
      kept.push_back(static_cast<std::size_t>(it - sheet.columns.begin()) - 1);
      covariate_names.push_back(name);
    }
  } else {
    for (std::size_t j = 2; j < sheet.columns.size(); ++j) {
      kept.push_back(j - 1);
      covariate_names.push_back(sheet.columns[j]);
    }
  }
  for (const std::string* setting : {&s.effect, &s.test, &s.categorical, &s.dependent}) {
    for (const auto& term : split_words(*setting)) {
      std::size_t start = 0;
      while (start <= term.size()) {
        const std::size_t star = std::min(term.find('*', start), term.size());
        const std::string factor = term.substr(start, star - start);
        start = star + 1;
        if (factor == "K" || factor == "L") continue;
        if (std::find(covariate_names.begin(), covariate_names.end(), factor) == covariate_names.end())
          throw InputError("the model names '" + factor + "', which is not a covariate column kept from '" +
                           s.samples + "'");
      }
    }
  }
  StatusCoding coding = s.status_coding;
  if (coding == StatusCoding::Auto) {
    coding = StatusCoding::ZeroOne;
    for (const auto& row : sheet.rows)
      if (row.values[0] == "2") coding = StatusCoding::OneTwo;
  }

  // The signal sources and the samples they hold.
  std::vector<SignalSource> sources;
  std::vector<std::string> listed;  // per source: the path as listed
  if (!s.signal_table.empty()) {
    LineInput in;
    in.open_or_throw(s.signal_table);
    std::string_view header;
    if (!in.next(header)) input_error(s.signal_table, 0, "the file is empty");
    sources.push_back({s.signal_table, parse_signal_header(header, s.signal_table, "")});
    listed.push_back(s.signal_table);
  } else {
    LineInput list;
    list.open_or_throw(s.signal_list);
    std::string_view line;
    std::vector<std::string_view> t;
    while (list.next_nonblank(line)) {
      split_blanks(line, t);
      const std::string path(t[0]);
      LineInput in;
      if (!in.open(path, 4096))
        input_error(s.signal_list, list.line_number(), "the signal file '" + path + "' cannot be opened");
      std::string_view header;
      if (!in.next(header)) input_error(path, 0, "the file is empty");
      SignalColumns columns = parse_signal_header(header, path, strip_extension(base_name(path)));
      if (columns.samples.size() != 1)
        input_error(path, 1, "the file holds " + std::to_string(columns.samples.size()) +
                                 " samples; list one file per sample, or give a multi-sample table with --signal-table");
      sources.push_back({path, std::move(columns)});
      listed.push_back(path);
    }
  }
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> signal_of;  // ID -> (source, sample)
  std::vector<std::string> signal_order;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    const auto& samples = sources[k].columns.samples;
    for (std::size_t j = 0; j < samples.size(); ++j) {
      const auto [it, fresh] = signal_of.emplace(samples[j].id, std::make_pair(k, j));
      if (!fresh)
        input_error(sources[k].path, 1, "sample '" + samples[j].id + "' also has signal data in '" +
                                            sources[it->second.first].path + "'");
      signal_order.push_back(samples[j].id);
    }
  }
  summary.signal_samples = static_cast<int>(signal_order.size());

  // Subjects: samples of the sheet with signal data and no missing value.
  std::vector<Subject> subjects;
  std::unordered_map<std::string, int> subject_of;
  std::unordered_set<std::string> in_sheet;
  std::vector<std::string> outcome(sheet.rows.size());
  for (std::size_t r = 0; r < sheet.rows.size(); ++r) {
    const auto& row = sheet.rows[r];
    in_sheet.insert(row.id);
    const std::string& status = row.values[0];
    bool missing = is_missing_word(status) || (coding == StatusCoding::OneTwo && status == "0");
    const bool valid = missing || (coding == StatusCoding::ZeroOne ? status == "0" || status == "1"
                                                                   : status == "1" || status == "2");
    if (!valid)
      input_error(s.samples, row.line,
                  "the status '" + status + "' of sample '" + row.id + "' is not " +
                      (coding == StatusCoding::ZeroOne ? "0 (control) or 1 (case)" : "1 (control) or 2 (case)") +
                      ", nor NA or -9 for a missing value");
    for (const std::size_t j : kept) {
      const std::string& v = row.values[j];
      if (is_missing_word(v)) missing = true;
      else if (!is_finite_number(v))
        input_error(s.samples, row.line, "the value '" + v + "' of column '" + sheet.columns[j + 1] +
                                             "' of sample '" + row.id + "' is not a number (NA or -9 mark a missing value)");
    }
    const auto signal = signal_of.find(row.id);
    if (signal == signal_of.end()) {
      summary.without_signal.push_back(row.id);
      outcome[r] = "no_signal_data\t-";
    } else if (missing) {
      summary.missing_value.push_back(row.id);
      outcome[r] = "missing_value\t-";
    } else {
      subject_of.emplace(row.id, static_cast<int>(subjects.size()));
      subjects.push_back({r, signal->second.first, signal->second.second});
      outcome[r] = "analysed\t" + std::to_string(subjects.size());
    }
  }
  for (const auto& id : signal_order)
    if (!in_sheet.count(id)) summary.without_sheet.push_back(id);
  summary.subjects = static_cast<int>(subjects.size());
  const int n = summary.subjects;
  {
    fs::create_directories(s.out);
    std::string text = "ID\toutcome\tsubject\n";
    for (std::size_t r = 0; r < sheet.rows.size(); ++r) text += sheet.rows[r].id + "\t" + outcome[r] + "\n";
    for (const auto& id : summary.without_sheet) text += id + "\tnot_in_sample_sheet\t-\n";
    write_text_file(fs::path(s.out) / "sample_outcomes.txt", text);
  }
  std::fprintf(report, "Sample sheet '%s': %d samples, status coded %s\n", s.samples.c_str(),
               summary.sheet_samples, coding == StatusCoding::OneTwo ? "1/2 (PLINK)" : "0/1");
  std::fprintf(report, "Signal data: %d samples in %zu file%s\n", summary.signal_samples, sources.size(),
               sources.size() == 1 ? "" : "s");
  std::fprintf(report, "Subjects: %d (samples of the sheet with signal data and no missing value)\n", n);
  report_names(report, "in the sample sheet without signal data", summary.without_signal);
  report_names(report, "with signal data but not in the sample sheet", summary.without_sheet);
  report_names(report, "dropped for a missing value (NA or -9)", summary.missing_value);
  if (n == 0) throw InputError("no sample has both a line in '" + s.samples + "' and signal data");

  // The .pfb table.
  const PfbTable pfb = read_pfb(s.pfb);

  // The calls, matched to subjects: by the signal file they name (PennCNV), or by ID.
  std::unordered_map<std::string, std::string> id_of_path, id_of_base;
  std::unordered_set<std::string> ambiguous_bases;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    if (sources[k].columns.samples.size() != 1) continue;
    const std::string& id = sources[k].columns.samples[0].id;
    id_of_path.emplace(listed[k], id);
    const std::string base(base_name(listed[k]));
    if (!id_of_base.emplace(base, id).second) ambiguous_bases.insert(base);
  }
  for (const auto& base : ambiguous_bases) id_of_base.erase(base);
  auto known = [&](const std::string& id) { return in_sheet.count(id) > 0 || signal_of.count(id) > 0; };
  auto resolve = [&](std::string_view key) -> std::string {
    const std::string k(key);
    if (const auto it = id_of_path.find(k); it != id_of_path.end()) return it->second;
    const std::string base(base_name(key));
    if (const auto it = id_of_base.find(base); it != id_of_base.end()) return it->second;
    if (known(k)) return k;
    if (known(base)) return base;
    if (const std::string stem = strip_extension(base); known(stem)) return stem;
    return {};
  };
  CallIndex index;
  std::unordered_set<std::string> unknown;
  for (std::size_t f = 0; f < s.calls.size(); ++f) {
    read_calls(s.calls[f], [&](const CallLine& call) {
      ++summary.calls_read;
      const std::string id = resolve(call.sample);
      if (id.empty()) {
        ++summary.calls_unknown;
        if (unknown.insert(std::string(call.sample)).second)
          summary.unknown_call_samples.emplace_back(call.sample);
        return;
      }
      const auto subject = subject_of.find(id);
      if (subject == subject_of.end()) {
        ++summary.calls_other_samples;
      } else if (call.chromosome == 0) {
        ++summary.calls_unplaced;
      } else if (call.cn == 2) {
        ++summary.calls_copy_neutral;
      } else {
        ++summary.calls_used;
        index.add(call.chromosome, IndexedCall{call.start, call.end, subject->second, call.cn,
                                               static_cast<std::int32_t>(f), static_cast<std::int32_t>(call.line)});
      }
    });
  }
  index.finish();
  if (const auto overlap = index.find_overlap(); overlap.found) {
    const auto& a = overlap.first;
    const auto& b = overlap.second;
    const std::string& id = sheet.rows[subjects[static_cast<std::size_t>(a.subject)].sheet_row].id;
    input_error(s.calls[static_cast<std::size_t>(b.file)], b.line,
                "the call of sample '" + id + "' overlaps its call on line " + std::to_string(a.line) +
                    (a.file == b.file ? std::string() : " of '" + s.calls[static_cast<std::size_t>(a.file)] + "'") +
                    "; a sample's calls must not overlap");
  }
  std::fprintf(report, "Calls: %ld read; %ld of subjects used", summary.calls_read, summary.calls_used);
  if (summary.calls_copy_neutral > 0) std::fprintf(report, ", %ld with copy number 2 left out", summary.calls_copy_neutral);
  if (summary.calls_other_samples > 0) std::fprintf(report, ", %ld of samples that are not subjects", summary.calls_other_samples);
  if (summary.calls_unplaced > 0) std::fprintf(report, ", %ld on no known chromosome", summary.calls_unplaced);
  std::fprintf(report, "\n");
  if (summary.calls_unknown > 0)
    std::fprintf(report, "  %ld calls name no known sample: %s\n", summary.calls_unknown,
                 name_list(summary.unknown_call_samples).c_str());

  // Which probes to analyse.
  std::unordered_set<std::string> probe_list;
  if (!s.probe_list.empty()) {
    LineInput in;
    in.open_or_throw(s.probe_list);
    std::string_view line;
    std::vector<std::string_view> t;
    while (in.next_nonblank(line)) {
      split_blanks(line, t);
      probe_list.emplace(t[0]);
    }
  }
  const bool chosen = !s.probe_list.empty() || !s.regions.empty();
  int threshold = 0;
  const int by_share = s.min_carrier_share >= 0.0
                           ? static_cast<int>(std::ceil(s.min_carrier_share * n - 1e-9))
                           : 0;
  if (s.min_carriers >= 0 && s.min_carrier_share >= 0.0) threshold = std::min(s.min_carriers, by_share);
  else if (s.min_carriers >= 0) threshold = s.min_carriers;
  else if (s.min_carrier_share >= 0.0) threshold = by_share;
  else if (!chosen) threshold = std::min(10, static_cast<int>(std::ceil(0.01 * n - 1e-9)));
  summary.carrier_threshold = threshold;
  auto in_choice = [&](const std::string& name, const PfbProbe& probe) {
    if (!chosen) return true;
    if (probe_list.count(name)) return true;
    for (const Region& r : s.regions)
      if (r.chromosome == probe.chromosome && probe.position >= r.from && probe.position <= r.to) return true;
    return false;
  };
  std::fprintf(report, "Probes analysed: ");
  if (chosen) std::fprintf(report, "those %s", !s.probe_list.empty() && !s.regions.empty() ? "listed or in the regions"
                                                : !s.probe_list.empty() ? "listed" : "in the regions");
  else std::fprintf(report, "all");
  if (threshold > 0) std::fprintf(report, " with at least %d carrier%s of a call", threshold, threshold == 1 ? "" : "s");
  std::fprintf(report, "\n");

  // Reading the signal data.
  SetWriter snp_set, cn_set;
  snp_set.dir = fs::path(s.out) / "snp";
  cn_set.dir = fs::path(s.out) / "cn";
  cn_set.snp = false;
  snp_set.bgzip = cn_set.bgzip = s.bgzip;
  CallLookup lookup(index, n);
  // The probe of a row when it is analysed, else null.
  auto choose = [&](const std::string& name, bool count) -> const PfbProbe* {
    const auto it = pfb.probes.find(name);
    if (it == pfb.probes.end()) {
      if (count) ++summary.rows_not_in_pfb;
      return nullptr;
    }
    if (!in_choice(name, it->second)) return nullptr;
    if (lookup.carriers(it->second) < threshold) return nullptr;
    return &it->second;
  };
  auto write_probe = [&](const std::string& name, const PfbProbe& probe, const std::string& lrr, const std::string& baf) {
    (probe.cn_probe ? cn_set : snp_set).add(name, probe, lrr, baf, lookup.cn_line());
  };

  const int system_limit = open_file_limit();
  const int limit = s.max_open_files > 0 ? std::min(system_limit, s.max_open_files) : system_limit;
  const std::size_t per_group = static_cast<std::size_t>(std::max(1, limit));
  const bool one_file = !s.signal_table.empty();
  const std::size_t groups = one_file ? 1 : (subjects.size() + per_group - 1) / per_group;
  // The groups' temporary files are read side by side at the end.
  if (groups > static_cast<std::size_t>(system_limit))
    throw InputError(std::to_string(subjects.size()) + " signal files read " + std::to_string(per_group) +
                     " at a time make " + std::to_string(groups) + " groups, more than the " +
                     std::to_string(system_limit) + " files that may be open at once; allow more open files (ulimit -n) or raise --max-open-files");
  summary.reading_groups = static_cast<int>(groups);
  const std::size_t open_at_once = one_file ? 1 : std::min(per_group, subjects.size());
  const std::size_t buffer = std::clamp<std::size_t>((std::size_t{1} << 27) / open_at_once, 4096, std::size_t{1} << 16);

  std::string name, lrr, baf;
  std::vector<fs::path> temporary;
  struct TemporaryFiles {
    std::vector<fs::path>& paths;
    ~TemporaryFiles() {
      std::error_code ignored;
      for (const auto& p : paths) fs::remove(p, ignored);
    }
  } cleanup{temporary};
  NameDigest first_digest;
  for (std::size_t g = 0; g < groups; ++g) {
    GroupReader reader;
    if (one_file) {
      std::vector<std::size_t> samples;
      for (const auto& subject : subjects) samples.push_back(subject.sample);
      reader.add(sources[0], std::move(samples), std::size_t{1} << 20);
    } else {
      const std::size_t end = std::min(subjects.size(), (g + 1) * per_group);
      for (std::size_t i = g * per_group; i < end; ++i)
        reader.add(sources[subjects[i].source], {subjects[i].sample}, buffer);
    }
    OutputFile group_file;
    if (groups > 1) {
      temporary.push_back(fs::path(s.out) / ("signal_group_" + std::to_string(g + 1) + ".tmp"));
      group_file.create(temporary.back().string(), false);
    }
    NameDigest digest;
    while (reader.next(name, lrr, baf)) {
      digest.add(name);
      const PfbProbe* probe = choose(name, g == 0);
      if (!probe) continue;
      if (groups == 1) {
        write_probe(name, *probe, lrr, baf);
        continue;
      }
      group_file.write(name);
      group_file.put('\t');
      group_file.write(lrr);
      group_file.put('\n');
      if (!probe->cn_probe) {
        group_file.write(name);
        group_file.put('\t');
        group_file.write(baf);
        group_file.put('\n');
      }
    }
    if (groups > 1) group_file.close();
    if (g == 0) first_digest = digest;
    else if (digest.hash != first_digest.hash || digest.rows != first_digest.rows)
      throw InputError("the signal files of subjects " + std::to_string(g * per_group + 1) + " on do not list the same probes in the same order as those of subject 1 (" +
                       std::to_string(digest.rows) + " against " + std::to_string(first_digest.rows) + " rows)");
  }
  summary.rows = first_digest.rows;

  if (groups > 1) {
    // The groups' columns side by side: every temporary file holds one line per
    // written intensity row, in the same order.
    std::vector<LineInput> parts(groups);
    for (std::size_t g = 0; g < groups; ++g) parts[g].open_or_throw(temporary[g].string());
    // The next row of every part joined; false when the parts have ended.
    auto read_row = [&](std::string& row_name, std::string& joined) {
      joined.clear();
      std::string_view line;
      for (std::size_t g = 0; g < groups; ++g) {
        if (!parts[g].next(line)) {
          if (g == 0) return false;
          input_error(parts[g].path(), parts[g].line_number() + 1, "the temporary file ended early");
        }
        const std::size_t tab = std::min(line.find('\t'), line.size());
        if (g == 0) row_name.assign(line.substr(0, tab));
        else if (line.substr(0, tab) != row_name)
          input_error(parts[g].path(), parts[g].line_number(), "the temporary file is out of step");
        if (g > 0) joined += ' ';
        if (tab < line.size()) joined.append(line.substr(tab + 1));
      }
      return true;
    };
    std::string baf_name;
    while (read_row(name, lrr)) {
      const PfbProbe* probe = choose(name, false);
      if (!probe) input_error(parts[0].path(), parts[0].line_number(), "the temporary file is out of step");
      if (!probe->cn_probe && (!read_row(baf_name, baf) || baf_name != name))
        input_error(parts[0].path(), parts[0].line_number(), "the temporary file is out of step");
      write_probe(name, *probe, lrr, baf);
    }
  }
  snp_set.close();
  cn_set.close();
  summary.snp_probes = snp_set.probes;
  summary.cn_probes = cn_set.probes;

  // Phenotype and specification files of the sets written.
  std::string phenotype = sheet.columns[1];
  for (const auto& c : covariate_names) phenotype += " " + c;
  phenotype += "\n";
  for (const auto& subject : subjects) {
    const auto& row = sheet.rows[subject.sheet_row];
    const std::string& status = row.values[0];
    phenotype += coding == StatusCoding::OneTwo ? (status == "2" ? "1" : "0") : status;
    for (const std::size_t j : kept) phenotype += " " + row.values[j];
    phenotype += "\n";
  }
  for (SetWriter* set : {&snp_set, &cn_set}) {
    if (set->probes == 0) continue;
    write_text_file(set->dir / "phenotype.dat", phenotype);
    write_text_file(set->dir / "specification.txt", specification_text(s, set->snp));
  }

  std::fprintf(report, "Probes: %ld rows in the signal data", summary.rows);
  if (summary.rows_not_in_pfb > 0) std::fprintf(report, ", %ld of them not in '%s' and left out", summary.rows_not_in_pfb, s.pfb.c_str());
  if (pfb.unplaced > 0) std::fprintf(report, "; %ld probes of '%s' on no known chromosome left out", pfb.unplaced, s.pfb.c_str());
  std::fprintf(report, "\n");
  if (groups > 1) std::fprintf(report, "Signal files read in %zu groups of up to %zu\n", groups, per_group);
  auto set_line = [&](const char* kind, const SetWriter& set) {
    if (set.probes > 0)
      std::fprintf(report, "%s set: %ld probes in '%s' (run: cd %s && quillmark --spec_file specification.txt)\n", kind,
                   set.probes, set.dir.string().c_str(), set.dir.string().c_str());
    else
      std::fprintf(report, "%s set: no probes analysed, nothing written\n", kind);
  };
  set_line("SNP", snp_set);
  set_line("CN", cn_set);
  std::fprintf(report, "Sample outcomes: '%s'\n", (fs::path(s.out) / "sample_outcomes.txt").string().c_str());
  return summary;
}
