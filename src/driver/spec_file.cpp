#include "driver/spec_file.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "driver/line_reader.h"
#include "driver/stop.h"

namespace {

using Tokens = std::vector<std::string>;

// Keyword lines seen so far that constrain the order of later lines.
struct SpecState {
  bool phenotype_file_seen = false;
  bool names_used = false;  // a CATEGORICAL, DEPENDENT, EFFECT or TEST line was taken
};

[[noreturn]] void stop_with(const char* message) {
  std::printf("%s", message);
  kill_Quillmark();
}

bool file_opens(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

void check_exists(const std::string& path) {
  if (!file_opens(path)) {
    std::printf("\nError: '%s' does not exist.\n", path.c_str());
    kill_Quillmark();
  }
}

// Position of `name` among the first `count` entries of the name table, or -1.
int find_name(const OPTION& option, std::string_view name, int count) {
  for (int j = 0; j < count; ++j) {
    if (option.variable_names[static_cast<std::size_t>(j)] == name) return j;
  }
  return -1;
}

int& effect(OPTION& option, int i, int j) {
  return option.effect_table[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
}

int num_names(const OPTION& option) { return option.num_covariates + option.num_genetic_names; }

// An input file named by one of the path keywords: it must exist when it is read.
void take_input_path(const Tokens& t, int& given, std::string& field, const char* report) {
  check_exists(t[2]);
  given = 1;
  field = t[2];
  std::printf(report, field.c_str());
}

// A word keyword: the value must be one of `accepted`, else its message is written as
// a line and the run stops.
void check_word(const Tokens& t, const std::vector<std::string_view>& accepted, const char* error) {
  for (std::string_view word : accepted) {
    if (t[2] == word) return;
  }
  std::printf("%s\n", error);
  kill_Quillmark();
}

void take_phenotype_file(OPTION& option, const Tokens& t, SpecState& state) {
  if (state.phenotype_file_seen) stop_with("\nError: PHENOTYPE_FILE is given more than once.\n");
  if (state.names_used) {
    stop_with(
        "\nError: PHENOTYPE_FILE must come before CATEGORICAL, DEPENDENT, EFFECT and TEST.\n");
  }
  const std::string& path = t[2];
  LineReader reader;
  if (!reader.open(path)) {
    std::printf("\nError: '%s' does not exist.\n", path.c_str());
    kill_Quillmark();
  }
  state.phenotype_file_seen = true;
  option.phenotype_file_given = 1;
  option.phenotype_file = path;
  std::printf("        -- Phenotypes read from '%s'\n", path.c_str());

  // The header is the first line that holds a token; its first token names the disease
  // column and the rest are the covariate names.
  std::string_view line;
  const bool has_line = reader.next_nonblank_line(line);
  const std::vector<std::string_view> tokens =
      has_line ? split_tokens(line) : std::vector<std::string_view>{};
  if (tokens.empty() || phenotype_header_missing(tokens[0])) {
    std::printf("\nError: Header line is missing in '%s'.\n", path.c_str());
    kill_Quillmark();
  }
  const int num_covariates = static_cast<int>(tokens.size()) - 1;
  if (num_covariates + 1 > kMaxVariables) {
    std::printf(
        "\nError: '%s' names %d covariates; at most %d are allowed (%d variables with the "
        "genetic variables).\n",
        path.c_str(), num_covariates, kMaxVariables - 1, kMaxVariables);
    kill_Quillmark();
  }
  for (int j = 0; j < num_covariates; ++j) {
    const std::string name(tokens[static_cast<std::size_t>(j) + 1]);
    if (name == "K" || name == "L") {
      std::printf("\nError: Column name '%s' in '%s' is reserved for a genetic variable.\n",
                  name.c_str(), path.c_str());
      kill_Quillmark();
    }
    if (find_name(option, name, j) >= 0) {
      std::printf("\nError: Column name '%s' appears more than once in '%s'.\n", name.c_str(),
                  path.c_str());
      kill_Quillmark();
    }
    option.variable_names[static_cast<std::size_t>(j)] = name;
  }
  option.num_covariates = num_covariates;
  option.num_genetic_names = 1;
  for (int j = num_covariates; j < kMaxVariables; ++j)
    option.variable_names[static_cast<std::size_t>(j)].clear();
  option.variable_names[static_cast<std::size_t>(num_covariates)].assign(1, 'K');
  for (auto& row : option.effect_table) row.fill(0);
  effect(option, num_covariates, num_covariates) = 2;
}

// CATEGORICAL and DEPENDENT: each value must be a covariate name.
template <typename Mark>
void take_covariate_list(OPTION& option, const Tokens& t, const char* head, const char* error,
                         Mark mark) {
  std::printf("%s", head);
  for (std::size_t v = 2; v < t.size(); ++v) {
    const int j = find_name(option, t[v], option.num_covariates);
    if (j < 0) {
      std::printf(error, option.phenotype_file.c_str());
      kill_Quillmark();
    }
    mark(j);
    std::printf(" '%s'", t[v].c_str());
  }
}

// An EFFECT name: a known variable, or K or L, which are added to the genetic variables.
int resolve_effect_name(OPTION& option, const std::string& name) {
  int j = find_name(option, name, num_names(option));
  if (j >= 0) return j;
  if (name != "K" && name != "L") {
    std::printf("\nError: Unknown effect '%s' in EFFECT\n", name.c_str());
    kill_Quillmark();
  }
  j = num_names(option);
  if (j >= kMaxVariables) {
    std::printf(
        "\nError: No room for '%s' in EFFECT: at most %d variables, covariates and genetic "
        "variables together.\n",
        name.c_str(), kMaxVariables);
    kill_Quillmark();
  }
  option.variable_names[static_cast<std::size_t>(j)] = name;
  ++option.num_genetic_names;
  return j;
}

void take_effect(OPTION& option, const Tokens& t) {
  for (auto& row : option.effect_table) row.fill(0);
  std::printf("        -- Disease model includes effects:");
  for (std::size_t v = 2; v < t.size(); ++v) {
    const std::string& term = t[v];
    const std::size_t star = term.find('*');
    if (star == std::string::npos) {
      const int j = resolve_effect_name(option, term);
      effect(option, j, j) = 1;
    } else {
      const int i = resolve_effect_name(option, term.substr(0, star));
      const int j = resolve_effect_name(option, term.substr(star + 1));
      effect(option, i, j) = 1;
      effect(option, j, i) = 1;
    }
    std::printf(" '%s'", term.c_str());
  }
  effect(option, option.num_covariates, option.num_covariates) = 2;
  option.effect_given = 1;
  std::printf("\n");
}

int resolve_test_name(const OPTION& option, const std::string& name) {
  const int j = find_name(option, name, num_names(option));
  if (j < 0) {
    std::printf("\nError: Unknown effect '%s' in TEST\n", name.c_str());
    kill_Quillmark();
  }
  return j;
}

void take_test(OPTION& option, const Tokens& t) {
  std::printf("        -- Joint testing of effects:");
  for (std::size_t v = 2; v < t.size(); ++v) {
    const std::string& term = t[v];
    const std::size_t star = term.find('*');
    int i = 0;
    int j = 0;
    if (star == std::string::npos) {
      i = j = resolve_test_name(option, term);
    } else {
      i = resolve_test_name(option, term.substr(0, star));
      j = resolve_test_name(option, term.substr(star + 1));
    }
    if (effect(option, i, j) == 0) {
      std::printf("\nError: '%s' in TEST is not in EFFECT.\n", term.c_str());
      kill_Quillmark();
    }
    effect(option, i, j) = 2;
    effect(option, j, i) = 2;
    std::printf(" '%s'", term.c_str());
  }
  option.test_given = 1;
  std::printf("\n");
}

void take_line(OPTION& option, const Tokens& t, SpecState& state) {
  const std::string& key = t[0];
  if (key == "PHENOTYPE_FILE") {
    take_phenotype_file(option, t, state);
  } else if (key == "RAW_INTENSITY_DAT_FILE") {
    take_input_path(t, option.raw_intensity_dat_file_given, option.raw_intensity_dat_file,
                    "        -- Raw intensities read from '%s'\n");
  } else if (key == "RAW_INTENSITY_INFO_FILE") {
    take_input_path(t, option.raw_intensity_info_file_given, option.raw_intensity_info_file,
                    "        -- Information on raw intensities read from '%s'\n");
  } else if (key == "CALLED_CN_DAT_FILE") {
    take_input_path(t, option.called_cn_dat_file_given, option.called_cn_dat_file,
                    "        -- Called CNs read from '%s'\n");
  } else if (key == "CALLED_CN_INFO_FILE") {
    take_input_path(t, option.called_cn_info_file_given, option.called_cn_info_file,
                    "        -- Information on called CNs read from '%s'\n");
  } else if (key == "RESULT_FILE") {
    option.result_file_given = 1;
    option.result_file = t[2];
    std::printf("        -- Results outputed to '%s'\n", option.result_file.c_str());
  } else if (key == "DESIGN") {
    check_word(t, {"case-control"},
               "\nError: DESIGN must be 'case-control' for the current version.");
    option.design_given = 1;
    option.design = t[2];
    std::printf("        -- Study design is '%s'\n", option.design.c_str());
  } else if (key == "ARRAY_TYPE") {
    check_word(t, {"I", "A", "T"}, "\nError: ARRAY_TYPE must be 'I', 'A' or 'T'.");
    option.array_type_given = 1;
    option.array_type = array_type_of(t[2][0]);
    std::printf("        -- Raw intensities from array '%c'\n", letter_of(option.array_type));
  } else if (key == "PROBE_TYPE") {
    check_word(t, {"SNP", "CN"}, "\nError: PROBE_TYPE must be 'SNP' or 'CN'.");
    option.probe_type_given = 1;
    option.probe_type = t[2] == "CN" ? ProbeType::kCn : ProbeType::kSnp;
    std::printf("        -- Request analysis at probe '%s'\n", probe_type_name(option.probe_type));
  } else if (key == "EFFECT_MODE") {
    check_word(t, {"additive"}, "\nError: EFFECT_MODE must be 'additive' for this version.");
    option.effect_mode_given = 1;
    option.effect_mode = t[2];
    std::printf("        -- Effect mode set to be '%s'\n", option.effect_mode.c_str());
  } else if (key == "DIFFERENTIAL_MEASUREMENT_ERRORS") {
    check_word(t, {"1", "0"}, "\nError: DIFFERENTIAL_MEASUREMENT_ERRORS must be '1' or '0'.");
    option.differential_measurement_errors_given = 1;
    option.differential_measurement_errors = t[2] == "1" ? 1 : 0;
    std::printf("        -- DIFFERENTIAL_MEASUREMENT_ERRORS set to be '%s'\n", t[2].c_str());
  } else if (key == "CATEGORICAL") {
    state.names_used = true;
    option.is_categorical.fill(0);
    take_covariate_list(
        option, t, "        -- Categorical covariates:",
        "\nError: CATEGORICAL must take values among the column names of '%s'.\n",
        [&option](int j) { option.is_categorical[static_cast<std::size_t>(j)] = 1; });
    option.categorical_given = 1;
    std::printf("\n");
  } else if (key == "DEPENDENT") {
    state.names_used = true;
    option.dependence.fill('I');
    take_covariate_list(option, t, "        -- Covariates correlated with genetic effects:",
                        "\nError: DEPENDENT must take values among the column names of '%s'.\n",
                        [&option](int j) { option.dependence[static_cast<std::size_t>(j)] = 'D'; });
    option.dependent_given = 1;
    std::printf("\n");
  } else if (key == "EFFECT") {
    state.names_used = true;
    take_effect(option, t);
  } else if (key == "TEST") {
    state.names_used = true;
    take_test(option, t);
  } else {
    std::printf("\nError: Unknown KEYWORD '%s'.\n", key.c_str());
    kill_Quillmark();
  }
}

}  // namespace

bool phenotype_header_missing(std::string_view first_token) {
  // Only a finite number marks a data line; the missing-value words are names here.
  double value = 0.0;
  std::string_view digits = first_token;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty() || !((digits[0] >= '0' && digits[0] <= '9') || digits[0] == '.')) return false;
  return parse_double(first_token, value) && std::isfinite(value);
}

void read_spec_file(OPTION& option) {
  LineReader reader;
  if (!reader.open(option.spec_file)) {
    std::printf("\nError: '%s' does not exist.\n", option.spec_file.c_str());
    kill_Quillmark();
  }
  std::vector<Tokens> lines;
  std::string_view line;
  while (reader.next_line(line)) {
    const std::vector<std::string_view> tokens = split_tokens(line);
    if (!tokens.empty()) lines.emplace_back(tokens.begin(), tokens.end());
  }

  // Every keyword needs a separator and at least one value; this is checked before any
  // setting is taken.
  for (const Tokens& t : lines) {
    if (t.size() < 3) {
      std::printf("\nError: '%s' cannot be empty.\n", t[0].c_str());
      kill_Quillmark();
    }
  }

  SpecState state;
  for (const Tokens& t : lines) take_line(option, t, state);

  const int n = num_names(option);
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      const int value = effect(option, i, j);
      if (value == 1 || value == 2) {
        effect(option, j, i) = value;
      } else {
        effect(option, i, j) = 0;
        effect(option, j, i) = 0;
      }
    }
  }

  if (option.array_type == ArrayType::kTotalOnly && option.probe_type == ProbeType::kSnp) {
    std::printf("\nError: Probe type 'SNP' not allowed when 'ARRAY_TYPE = T'");
    kill_Quillmark();
  }
  if (option.probe_type == ProbeType::kCn && find_name(option, "L", n) >= option.num_covariates) {
    std::printf("\nError: Effect 'L' not allowed when 'PROBE_TYPE = CN'\n");
    kill_Quillmark();
  }
}
