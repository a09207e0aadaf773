// The Snakemake workflow (workflow/Snakefile) on a copy of the bundled example: its dry run
// plans the chunks, its run with 2 cores gives the results file of the whole run, and its
// merge refuses chunks that are missing, cut short or from a run that did not complete.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void spill(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs `command` in `dir` with its standard output and error in `dir`/.command; the exit status.
int run_in(const fs::path& dir, const std::string& command) {
  const int raw = std::system(("cd " + quoted(dir.string()) + " && " + command + " > .command 2>&1")
                                  .c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

const fs::path kSource = QUILLMARK_SOURCE_DIR;

// A fresh copy of the bundled example, with the results file of its whole run read and
// removed, so only the workflow can write it again.
class ExampleCopy {
 public:
  // `options`: given to the whole run, as the workflow's config gives them to the chunks.
  explicit ExampleCopy(const std::string& options = "") {
    std::string pattern = (fs::temp_directory_path() / "quillmark-workflow-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    for (const char* name :
         {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "specification.txt"})
      fs::copy_file(kSource / "examples" / name, dir_ / name);
    if (run_in(dir_, quoted(QUILLMARK_BIN) + " --spec_file specification.txt " + options) != 0)
      throw std::runtime_error("the whole run failed");
    whole_ = slurp(dir_ / "results.out");
    whole_table_ = slurp(dir_ / "results.out.tsv");
    fs::remove(dir_ / "results.out");
    fs::remove(dir_ / "results.out.tsv");
  }
  ~ExampleCopy() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  ExampleCopy(const ExampleCopy&) = delete;
  ExampleCopy& operator=(const ExampleCopy&) = delete;

  const fs::path& dir() const { return dir_; }
  const std::string& whole() const { return whole_; }
  const std::string& whole_table() const { return whole_table_; }

  // snakemake on the copy with `chunks` chunks, `extra` options and `config` entries
  // besides the specification file, the chunks and the program; its exit status.
  int snakemake(int chunks, const std::string& extra, const std::string& config = "") const {
    return run_in(dir_, "snakemake -s " + quoted((kSource / "workflow/Snakefile").string()) +
                            " --cores 2 " + extra + " --config spec=specification.txt chunks=" +
                            std::to_string(chunks) + " quillmark=" + quoted(QUILLMARK_BIN) +
                            " " + config);
  }
  std::string command_output() const { return slurp(dir_ / ".command"); }

 private:
  fs::path dir_;
  std::string whole_;
  std::string whole_table_;
};

bool snakemake_installed() { return std::system("snakemake --version > /dev/null 2>&1") == 0; }

}  // namespace

TEST(SnakemakeWorkflow, DryRunThenRunGiveTheWholeRunsResults) {
  ASSERT_TRUE(snakemake_installed()) << "snakemake is missing: ./run-tests.sh installs it";
  const ExampleCopy example;
  ASSERT_EQ(example.snakemake(3, "--dry-run"), 0) << example.command_output();
  const std::string plan = example.command_output();
  EXPECT_NE(plan.find("chunk_3_of_3.out"), std::string::npos) << plan;
  EXPECT_EQ(plan.find("chunk_4_of_3"), std::string::npos) << plan;
  EXPECT_FALSE(fs::exists(example.dir() / "results.out"));
  EXPECT_FALSE(fs::exists(example.dir() / "results.out.chunks/chunk_1_of_3.out"));

  ASSERT_EQ(example.snakemake(3, ""), 0) << example.command_output();
  EXPECT_EQ(slurp(example.dir() / "results.out"), example.whole());
  EXPECT_EQ(slurp(example.dir() / "results.out.tsv"), example.whole_table());
  for (const char* plot : {"results.out.qq.png", "results.out.manhattan.png"})
    EXPECT_EQ(slurp(example.dir() / plot).substr(0, 8), "\x89PNG\r\n\x1a\n") << plot;
  // Each chunk is an ordinary run: its standard output ends with the completion line.
  for (int i = 1; i <= 3; ++i) {
    const std::string out =
        slurp(example.dir() / ("results.out.chunks/chunk_" + std::to_string(i) + "_of_3.stdout"));
    EXPECT_NE(out.find("\nQuillmark complete: "), std::string::npos) << out;
  }
}

// With newton_finish=true every chunk runs with --newton-finish: the merged files are those
// of a whole run with it.
TEST(SnakemakeWorkflow, NewtonFinishReachesEveryChunk) {
  ASSERT_TRUE(snakemake_installed()) << "snakemake is missing: ./run-tests.sh installs it";
  const ExampleCopy example("--newton-finish");
  ASSERT_EQ(example.snakemake(2, "", "newton_finish=true"), 0) << example.command_output();
  EXPECT_EQ(slurp(example.dir() / "results.out"), example.whole());
  EXPECT_EQ(slurp(example.dir() / "results.out.tsv"), example.whole_table());
  EXPECT_NE(example.whole_table().find("\tnewton\t"), std::string::npos);
}

TEST(SnakemakeWorkflow, MergeRefusesBrokenChunks) {
  ASSERT_TRUE(snakemake_installed()) << "snakemake is missing: ./run-tests.sh installs it";
  const ExampleCopy example;
  ASSERT_EQ(example.snakemake(3, ""), 0) << example.command_output();
  const fs::path chunks = example.dir() / "results.out.chunks";
  const auto chunk = [&](int i, const char* ext) {
    return chunks / ("chunk_" + std::to_string(i) + "_of_3" + ext);
  };
  const std::string second = slurp(chunk(2, ".out"));
  const std::string second_log = slurp(chunk(2, ".stdout"));
  const std::size_t last_line = second.rfind('\n', second.size() - 2) + 1;

  struct Case {
    const char* what;
    void (*damage)(const fs::path& results, const fs::path& log, const std::string& text,
                   std::size_t last_line);
    std::string error;
  };
  const std::vector<Case> cases = {
      {"a missing chunk",
       [](const fs::path& results, const fs::path&, const std::string&, std::size_t) {
         fs::remove(results);
       },
       "Error: chunk 2 of 3: results file 'results.out.chunks/chunk_2_of_3.out' is missing.\n"},
      {"a chunk cut inside a line",
       [](const fs::path& results, const fs::path&, const std::string& text, std::size_t cut) {
         spill(results, text.substr(0, cut + 30));
       },
       "Error: chunk 2 of 3: 'results.out.chunks/chunk_2_of_3.out' ends inside a line.\n"},
      {"a chunk cut after a line",
       [](const fs::path& results, const fs::path&, const std::string& text, std::size_t cut) {
         spill(results, text.substr(0, cut));
       },
       "Error: chunk 2 of 3: 'results.out.chunks/chunk_2_of_3.out' has 12 probe lines; its "
       "range of the information file has 13 probes.\n"},
      {"a chunk whose run was interrupted",
       [](const fs::path&, const fs::path& log, const std::string&, std::size_t) {
         std::string text = slurp(log);
         text.erase(text.find("\nQuillmark complete: "));
         spill(log, text + "\nQuillmark interrupted by SIGTERM: 13 of 13 probes written\n");
       },
       "Error: chunk 2 of 3: 'results.out.chunks/chunk_2_of_3.stdout' has no line 'Quillmark "
       "complete'; the run stopped with an error or was interrupted.\n"},
      {"a chunk of other probes",
       [](const fs::path& results, const fs::path&, const std::string& text, std::size_t) {
         std::string other = text;
         other.replace(other.find("cnv_0000"), 10, "cnv_999999");
         spill(results, other);
       },
       "Error: chunk 2 of 3: 'results.out.chunks/chunk_2_of_3.out', line 3 is not the line of "
       "probe 'cnv_000014'.\n"},
  };
  const std::string merge =
      "python3 " + quoted((kSource / "workflow/scripts/merge_chunks.py").string()) +
      " --info CN.info --out merged.out --chunks results.out.chunks/chunk_1_of_3.out "
      "results.out.chunks/chunk_2_of_3.out results.out.chunks/chunk_3_of_3.out --logs "
      "results.out.chunks/chunk_1_of_3.stdout results.out.chunks/chunk_2_of_3.stdout "
      "results.out.chunks/chunk_3_of_3.stdout";
  ASSERT_EQ(run_in(example.dir(), merge), 0) << example.command_output();
  EXPECT_EQ(slurp(example.dir() / "merged.out"), example.whole());
  for (const Case& c : cases) {
    fs::remove(example.dir() / "merged.out");
    c.damage(chunk(2, ".out"), chunk(2, ".stdout"), second, last_line);
    EXPECT_EQ(run_in(example.dir(), merge), 1) << c.what;
    EXPECT_EQ(example.command_output(), c.error) << c.what;
    EXPECT_FALSE(fs::exists(example.dir() / "merged.out")) << c.what;
    spill(chunk(2, ".out"), second);
    spill(chunk(2, ".stdout"), second_log);
  }
}
