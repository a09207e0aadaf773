#include "entry_points.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/data.h"
#include "driver/line_reader.h"
#include "driver/model_setup.h"
#include "driver/option.h"
#include "core/para.h"
#include "driver/run.h"
#include "driver/spec_file.h"
#include "driver/stop.h"
#include "numeric/matrix.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory, current for the lifetime of the object; the previous working
// directory comes back and the directory is removed on destruction.
class ScratchDir {
 public:
  ScratchDir() : previous_(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "quillmark-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch directory");
    path_ = pattern;
    fs::current_path(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  void write(const std::string& name, std::string_view text) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path previous_;
  fs::path path_;
};

std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
}

// What must hold for the options once a specification file has been accepted.
std::string check_option_invariants(const OPTION& o) {
  const int nc = o.num_covariates;
  const int n = nc + o.num_genetic_names;
  if (nc < 0 || o.num_genetic_names < 1 || o.num_genetic_names > 2 || n > kMaxVariables)
    return "variable counts out of range";
  if (o.variable_names[static_cast<std::size_t>(nc)] != "K") return "K is not after the covariates";
  if (o.num_genetic_names == 2 && o.variable_names[static_cast<std::size_t>(nc + 1)] != "L")
    return "L is not after K";
  for (int i = 0; i < kMaxVariables; ++i) {
    for (int j = 0; j < kMaxVariables; ++j) {
      const int e = o.effect_table[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
      if (e < 0 || e > 2) return "effect entry outside 0, 1, 2";
      if (e != o.effect_table[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)])
        return "effect table not symmetric";
      if (e != 0 && (i >= n || j >= n)) return "effect entry beyond the named variables";
    }
  }
  if (o.effect_table[static_cast<std::size_t>(nc)][static_cast<std::size_t>(nc)] != 2)
    return "the main effect of K is not tested";
  for (int j = 0; j < n; ++j) {
    const std::string& name = o.variable_names[static_cast<std::size_t>(j)];
    if (name.empty()) return "a variable name is empty";
  }
  return "";
}

// The model set-up on four subjects whose covariates take a few values each.
std::string set_up_model(OPTION& option) {
  constexpr int kSubjects = 4;
  Matrix covariates = Matrix(kSubjects, option.num_covariates);
  for (int i = 0; i < kSubjects; ++i)
    for (int j = 0; j < option.num_covariates; ++j) covariates(i, j) = (i * (j + 1)) % 3;
  order_dependent_covariate_first(option, kSubjects, covariates);
  PARA para;
  DATA data;
  data.num_subjects = kSubjects;
  data.disease_status = {0, 1, 0, 1};
  translate_options_to_para_data(option, para, data, covariates);
  check_options(option, para);
  if (para.design().model_family != ModelFamily::kRetrospective &&
      para.design().model_family != ModelFamily::kRetrospectiveWithCovariates &&
      para.design().model_family != ModelFamily::kProspectiveSieve)
    return "model family out of range";
  if (para.design().num_disease_coefs < 1) return "no disease-model coefficient";
  return "";
}

bool parse_long_whole(const std::string& text, long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size() && !text.empty() &&
         !is_blank_char(text[0]);
}

