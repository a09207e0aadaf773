// End-to-end runs for what the program writes beside the results file and standard
// output: --help and --version, the log (also of a stopped and of a killed run), the
// extended results table on the bundled simulated example, chromosome names and
// --no-tsv.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.push_back("");
  return fields;
}

std::vector<std::string> tokens_of(const std::string& line) {
  std::vector<std::string> tokens;
  std::istringstream in(line);
  for (std::string token; in >> token;) tokens.push_back(token);
  return tokens;
}

// The rows of a results table as maps from column name to field; fails the test when a
// row's width differs from the header's.
std::vector<std::map<std::string, std::string>> read_table(const std::string& text,
                                                           std::vector<std::string>* header = nullptr) {
  const std::vector<std::string> lines = lines_of(text);
  std::vector<std::map<std::string, std::string>> rows;
  if (lines.empty()) return rows;
  const std::vector<std::string> names = split(lines[0], '\t');
  if (header != nullptr) *header = names;
  for (std::size_t l = 1; l < lines.size(); ++l) {
    const std::vector<std::string> fields = split(lines[l], '\t');
    EXPECT_EQ(fields.size(), names.size()) << lines[l];
    std::map<std::string, std::string> row;
    for (std::size_t f = 0; f < names.size() && f < fields.size(); ++f) row[names[f]] = fields[f];
    rows.push_back(row);
  }
  return rows;
}

// The version in project(... VERSION ...) of the top CMakeLists.txt.
std::string cmake_version() {
  std::ifstream in(std::string(QUILLMARK_SOURCE_DIR) + "/CMakeLists.txt");
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  const std::string head = "project(quillmark VERSION ";
  const std::size_t at = all.find(head);
  if (at == std::string::npos) return "?";
  const std::size_t begin = at + head.size();
  return all.substr(begin, all.find_first_not_of("0123456789.", begin) - begin);
}

// The part of a log after its header (which ends at the first blank line).
std::string log_body(const std::string& log) {
  const std::size_t end = log.find("\n\n");
  return end == std::string::npos ? "" : log.substr(end + 2);
}

const std::string kStop = "\nQuillmark was stopped due to error(s) listed above.\n\n";

}  // namespace

TEST(ProgramOptions, HelpAndVersion) {
  FixtureDir dir;
  write_standard_inputs(dir);
  const RunOutput version = dir.run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quillmark " + cmake_version() + "\n");
  EXPECT_EQ(cmake_version().find('?'), std::string::npos);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"--spec_file", "./none.txt", "--help"}, {"--quiet", "--help"}}) {
    const RunOutput help = dir.run(args);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: quillmark [--spec_file PATH]", 0), 0u) << help.out;
    for (const char* option : {"--spec_file", "--no-tsv", "--quiet", "--help", "--version"})
      EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(help.err, "");
  }
  EXPECT_FALSE(dir.exists("results.out"));
  EXPECT_FALSE(dir.exists("results.out.log"));
}

