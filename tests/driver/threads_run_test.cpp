// Runs on several threads write what a run on one thread writes: the same results file,
// table and standard output, also when an input error stops the run part way.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "run_harness.h"

namespace {

namespace fs = std::filesystem;

void copy_example(const FixtureDir& dir) {
  for (const char* name : {"specification.txt", "phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info"})
    fs::copy_file(fs::path(QUILLMARK_SOURCE_DIR) / "examples" / name, fs::path(dir.path()) / name);
}

TEST(Threads, RunsOnOneAndManyThreadsWriteTheSame) {
  // Whole runs, and a run stopped by a token that is not a number in the intensity line of
  // the 30th probe: the 29 probes before it are written whatever the number of threads.
  for (const bool broken : {false, true}) {
    FixtureDir one;
    FixtureDir many;
    for (const FixtureDir* dir : {&one, &many}) {
      copy_example(*dir);
      if (broken) {
        std::string raw = dir->read("raw.dat");
        std::size_t at = 0;
        for (int line = 0; line < 29; ++line) at = raw.find('\n', at) + 1;
        raw.replace(at, raw.find(' ', at) - at, "x1.5");
        dir->write("raw.dat", raw);
      }
    }
    const RunOutput a = one.run({"--spec_file", "specification.txt", "--threads", "1", "--quiet"});
    const RunOutput b = many.run({"--spec_file", "specification.txt", "--threads", "4", "--quiet"});
    EXPECT_EQ(a.status, broken ? 1 : 0) << a.out;
    EXPECT_EQ(b.status, a.status);
    EXPECT_EQ(b.out, a.out);
    EXPECT_EQ(many.read("results.out"), one.read("results.out"));
    if (broken) {
      EXPECT_EQ(count_probe_lines(one.read("results.out")), 29);
    } else {
      EXPECT_EQ(many.read("results.out.tsv"), one.read("results.out.tsv"));
    }
  }
}

TEST(Threads, AThreadCountBelowOneIsAnError) {
  FixtureDir dir;
  copy_example(dir);
  for (const char* value : {"0", "-2", "many", ""}) {
    const RunOutput run = dir.run({"--threads", value});
    EXPECT_EQ(run.status, 1) << value;
    EXPECT_NE(run.out.find("Error: Option '--threads' needs a number of threads of at least 1, not '" +
                           std::string(value) + "'."),
              std::string::npos)
        << run.out;
  }
}

}  // namespace