// A plain decimal number: sign, digits, point, exponent; no hexadecimal and no words.
bool plain_decimal(std::string_view token) {
  if (token.empty()) return false;
  bool digit = false;
  for (char c : token) {
    if (c >= '0' && c <= '9') digit = true;
    else if (c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') return false;
  }
  return digit;
}

std::string check_number_parsing(std::string_view token) {
  const std::string text(token);
  int i = 0;
  long l = 0;
  const bool int_ok = parse_int(token, i);
  const bool strtol_ok = parse_long_whole(text, l) && l >= INT_MIN && l <= INT_MAX;
  if (int_ok != strtol_ok) return "parse_int and strtol disagree on '" + text + "'";
  if (int_ok && i != l) return "parse_int and strtol give different values for '" + text + "'";

  double d = 0.0;
  const bool double_ok = parse_double(token, d);
  errno = 0;
  char* end = nullptr;
  const double s = std::strtod(text.c_str(), &end);
  const bool strtod_whole = end == text.c_str() + text.size() && !text.empty();
  if (double_ok && std::isfinite(d)) {
    if (!strtod_whole || std::memcmp(&d, &s, sizeof d) != 0)
      return "parse_double and strtod give different values for '" + text + "'";
  }
  if (plain_decimal(token) && strtod_whole && std::isfinite(s) && !double_ok)
    return "parse_double rejects the number '" + text + "'";
  if (int_ok && (!double_ok || d != static_cast<double>(i)))
    return "an integer is not read as the same double: '" + text + "'";
  return "";
}

std::vector<std::string_view> split_at(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::string settings_for(std::uint8_t choice) {
  static constexpr const char* kArrays[] = {"I", "A", "T", "I"};
  std::string spec = "PHENOTYPE_FILE = phenotype.dat\n";
  spec += (choice & 1) != 0 ? "PROBE_TYPE = SNP\n" : "PROBE_TYPE = CN\n";
  spec += std::string("ARRAY_TYPE = ") + kArrays[(choice >> 1) & 3] + "\n";
  spec += (choice & 8) != 0 ? "DIFFERENTIAL_MEASUREMENT_ERRORS = 1\n"
                            : "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\n";
  switch ((choice >> 4) & 7) {
    case 1: spec += "EFFECT = K x\n"; break;
    case 2: spec += "DEPENDENT = x\nEFFECT = K x\n"; break;
    case 3: spec += "EFFECT = K x K*x\nTEST = K K*x\n"; break;
    case 4: spec += "CATEGORICAL = x\nEFFECT = K x\n"; break;
    default: break;
  }
  return spec;
}

int count_lines_with_tokens(std::string_view text) {
  int count = 0;
  for (std::string_view line : split_at(text, '\n'))
    if (has_token(line)) ++count;
  return count;
}

}  // namespace

std::string fuzz_spec_file(const std::uint8_t* data, std::size_t size) {
  const ScratchDir dir;
  dir.write("p.dat", "status age sex batch\n0 31.5 1 2\n1 40 0 1\n0 52 1 1\n1 47 0 3\n");
  for (const char* name : {"r.dat", "r.info", "c.dat", "c.info"}) dir.write(name, "x 0\n");
  dir.write("spec.txt", as_text(data, size));
  OPTION option;
  set_default_options(option);
  option.spec_file = "spec.txt";
  try {
    read_spec_file(option);
    const std::string broken = check_option_invariants(option);
    if (!broken.empty()) return broken;
    return set_up_model(option);
  } catch (const RunStopped&) {
    return "";
  }
}

std::string fuzz_line_reader(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return "";
  const std::size_t buffer_size = 1 + data[0] % 64;
  const std::string_view file = as_text(data + 1, size - 1);
  const ScratchDir dir;
  dir.write("lines.txt", file);

  // The lines of the file: split at every line break; the text after the last line
  // break is a line only when it is not empty.
  std::vector<std::string_view> expected = split_at(file, '\n');
  if (expected.back().empty()) expected.pop_back();

  LineReader reader(buffer_size);
  if (!reader.open("lines.txt")) return "the file does not open";
  std::string_view line;
  std::size_t count = 0;
  try {
    while (reader.next_line(line)) {
      if (count >= expected.size()) return "more lines than the file holds";
      if (line != expected[count]) return "line " + std::to_string(count + 1) + " differs";
      ++count;
      if (reader.line_number() != static_cast<long>(count)) return "wrong line number";
      const std::vector<std::string_view> tokens = split_tokens(line);
      if (has_token(line) != !tokens.empty()) return "has_token and split_tokens disagree";
      for (std::string_view token : tokens) {
        if (token.empty()) return "empty token";
        for (char c : token)
          if (is_blank_char(c)) return "white space inside a token";
        const std::string broken = check_number_parsing(token);
        if (!broken.empty()) return broken;
      }
    }
  } catch (const RunStopped&) {
    return "";
  }
  if (count != expected.size()) return "fewer lines than the file holds";
  return "";
}

std::string fuzz_file_set(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return "";
  const std::vector<std::string_view> parts = split_at(as_text(data + 1, size - 1), '~');
  static constexpr const char* kFiles[] = {"phenotype.dat", "raw.info", "raw.dat", "CN.info",
                                           "CN.dat"};
  const ScratchDir dir;
  for (std::size_t f = 0; f < 5; ++f)
    dir.write(kFiles[f], f < parts.size() ? parts[f] : std::string_view());
  dir.write("specification.txt", settings_for(data[0]));
  try {
    if (run_quillmark({}) != 0) return "a completed run did not return 0";
  } catch (const RunStopped&) {
    return "";
  }
  const std::string results = dir.read("results.out");
  const int expected = 2 + count_lines_with_tokens(parts.size() > 3 ? parts[3] : std::string_view());
  int lines = 0;
  for (char c : results) lines += c == '\n' ? 1 : 0;
  if (lines != expected || (!results.empty() && results.back() != '\n'))
    return "the results file does not hold one line per probe";
  const std::string table = dir.read("results.out.tsv");
  int rows = 0;
  for (char c : table) rows += c == '\n' ? 1 : 0;
  if (rows != expected - 1 || table.rfind("CHROM\tPOS\tID\t", 0) != 0)
    return "the results table does not hold its header and one row per probe";
  return "";
}
