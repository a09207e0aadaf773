// Split and continued runs end to end: --chunk I/N and --out, --resume after a run cut
// short, and data files that do not line up with their information files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_harness.h"

namespace {

const std::string kStop = "\nQuillmark was stopped due to error(s) listed above.\n\n";

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The bundled example (40 CN probes of 600 subjects) in `dir`.
void write_example_inputs(const FixtureDir& dir) {
  const std::filesystem::path examples = std::filesystem::path(QUILLMARK_SOURCE_DIR) / "examples";
  for (const char* name :
       {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "specification.txt"}) {
    std::filesystem::copy_file(examples / name, std::filesystem::path(dir.path()) / name);
  }
}

// The results file of a complete run of `dir` with `args`, or "" after a failed run.
std::string whole_run(const FixtureDir& dir, const std::vector<std::string>& args) {
  const RunOutput run = dir.run(args);
  EXPECT_EQ(run.status, 0) << run.out;
  return run.status == 0 ? dir.read("results.out") : "";
}

// The lines after the two header lines.
std::string probe_lines(const std::string& results) {
  std::size_t at = 0;
  for (int line = 0; line < 2 && at != std::string::npos; ++line) {
    at = results.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  return at == std::string::npos ? "" : results.substr(at);
}

// Byte offset just after the `lines`-th line break of `text`.
std::size_t after_line(const std::string& text, int lines) {
  std::size_t at = 0;
  for (int line = 0; line < lines; ++line) at = text.find('\n', at) + 1;
  return at;
}

struct InputSet {
  const char* what;
  void (*write)(const FixtureDir& dir);
  std::vector<std::string> args;
};

void write_unnamed_raw_rows(const FixtureDir& dir) {
  // No raw.info row names the first probe: the intensities are read from the first line.
  write_standard_inputs(dir);
  dir.write("raw.info", "a\nb\nc\nd\ne\nf\n");
  dir.write("raw.dat",
            "0.01 -0.02 0.03 0.00\n0.02 0.51 0.98 0.49\n0.1 0.2 0.3 0.4\n"
            "0.5 0.0 0.5 1.0\n0.1 0.1 0.0 0.2\n0.0 1.0 0.5 0.5\n");
}

const std::vector<InputSet>& input_sets() {
  static const std::vector<InputSet> sets = {
      {"SNP probes after a row of another probe", write_standard_inputs, {}},
      {"SNP probes without named rows", write_unnamed_raw_rows, {}},
      {"the bundled CN example", write_example_inputs, {"--spec_file", "specification.txt"}},
  };
  return sets;
}

}  // namespace

TEST(ChunkedRun, ChunksConcatenatedEqualTheWholeRun) {
  for (const InputSet& set : input_sets()) {
    FixtureDir dir;
    set.write(dir);
    const std::string whole = whole_run(dir, set.args);
    const int probes = count_probe_lines(whole);
    ASSERT_GT(probes, 0) << set.what;
    // 5 chunks of 3 probes leave two chunks empty; 7 chunks of 40 mix sizes 5 and 6.
    for (int chunks : {1, 2, 5, 7}) {
      std::string merged;
      int largest = 0;
      int smallest = probes;
      for (int i = 1; i <= chunks; ++i) {
        const std::string out = "chunk" + std::to_string(i) + ".out";
        std::vector<std::string> args = set.args;
        args.insert(args.end(),
                    {"--chunk", std::to_string(i) + "/" + std::to_string(chunks), "--out", out});
        const RunOutput run = dir.run(args);
        ASSERT_EQ(run.status, 0) << set.what << " " << i << "/" << chunks << "\n" << run.out;
        const std::string results = dir.read(out);
        merged += i == 1 ? results : probe_lines(results);
        largest = std::max(largest, count_probe_lines(results));
        smallest = std::min(smallest, count_probe_lines(results));
        EXPECT_NE(run.out.find("Chunk " + std::to_string(i) + " of " + std::to_string(chunks) +
                               ": " + std::to_string(count_probe_lines(results)) + " probes"),
                  std::string::npos)
            << run.out;
      }
      EXPECT_EQ(merged, whole) << set.what << ", " << chunks << " chunks";
      EXPECT_LE(largest - smallest, 1) << set.what << ", " << chunks << " chunks";
    }
  }
}

TEST(ChunkedRun, OutNamesTheResultsFile) {
  FixtureDir dir;
  write_standard_inputs(dir);
  dir.write("specification.txt", "RESULT_FILE = ./named.out\n");
  const RunOutput run = dir.run({"--out", "./other.out"});
  EXPECT_EQ(run.status, 0) << run.out;
  const std::string echo =
      "        -- '--out' Results outputed to './other.out', in place of RESULT_FILE\n";
  EXPECT_EQ(run.out.rfind(run_head() + echo, 0), 0u) << run.out;
  // The specification file's RESULT_FILE is echoed, then replaced; no default is in effect.
  EXPECT_NE(run.out.find("        -- Results outputed to './named.out'\n"), std::string::npos);
  EXPECT_EQ(run.out.find("'./results.out'"), std::string::npos) << run.out;
  EXPECT_EQ(compare_results(dir.read("other.out"), standard_probes()), "");
  EXPECT_FALSE(dir.exists("named.out"));
  EXPECT_FALSE(dir.exists("results.out"));
}

TEST(ChunkedRun, CommandLineErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string echo_and_error;  // the output after the head, without the stop message
  };
  const std::string needs =
      "        -- '--chunk' \nError: Option '--chunk' needs I/N, chunk I of N chunks with 1 <= I "
      "<= N";
  std::vector<Case> cases = {
      {{"--chunk"}, needs + ".\n"},
      {{"--out"}, "        -- '--out' \nError: Option '--out' needs a path.\n"},
      {{"--out", ""}, "        -- '--out' \nError: Option '--out' needs a path.\n"},
  };
  for (const char* bad : {"0/3", "4/3", "3", "1/0", "-1/3", "+1/3", "1/3x", "a/b", "1/", "/3", "",
                          "1/99999999999"}) {
    cases.push_back({{"--chunk", bad}, needs + ", not '" + bad + "'.\n"});
  }
  for (const Case& c : cases) {
    FixtureDir dir;
    write_standard_inputs(dir);
    const RunOutput run = dir.run(c.args);
    EXPECT_EQ(run.status, 1) << c.args[0];
    EXPECT_EQ(run.out, run_head() + c.echo_and_error + kStop);
    EXPECT_FALSE(dir.exists("results.out"));
  }
  // --out is checked against the inputs like RESULT_FILE.
  FixtureDir dir;
  write_standard_inputs(dir);
  const RunOutput run = dir.run({"--out", "CN.dat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(ends_with(
      run.out, "\nError: Results file 'CN.dat' would overwrite the input file './CN.dat'.\n" + kStop))
      << run.out;
  EXPECT_EQ(dir.read("CN.dat"), "2 2 2 2\n2 1 2 3 9\n0 2 2 2\n");
}

