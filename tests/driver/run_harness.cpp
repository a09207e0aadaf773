#include "run_harness.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool all_digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// "  %9.4lf  %.2e" of a finite statistic and p-value.
bool is_statistic_and_p_value(const std::string& rest) {
  if (rest.size() < 2 + 9 + 2 + 8 || rest.compare(0, 2, "  ") != 0) return false;
  const std::string p = rest.substr(rest.size() - 8);  // d.dde+dd
  if (!all_digits(p.substr(0, 1)) || p[1] != '.' || !all_digits(p.substr(2, 2)) || p[4] != 'e' ||
      (p[5] != '+' && p[5] != '-') || !all_digits(p.substr(6))) {
    return false;
  }
  if (rest.compare(rest.size() - 10, 2, "  ") != 0) return false;
  std::string statistic = rest.substr(2, rest.size() - 12);
  statistic.erase(0, statistic.find_first_not_of(' '));
  if (!statistic.empty() && statistic[0] == '-') statistic.erase(0, 1);
  const std::size_t point = statistic.find('.');
  return point != std::string::npos && all_digits(statistic.substr(0, point)) &&
         statistic.size() == point + 5 && all_digits(statistic.substr(point + 1));
}

}  // namespace

FixtureDir::FixtureDir() {
  std::string pattern = (fs::temp_directory_path() / "quillmark-driver-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

FixtureDir::~FixtureDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void FixtureDir::write(const std::string& name, const std::string& text) const {
  const fs::path file = fs::path(path_) / name;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << text;
}

bool FixtureDir::exists(const std::string& name) const {
  return fs::exists(fs::path(path_) / name);
}

std::string FixtureDir::read(const std::string& name) const {
  return slurp(fs::path(path_) / name);
}

void FixtureDir::remove(const std::string& name) const { fs::remove(fs::path(path_) / name); }

RunOutput FixtureDir::run(const std::vector<std::string>& args) const {
  const fs::path out_file = fs::path(path_) / ".stdout";
  const fs::path err_file = fs::path(path_) / ".stderr";
  std::string command = "cd " + shell_quoted(path_) + " && " + shell_quoted(QUILLMARK_BIN);
  for (const std::string& arg : args) command += " " + shell_quoted(arg);
  command += " > " + shell_quoted(out_file.string()) + " 2> " + shell_quoted(err_file.string());
  const int raw = std::system(command.c_str());
  RunOutput output;
  output.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  output.out = mask_times(slurp(out_file));
  output.err = slurp(err_file);
  fs::remove(out_file);
  fs::remove(err_file);
  return output;
}

std::string mask_times(std::string out) {
  for (const std::string marker : {"Quillmark started: ", "Quillmark complete: "}) {
    const std::size_t at = out.find(marker);
    if (at != std::string::npos && at + marker.size() + 24 <= out.size()) {
      out.replace(at + marker.size(), 24, "<time>");
    }
  }
  return out;
}

std::string run_head() {
  return "\n"
         "@-------------------------------------------------@\n"
         "|   Quillmark    |   v1.0   |     01/Jun/2012     |\n"
         "---------------------------------------------------\n"
         "|          For documentation & citation           |\n"
         "|  See README.md of the Quillmark distribution    |\n"
         "@-------------------------------------------------@\n"
         "\n"
         "\nQuillmark started: <time>\n\n"
         "\nOptions in effect:\n";
}

std::string compare_results(const std::string& results, const std::vector<ExpectedProbe>& probes) {
  std::istringstream in(results);
  std::string line;
  const char* headers[] = {"Chr   Position     CN/SNP-id      pfb   Test-Stat   p-Value ",
                           "---  ---------  ---------------  -----  ---------  ---------"};
  for (const char* header : headers) {
    if (!std::getline(in, line) || line != header) return "header line differs: '" + line + "'";
  }
  for (const ExpectedProbe& probe : probes) {
    if (!std::getline(in, line)) return "missing line of probe " + probe.name;
    char prefix[256];
    std::snprintf(prefix, sizeof prefix, "%3d  %9d  %-15s  %5.3f", probe.chromosome, probe.position,
                  probe.name.c_str(), probe.pfb);
    if (line.rfind(prefix, 0) != 0)
      return "line differs: '" + line + "', expected prefix '" + prefix + "'";
    const std::string rest = line.substr(std::string(prefix).size());
    if (rest != "     NA        NA    " && !is_statistic_and_p_value(rest)) {
      return "statistic and p-value malformed: '" + line + "'";
    }
  }
  if (std::getline(in, line)) return "extra line: '" + line + "'";
  if (!results.empty() && results.back() != '\n') return "last line not terminated";
  return "";
}

int count_probe_lines(const std::string& results) {
  int lines = 0;
  for (char c : results) lines += c == '\n' ? 1 : 0;
  return lines - 2;
}

void write_standard_inputs(const FixtureDir& dir) {
  dir.write("specification.txt", "");
  dir.write("phenotype.dat",
            "status age sex\n"
            "0 31.5 1\n"
            "1 45 2\n"
            "\n"
            "0 52 1\n"
            "1 38 2\n");
  dir.write("CN.info",
            "rs1 1 1000 0.25 extra\n"
            "rs2 1 2000 0.5\n"
            "\n"
            "rs3 22 300 0.75\n");
  dir.write("CN.dat",
            "2 2 2 2\n"
            "2 1 2 3 9\n"
            "0 2 2 2\n");
  dir.write("raw.info",
            "ctrl\n"
            "rs1 1 1000\n"
            "rs1 1 1000\n"
            "\n"
            "rs2 1 2000\n"
            "rs2 1 2000\n"
            "rs3 22 300\n"
            "rs3 22 300\n");
  dir.write("raw.dat",
            "ctrl-row not numeric at all\n"
            "0.01 -0.02 0.03 0.00\n"
            "0.02 0.51 0.98 0.49\n"
            "-0.4 0.02 NA 0.01 7\n"
            "0.5 0.0 nan 1.0\n"
            "-inf 0.1 0.0 0.2\n"
            "0.0 1.0 0.5 0.5\n");
}

std::vector<ExpectedProbe> standard_probes() {
  return {{1, 1000, "rs1", 0.25}, {1, 2000, "rs2", 0.5}, {22, 300, "rs3", 0.75}};
}

std::string long_relative_path(std::size_t length) {
  std::string path = ".";
  while (path.size() + 1 + 100 < length) path += "/" + std::string(99, 'd');
  path += "/";
  path += std::string(length - path.size(), 'f');
  return path;
}
