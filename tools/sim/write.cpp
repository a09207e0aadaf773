// Writing a simulated input set: the phenotype file and the specification
// file first, then the probes one at a time, so memory does not grow with the
// number of probes. Numbers are formatted with std::to_chars into large
// buffers that are written out whole.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulate.h"

namespace {

constexpr std::size_t NUMBER_ROOM = 400;  // room for any number to_chars writes here

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// One output file with its buffer; a number is formatted straight into the
// buffer, which is written out whenever less than NUMBER_ROOM is left.
class BufferedFile {
 public:
  explicit BufferedFile(const std::filesystem::path& path)
      : path_(path.string()), buffer_(std::make_unique<char[]>(BUFFER_SIZE)) {
    file_.reset(std::fopen(path_.c_str(), "wb"));
    if (!file_) throw std::runtime_error("cannot create '" + path_ + "'");
  }

  void text(std::string_view s) {
    while (!s.empty()) {
      reserve();
      const std::size_t n = std::min(s.size(), BUFFER_SIZE - used_);
      std::copy_n(s.data(), n, buffer_.get() + used_);
      used_ += n;
      s.remove_prefix(n);
    }
  }

  void put(char c) {
    reserve();
    buffer_[used_++] = c;
  }

  void integer(long long v) {
    reserve();
    char* start = buffer_.get() + used_;
    used_ += static_cast<std::size_t>(std::to_chars(start, start + NUMBER_ROOM, v).ptr - start);
  }

  void fixed(double v, int decimals) {
    reserve();
    char* start = buffer_.get() + used_;
    const auto result = std::to_chars(start, start + NUMBER_ROOM, v, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) throw std::runtime_error("number too long for '" + path_ + "'");
    used_ += static_cast<std::size_t>(result.ptr - start);
  }

  void end_line() { put('\n'); }

  void close() {
    flush();
    std::FILE* f = file_.release();
    if (std::fclose(f) != 0) throw std::runtime_error("cannot write '" + path_ + "'");
  }

 private:
  static constexpr std::size_t BUFFER_SIZE = std::size_t{1} << 22;  // 4 MiB per file

  void reserve() {
    if (BUFFER_SIZE - used_ < NUMBER_ROOM) flush();
  }
  void flush() {
    if (used_ > 0 && std::fwrite(buffer_.get(), 1, used_, file_.get()) != used_)
      throw std::runtime_error("cannot write '" + path_ + "'");
    used_ = 0;
  }

  std::string path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

bool uses_L(const SimSettings& s) { return s.odds_ratio_L != 1.0 || s.effect_L; }

int count_cases(const SimSubjects& subjects) {
  int cases = 0;
  for (const int y : subjects.status) cases += y;
  return cases;
}

void write_phenotype(const SimSettings& s, const SimSubjects& subjects, const std::filesystem::path& path) {
  BufferedFile out(path);
  out.text("status");
  for (const auto& name : subjects.covariate_names) {
    out.put(' ');
    out.text(name);
  }
  out.end_line();
  const std::size_t numeric = static_cast<std::size_t>(s.num_numeric_covariates);
  for (std::size_t i = 0; i < subjects.status.size(); ++i) {
    out.integer(subjects.status[i]);
    const auto& row = subjects.covariates[i];
    for (std::size_t j = 0; j < row.size(); ++j) {
      out.put(' ');
      if (j < numeric) out.fixed(row[j], s.decimals);
      else out.integer(std::lround(row[j]));  // levels and dependent values are whole numbers
    }
    out.end_line();
  }
  out.close();
}

void write_values(BufferedFile& out, const std::vector<double>& values, int decimals) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out.put(' ');
    out.fixed(values[i], decimals);
  }
  out.end_line();
}

void write_truth_header(const SimSettings& s, const SimSubjects& subjects, BufferedFile& out) {
  char line[512];
  std::snprintf(line, sizeof line,
                "# quillmark-sim truth: one line per probe, in the order of CN.info\n"
                "# probe_type=%s array_type=%c subjects=%zu cases=%d probes=%d seed=%llu\n"
                "# odds_ratio=%g odds_ratio_L=%g null_fraction=%g differential=%d miscall_rate=%g\n"
                "# freq0=%g freq1=%g pfb=[%g,%g] covariate_log_or=%g dependent_levels=%d\n",
                s.probe_type.c_str(), s.array_type, subjects.status.size(), count_cases(subjects),
                s.num_probes, static_cast<unsigned long long>(s.seed), s.odds_ratio, s.odds_ratio_L,
                s.null_fraction, s.differential ? 1 : 0, s.miscall_rate, s.freq0, s.freq1, s.pfb_min,
                s.pfb_max, s.covariate_log_or, s.dependent_covariate ? s.dependent_levels : 0);
  out.text(line);
  if (s.missed_carrier_rate > 0.0 || s.false_call_rate > 0.0) {
    std::snprintf(line, sizeof line, "# missed_carrier_rate=%g false_call_rate=%g\n",
                  s.missed_carrier_rate, s.false_call_rate);
    out.text(line);
  }
  out.text("name chr pos pfb log_or log_or_L effect miscalled"
           " ctrl_k0 ctrl_k1 ctrl_k2 case_k0 case_k1 case_k2");
  if (s.probe_type == "SNP")
    out.text(" ctrl_c0 ctrl_c1 ctrl_c2 ctrl_c3 ctrl_c4 ctrl_c5 case_c0 case_c1 case_c2 case_c3 case_c4 case_c5");
  out.end_line();
}