TEST(RunLog, HoldsStandardOutputTheSummaryAndTheSetUp) {
  FixtureDir dir;
  write_standard_inputs(dir);
  const RunOutput run = dir.run({"--quiet", "--threads", "3"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string log = mask_times(dir.read("results.out.log"));
  const std::string header = log.substr(0, log.size() - log_body(log).size());
  EXPECT_EQ(header.rfind("quillmark " + cmake_version() + " log\ncommand line: quillmark --quiet --threads 3\n", 0), 0u)
      << header;
  for (const std::string& line :
       {"working directory: " + fs::canonical(dir.path()).string() + "\n",
        "results file: " + fs::canonical(dir.path()).string() + "/results.out\n",
        "results table: " + fs::canonical(dir.path()).string() + "/results.out.tsv\n",
        std::string("threads: 3\n")})
    EXPECT_NE(header.find(line), std::string::npos) << line << header;

  // The body is standard output with standard error (the summary) where it was printed.
  const std::size_t complete = run.out.find("\nQuillmark complete: ");
  ASSERT_NE(complete, std::string::npos);
  EXPECT_EQ(log_body(log), run.out.substr(0, complete) + run.err + run.out.substr(complete));
  EXPECT_EQ(run.err.rfind("0 probes analysed, 3 NA: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("\nGenomic control: lambda_GC = NA (no probe analysed)\n"), std::string::npos);

  // --no-tsv: no table, and standard output stays as it was.
  dir.remove("results.out.tsv");
  const RunOutput no_table = dir.run({"--no-tsv", "--quiet"});
  EXPECT_EQ(no_table.status, 0);
  EXPECT_EQ(no_table.out, run.out);
  EXPECT_FALSE(dir.exists("results.out.tsv"));
  EXPECT_NE(dir.read("results.out.log").find("results table: none (--no-tsv)\n"), std::string::npos);

  // Beside a results file named like the inputs, the table and the log would destroy
  // them: the log is left out with a warning, the table stops the run.
  dir.write("CN.tsv", dir.read("CN.info"));
  dir.write("CN.log", dir.read("raw.info"));
  dir.write("specification.txt", "RESULT_FILE = CN\nCALLED_CN_INFO_FILE = CN.tsv\n"
                                 "RAW_INTENSITY_INFO_FILE = CN.log\n");
  const RunOutput clash = dir.run({"--quiet"});
  EXPECT_EQ(clash.status, 1);
  EXPECT_EQ(clash.err, "Warning: log file 'CN.log' would overwrite the input file 'CN.log'; the run "
                       "goes on without it\n");
  EXPECT_NE(clash.out.find("\nError: Results table 'CN.tsv' would overwrite the input file "
                           "'CN.tsv'.\n" + kStop),
            std::string::npos)
      << clash.out;
  EXPECT_EQ(dir.read("CN.tsv"), dir.read("CN.info"));
  EXPECT_EQ(dir.read("CN.log"), dir.read("raw.info"));
}

TEST(RunLog, StoppedRunKeepsItsError) {
  FixtureDir dir;
  write_standard_inputs(dir);
  dir.write("CN.dat", "2 2 2 2\n2 1 x 3\n0 2 2 2\n");
  const RunOutput run = dir.run();
  ASSERT_EQ(run.status, 1);
  const std::string tail = "\nError: './CN.dat', line 2, field 3: called copy number 'x' of probe "
                           "'rs2' is not an integer.\n" + kStop;
  ASSERT_GE(run.out.size(), tail.size());
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
  EXPECT_EQ(log_body(mask_times(dir.read("results.out.log"))), run.out);
}

TEST(RunLog, KilledRunKeepsEveryLinePrinted) {
  // raw.dat is a FIFO that nobody writes: the run prints its set-up, opens its log and
  // then waits at the first probe until SIGTERM ends it.
  FixtureDir dir;
  write_standard_inputs(dir);
  dir.remove("raw.dat");
  const std::string fifo = dir.path() + "/raw.dat";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string out_path = dir.path() + "/stdout.txt";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execl(QUILLMARK_BIN, QUILLMARK_BIN, static_cast<char*>(nullptr));
    _exit(127);
  }
  // Standard output goes to a file, so only line buffering lets the last set-up line
  // arrive before the run ends.
  const std::string last_line = "3 rows read from './CN.dat'\n";
  bool waiting = false;
  for (int tries = 0; tries < 400 && !waiting; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    waiting = dir.read("stdout.txt").find(last_line) != std::string::npos;
  }
  kill(pid, SIGTERM);
  int status = 0;
  for (int tries = 0; tries < 100 && waitpid(pid, &status, WNOHANG) == 0; ++tries) {
    if (tries == 20) {  // a run that handles SIGTERM itself: let it read an empty file
      const int release = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (release >= 0) close(release);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(waiting) << dir.read("stdout.txt");
  const std::string printed = dir.read("stdout.txt");
  const std::string log = dir.read("results.out.log");
  EXPECT_NE(printed.find(last_line), std::string::npos);
  EXPECT_EQ(log_body(log).substr(0, printed.size()), printed);
}

TEST(ResultsTable, ChromosomeNamesReadAsPlinkNumbersThem) {
  FixtureDir dir;
  write_standard_inputs(dir);
  dir.write("CN.info", "rs1 chrX 1000 0.25 extra\nrs2 XY 2000 0.5\n\nrs3 chrMT 300 0.75\n");
  const RunOutput run = dir.run({"--quiet"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(compare_results(dir.read("results.out"),
                            {{23, 1000, "rs1", 0.25}, {25, 2000, "rs2", 0.5}, {26, 300, "rs3", 0.75}}),
            "");
  const auto rows = read_table(dir.read("results.out.tsv"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].at("CHROM"), "23");
  EXPECT_EQ(rows[2].at("CHROM"), "26");
  // One probe: the called-CN data file keeps the line of rs1 alone.
  const std::string calls = dir.read("CN.dat");
  dir.write("CN.dat", calls.substr(0, calls.find('\n') + 1));
  for (const std::string chromosome : {"chrY", "Y", "CHRY", "chr24", "y"}) {
    dir.write("CN.info", "rs1 " + chromosome + " 1000 0.25\n");
    ASSERT_EQ(dir.run({"--quiet"}).status, 0) << chromosome;
    EXPECT_EQ(compare_results(dir.read("results.out"), {{24, 1000, "rs1", 0.25}}), "") << chromosome;
  }
  dir.write("CN.info", "rs1 chrZ 1000 0.25\n");
  EXPECT_EQ(dir.run({"--quiet"}).status, 1);
}

TEST(ResultsTable, SimulatedExampleAgreesWithResultsFileAndTruth) {
  // The bundled example was simulated with a log odds ratio of -ln 2 per copy at every
  // second probe and 0 at the others.
  FixtureDir dir;
  for (const char* file : {"specification.txt", "phenotype.dat", "raw.dat", "raw.info", "CN.dat",
                           "CN.info", "truth.txt"}) {
    std::ifstream in(std::string(QUILLMARK_SOURCE_DIR) + "/examples/" + file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    dir.write(file, text.str());
  }
  const RunOutput run = dir.run({"--spec_file", "specification.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::string> header;
  const auto rows = read_table(dir.read("results.out.tsv"), &header);
  EXPECT_EQ(header, (std::vector<std::string>{
                        "CHROM", "POS", "ID", "PFB", "N_CASES", "N_CONTROLS", "BETA", "SE", "OR",
                        "OR_L95", "OR_U95", "CHISQ", "DF", "P", "LOG10P", "OUTCOME", "PATH",
                        "ITER", "LOGLIK", "RESCUE_OUTCOME"}));
  const std::vector<std::string> info = lines_of(dir.read("CN.info"));
  const std::vector<std::string> results = lines_of(dir.read("results.out"));
  std::vector<std::vector<std::string>> truth;
  for (const std::string& line : lines_of(dir.read("truth.txt")))
    if (!line.empty() && line[0] != '#' && line.rfind("name", 0) != 0) truth.push_back(tokens_of(line));
  ASSERT_EQ(rows.size(), info.size());
  ASSERT_EQ(results.size(), info.size() + 2);
  ASSERT_EQ(truth.size(), info.size());
  int analysed = 0;
  int associated = 0;
  for (std::size_t p = 0; p < rows.size(); ++p) {
    const auto& row = rows[p];
    const std::vector<std::string> probe = tokens_of(info[p]);
    const std::vector<std::string> line = tokens_of(results[p + 2]);
    SCOPED_TRACE(probe[0]);
    EXPECT_EQ(row.at("ID"), probe[0]);
    EXPECT_EQ(row.at("CHROM"), probe[1]);
    EXPECT_EQ(row.at("POS"), probe[2]);
    EXPECT_EQ(std::stoi(row.at("N_CASES")) + std::stoi(row.at("N_CONTROLS")), 600);
    ASSERT_EQ(truth[p][0], probe[0]);
    if (line[4] == "NA") {
      EXPECT_NE(row.at("OUTCOME"), "OK");
      for (const char* column : {"BETA", "SE", "OR", "CHISQ", "DF", "P", "LOG10P"})
        EXPECT_EQ(row.at(column), "NA") << column;
      continue;
    }
    ++analysed;
    EXPECT_EQ(row.at("OUTCOME"), "OK");
    EXPECT_EQ(row.at("CHISQ"), line[4]);  // the same statistic, to the same 4 decimals
    EXPECT_EQ(row.at("DF"), "1");
    const double p_value = std::stod(row.at("P"));
    EXPECT_NEAR(p_value, std::stod(line[5]), 0.005 * p_value);  // shown there to 3 digits
    EXPECT_NEAR(std::stod(row.at("LOG10P")), -std::log10(p_value), 1e-5 * (1.0 - std::log10(p_value)));
    const double beta = std::stod(row.at("BETA"));
    const double se = std::stod(row.at("SE"));
    EXPECT_NEAR(std::stod(row.at("CHISQ")), beta * beta / (se * se), 1e-3 * std::stod(row.at("CHISQ")) + 1e-4);
    EXPECT_NEAR(std::stod(row.at("OR")), std::exp(beta), 1e-5 * std::exp(beta));
    EXPECT_NEAR(std::stod(row.at("OR_L95")), std::exp(beta - 1.959964 * se), 1e-5);
    EXPECT_NEAR(std::stod(row.at("OR_U95")), std::exp(beta + 1.959964 * se), 1e-5 * std::exp(beta + 2 * se));
    const double true_log_or = std::stod(truth[p][4]);
    EXPECT_LT(std::fabs(beta - true_log_or), 3.0 * se) << beta << " " << se << " " << true_log_or;
    if (truth[p][6] == "associated") ++associated;
    EXPECT_NE(row.at("PATH"), "NA");
    EXPECT_GT(std::stoi(row.at("ITER")), 0);
    EXPECT_TRUE(std::isfinite(std::stod(row.at("LOGLIK"))));
  }
  EXPECT_GE(analysed, 30);
  EXPECT_GE(associated, 15);
  // The summary counts the same probes.
  EXPECT_EQ(run.err.rfind(std::to_string(analysed) + " probes analysed, " +
                              std::to_string(rows.size() - analysed) + " NA",
                          0),
            0u)
      << run.err;
}

TEST(ResultsTable, BesideAResultsFileOfAnyPathLength) {
  FixtureDir dir;
  write_standard_inputs(dir);
  const std::string results = long_relative_path(300);
  dir.write(results + ".keep", "");  // its folders
  dir.write("specification.txt", "RESULT_FILE = " + results + "\n");
  const RunOutput run = dir.run({"--quiet"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("        -- Results outputed to '" + results + "'\n"), std::string::npos);
  EXPECT_EQ(compare_results(dir.read(results), standard_probes()), "");
  EXPECT_EQ(read_table(dir.read(results + ".tsv")).size(), 3u);
  EXPECT_NE(dir.read(results + ".log").find("Quillmark complete"), std::string::npos);
}

TEST(ResultsTable, OutcomeNamesTheStartThatTurnedTheProbeDown) {
  struct Case {
    const char* what;
    std::string simulator_options;
    bool swap_one_and_two_copy_calls;  // at the second probe
    std::vector<std::string> outcomes;
  };
  const std::vector<Case> cases = {
      // About 5 of 400 subjects carry one copy: too few to start a SNP probe.
      {"SNP probes with few one-copy subjects", "--probe-type SNP --subjects 400 --probes 2 --freq0 0.05 --freq1 0.012",
       false, {"START_FEW_ONE_COPY", "START_FEW_ONE_COPY"}},
      // Calls of one and two copies swapped: the one-copy cluster starts above the
      // two-copy cluster.
      {"CN probe with swapped calls", "--probe-type CN --subjects 300 --probes 3 --freq1 0.15", true,
       {"OK", "START_CLUSTER", "OK"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FixtureDir dir;
    ASSERT_EQ(std::system(("'" + std::string(QUILLMARK_SIM_BIN) + "' --out '" + dir.path() + "' " +
                           c.simulator_options + " --seed 3 > /dev/null")
                              .c_str()),
              0);
    if (c.swap_one_and_two_copy_calls) {
      std::vector<std::string> calls = lines_of(dir.read("CN.dat"));
      std::string swapped;
      for (const std::string& token : tokens_of(calls[1]))
        swapped += (token == "1" ? "2" : token == "2" ? "1" : token) + " ";
      calls[1] = swapped;
      std::string text;
      for (const std::string& line : calls) text += line + "\n";
      dir.write("CN.dat", text);
    }
    const RunOutput run = dir.run({"--quiet", "--spec_file", "specification.txt"});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto rows = read_table(dir.read("results.out.tsv"));
    ASSERT_EQ(rows.size(), c.outcomes.size());
    for (std::size_t p = 0; p < rows.size(); ++p) {
      EXPECT_EQ(rows[p].at("OUTCOME"), c.outcomes[p]) << p;
      if (c.outcomes[p] == "OK") continue;
      // No fit was run: no path, iterations or log-likelihood; the subjects the start kept.
      for (const char* column : {"PATH", "ITER", "LOGLIK", "BETA", "P", "LOG10P"})
        EXPECT_EQ(rows[p].at(column), "NA") << column;
      EXPECT_GT(std::stoi(rows[p].at("N_CASES")), 0);
    }
    EXPECT_NE(run.err.find(" " + c.outcomes[1]), std::string::npos) << run.err;
  }
}

TEST(ResultsTable, EachTestedTermHasItsColumns) {
  FixtureDir dir;
  ASSERT_EQ(std::system(("'" + std::string(QUILLMARK_SIM_BIN) + "' --out '" + dir.path() +
                         "' --probe-type SNP --subjects 500 --probes 3 --effect-L --seed 4 > /dev/null")
                            .c_str()),
            0);
  const RunOutput run = dir.run({"--quiet", "--spec_file", "specification.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::string> header;
  const auto rows = read_table(dir.read("results.out.tsv"), &header);
  EXPECT_EQ(header, (std::vector<std::string>{
                        "CHROM", "POS", "ID", "PFB", "N_CASES", "N_CONTROLS", "BETA_K", "SE_K",
                        "OR_K", "OR_L95_K", "OR_U95_K", "BETA_L", "SE_L", "OR_L", "OR_L95_L",
                        "OR_U95_L", "CHISQ", "DF", "P", "LOG10P", "OUTCOME", "PATH", "ITER",
                        "LOGLIK", "RESCUE_OUTCOME"}));
  ASSERT_EQ(rows.size(), 3u);
  int analysed = 0;
  for (const auto& row : rows) {
    if (row.at("OUTCOME") != "OK") continue;
    ++analysed;
    EXPECT_EQ(row.at("DF"), "2");
    // On 2 degrees of freedom the tail is e^(-w/2).
    const double w = std::stod(row.at("CHISQ"));
    EXPECT_NEAR(std::stod(row.at("P")), std::exp(-w / 2.0), 5e-5 * std::exp(-w / 2.0) + 1e-9);  // w shown to 4 decimals
    EXPECT_NEAR(std::stod(row.at("LOG10P")), w / 2.0 / std::log(10.0), 1e-4);
    for (const char* term : {"K", "L"})
      EXPECT_NEAR(std::stod(row.at(std::string("OR_") + term)),
                  std::exp(std::stod(row.at(std::string("BETA_") + term))), 1e-5)
          << term;
  }
  EXPECT_GE(analysed, 2);
}