TEST(ResumedRun, CompletesACutResultsFileToTheWholeRun) {
  FixtureDir dir;
  write_example_inputs(dir);
  const std::vector<std::string> spec = {"--spec_file", "specification.txt"};
  const std::string whole = whole_run(dir, spec);
  ASSERT_EQ(count_probe_lines(whole), 40);
  struct Cut {
    const char* what;
    std::size_t keep;  // bytes of the whole file left in place
    int probes_kept;   // whole probe lines among them
  };
  const std::vector<Cut> cuts = {
      {"empty file", 0, 0},
      {"inside the first header line", 10, 0},
      {"inside the second header line", after_line(whole, 1) + 5, 0},
      {"after the header", after_line(whole, 2), 0},
      {"inside the first probe line", after_line(whole, 2) + 20, 0},
      {"after 17 probes", after_line(whole, 19), 17},
      {"inside the line of probe 18", after_line(whole, 19) + 44, 17},
      {"complete", whole.size(), 40},
  };
  for (const Cut& cut : cuts) {
    dir.write("results.out", whole.substr(0, cut.keep));
    std::vector<std::string> args = spec;
    args.push_back("--resume");
    const RunOutput run = dir.run(args);
    EXPECT_EQ(run.status, 0) << cut.what << "\n" << run.out;
    EXPECT_NE(run.out.find("        -- '--resume' Interrupted run resumed\n"), std::string::npos);
    EXPECT_NE(run.out.find("Resumed with " + std::to_string(cut.probes_kept) +
                           " of 40 probes already in 'results.out'\n"),
              std::string::npos)
        << cut.what << "\n" << run.out;
    EXPECT_EQ(dir.read("results.out"), whole) << cut.what;
  }

  // A chunk resumes within its own probes.
  ASSERT_EQ(dir.run({"--spec_file", "specification.txt", "--chunk", "2/3", "--out", "c.out"}).status,
            0);
  const std::string chunk = dir.read("c.out");
  ASSERT_EQ(count_probe_lines(chunk), 13);
  dir.write("c.out", chunk.substr(0, after_line(chunk, 7) + 30));
  const RunOutput run = dir.run(
      {"--spec_file", "specification.txt", "--chunk", "2/3", "--out", "c.out", "--resume"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Resumed with 5 of 13 probes already in 'c.out'\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(dir.read("c.out"), chunk);
}

TEST(ResumedRun, RefusesAFileOfAnotherRun) {
  FixtureDir dir;
  write_standard_inputs(dir);
  const std::string whole = whole_run(dir, {});
  const std::string rs2_line = "  1       2000  rs2              0.500  ";
  ASSERT_NE(whole.find(rs2_line), std::string::npos) << whole;
  std::string renamed = whole;
  renamed.replace(renamed.find("rs2 "), 4, "rs9 ");
  std::string moved = whole;
  moved.replace(moved.find("2000"), 4, "2001");
  struct Case {
    const char* what;
    const char* results;  // nullptr: no results file
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"no results file", nullptr, "",
       "\nError: Cannot resume './results.out': the file does not exist.\n"},
      {"another header", "results.out", "Chr Position\n" + probe_lines(whole),
       "\nError: Cannot resume './results.out': line 1 is not the header line of this file.\n"},
      {"a probe of another name", "results.out", renamed,
       "\nError: Cannot resume './results.out': line 4 is not the line of probe 'rs2', probe 2 "
       "of './CN.info'.\n"},
      {"a probe at another position", "results.out", moved,
       "\nError: Cannot resume './results.out': line 4 is not the line of probe 'rs2', probe 2 "
       "of './CN.info'.\n"},
      {"more lines than probes", "results.out", whole + probe_lines(whole).substr(0, 40) + "\n",
       "\nError: Cannot resume './results.out': line 6 is beyond the 3 probes of this run.\n"},
      {"results over an input file", "CN.dat", "",
       "\nError: Results file './CN.dat' would overwrite the input file './CN.dat'.\n"},
  };
  for (const Case& c : cases) {
    if (c.results != nullptr && std::string(c.results) == "results.out") {
      dir.write("results.out", c.text);
    } else {
      dir.remove("results.out");
    }
    std::vector<std::string> args = {"--resume"};
    if (c.results != nullptr && std::string(c.results) != "results.out")
      args.insert(args.end(), {"--out", std::string("./") + c.results});
    const std::string cn_before = dir.read("CN.dat");
    const RunOutput run = dir.run(args);
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_TRUE(ends_with(run.out, c.error + kStop)) << c.what << "\n" << run.out;
    // The refused file is left as it was.
    if (c.results != nullptr && std::string(c.results) == "results.out") {
      EXPECT_EQ(dir.read("results.out"), c.text) << c.what;
    }
    EXPECT_EQ(dir.read("CN.dat"), cn_before) << c.what;
  }
}

TEST(MisalignedInput, StopsBeforeAnyProbe) {
  struct Case {
    const char* what;
    void (*write)(const FixtureDir& dir);
    std::string error;
  };
  const std::vector<Case> cases = {
      {"called CNs with a line more",
       [](const FixtureDir& dir) {
         write_standard_inputs(dir);
         dir.write("CN.dat", "2 2 2 2\n2 1 2 3 9\n0 2 2 2\n\n2 2 2 2\n");
       },
       "\nError: './CN.dat' has 4 lines but './CN.info' has 3 probes.\n"},
      {"intensities with a line more",
       [](const FixtureDir& dir) {
         write_standard_inputs(dir);
         dir.write("raw.dat", dir.read("raw.dat") + "0.1 0.1 0.1 0.1\n");
       },
       "\nError: './raw.dat' has 8 lines but './raw.info' has 7 rows.\n"},
      {"the called CNs of every probe beside a subset of the probes",
       [](const FixtureDir& dir) {
         write_example_inputs(dir);
         const std::string info = dir.read("CN.info");
         dir.write("CN.info", info.substr(0, after_line(info, 20)));
       },
       "\nError: 'CN.dat' has 40 lines but 'CN.info' has 20 probes.\n"},
      {"the intensities of every probe beside a subset of their rows",
       [](const FixtureDir& dir) {
         write_example_inputs(dir);
         const std::string info = dir.read("raw.info");
         dir.write("raw.info", info.substr(0, after_line(info, 39)));
       },
       "\nError: 'raw.dat' has 40 lines but 'raw.info' has 39 rows.\n"},
  };
  for (const Case& c : cases) {
    FixtureDir dir;
    c.write(dir);
    const RunOutput run = dir.run({"--spec_file", "specification.txt"});
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_TRUE(ends_with(run.out, c.error + kStop)) << c.what << "\n" << run.out;
    EXPECT_FALSE(dir.exists("results.out")) << c.what;
  }
}