void write_truth_line(const SimProbe& p, const SimSubjects& subjects, bool snp, BufferedFile& out) {
  long long k_counts[2][3] = {};
  long long c_counts[2][6] = {};
  long long miscalled = 0;
  for (std::size_t i = 0; i < subjects.status.size(); ++i) {
    const int y = subjects.status[i];
    const int k = p.true_k[i];
    ++k_counts[y][k];
    ++c_counts[y][k * (k + 1) / 2 + p.true_l[i]];
    if (p.called_cn[i] != k) ++miscalled;
  }
  out.text(p.name);
  out.put(' ');
  out.integer(p.chr);
  out.put(' ');
  out.integer(p.pos);
  out.put(' ');
  out.fixed(p.pfb, 4);
  out.put(' ');
  out.fixed(p.log_or, 6);
  out.put(' ');
  out.fixed(p.log_or_L, 6);
  out.text(p.associated ? " associated " : " null ");
  out.integer(miscalled);
  for (const auto& row : k_counts)
    for (const long long v : row) {
      out.put(' ');
      out.integer(v);
    }
  if (snp)
    for (const auto& row : c_counts)
      for (const long long v : row) {
        out.put(' ');
        out.integer(v);
      }
  out.end_line();
}

// One line per probe, one token per subject: the true copy number, followed on SNP probes
// by the true number of B alleles ("21": two copies, one B allele).
void write_true_classes(const SimProbe& p, bool snp, BufferedFile& out) {
  for (std::size_t i = 0; i < p.true_k.size(); ++i) {
    if (i > 0) out.put(' ');
    out.put(static_cast<char>('0' + p.true_k[i]));
    if (snp) out.put(static_cast<char>('0' + p.true_l[i]));
  }
  out.end_line();
}

}  // namespace

std::string specification_text(const SimSettings& s) {
  const bool categorical = s.categorical_levels > 0;
  // A dependent covariate with more than two values enters the design as
  // levels, so that the disease model is saturated in it.
  const bool dep_categorical = s.dependent_covariate && s.dependent_levels > 2;
  std::string t;
  t += "PHENOTYPE_FILE = phenotype.dat\n";
  t += "RAW_INTENSITY_DAT_FILE = raw.dat\n";
  t += "RAW_INTENSITY_INFO_FILE = raw.info\n";
  t += "CALLED_CN_DAT_FILE = CN.dat\n";
  t += "CALLED_CN_INFO_FILE = CN.info\n";
  t += "RESULT_FILE = results.out\n";
  t += std::string("ARRAY_TYPE = ") + s.array_type + "\n";
  t += "PROBE_TYPE = " + s.probe_type + "\n";
  t += std::string("DIFFERENTIAL_MEASUREMENT_ERRORS = ") + (s.differential ? "1" : "0") + "\n";
  if (categorical || dep_categorical) {
    t += "CATEGORICAL =";
    if (categorical) t += " cat";
    if (dep_categorical) t += " dep";
    t += "\n";
  }
  if (s.dependent_covariate) t += "DEPENDENT = dep\n";
  t += "EFFECT = K";
  if (uses_L(s)) t += " L";
  for (int j = 1; j <= s.num_numeric_covariates; ++j) t += " cov" + std::to_string(j);
  if (categorical) t += " cat";
  if (s.dependent_covariate) t += " dep";
  t += "\n";
  if (uses_L(s)) t += "TEST = K L\n";
  return t;
}

void write_input_set(const SimSettings& s, const std::string& directory) {
  if (const std::string problem = validate_settings(s); !problem.empty())
    throw std::invalid_argument(problem);
  const std::filesystem::path dir(directory);
  std::filesystem::create_directories(dir);

  const SimSubjects subjects = make_subjects(s);
  write_phenotype(s, subjects, dir / "phenotype.dat");
  {
    BufferedFile spec(dir / "specification.txt");
    spec.text(specification_text(s));
    spec.close();
  }

  const bool snp = s.probe_type == "SNP";
  BufferedFile raw(dir / "raw.dat");
  BufferedFile raw_info(dir / "raw.info");
  BufferedFile cn(dir / "CN.dat");
  BufferedFile cn_info(dir / "CN.info");
  BufferedFile truth(dir / "truth.txt");
  write_truth_header(s, subjects, truth);
  std::optional<BufferedFile> true_classes;
  if (s.write_true_classes) true_classes.emplace(dir / "true_classes.dat");

  SimProbe p;
  for (int index = 0; index < s.num_probes; ++index) {
    fill_probe(p, s, subjects, index);
    write_values(raw, p.r, s.decimals);
    raw_info.text(p.name);
    raw_info.text(" LRR");
    raw_info.end_line();
    if (snp) {
      write_values(raw, p.b, s.decimals);
      raw_info.text(p.name);
      raw_info.text(" BAF");
      raw_info.end_line();
    }
    for (std::size_t i = 0; i < p.called_cn.size(); ++i) {
      if (i > 0) cn.put(' ');
      cn.put(static_cast<char>('0' + p.called_cn[i]));  // calls are 0, 1 or 2
    }
    cn.end_line();
    cn_info.text(p.name);
    cn_info.put(' ');
    cn_info.integer(p.chr);
    cn_info.put(' ');
    cn_info.integer(p.pos);
    cn_info.put(' ');
    cn_info.fixed(p.pfb, 4);
    cn_info.end_line();
    write_truth_line(p, subjects, snp, truth);
    if (true_classes) write_true_classes(p, snp, *true_classes);
  }
  raw.close();
  raw_info.close();
  cn.close();
  cn_info.close();
  truth.close();
  if (true_classes) true_classes->close();
}
