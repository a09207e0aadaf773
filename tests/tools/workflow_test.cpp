// The cluster workflow: a run split into probe chunks and merged again gives the
// results file of the whole run.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {
std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int run(const std::string& command) { return std::system(command.c_str()); }
}  // namespace

TEST(ClusterWorkflow, SplitAndMergeReproduceTheWholeRun) {
  namespace fs = std::filesystem;
  const fs::path source = QUILLMARK_SOURCE_DIR;
  const fs::path work = fs::temp_directory_path() / ("quillmark_workflow_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "whole");
  for (const char* name : {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "specification.txt"})
    fs::copy_file(source / "examples" / name, work / "whole" / name);
  const std::string bin = QUILLMARK_BIN;

  ASSERT_EQ(run("cd '" + (work / "whole").string() + "' && '" + bin +
                "' --spec_file specification.txt > /dev/null"),
            0);
  ASSERT_EQ(run("'" + (source / "workflow/split-run.sh").string() + "' '" +
                (work / "whole/specification.txt").string() + "' 3 '" + (work / "chunks").string() +
                "' > /dev/null"),
            0);
  for (int k = 0; k < 3; ++k)
    ASSERT_EQ(run("cd '" + (work / "chunks" / ("chunk_" + std::to_string(k))).string() + "' && '" +
                  bin + "' --spec_file specification.txt > /dev/null"),
              0);
  ASSERT_EQ(run("'" + (source / "workflow/merge-results.sh").string() + "' '" +
                (work / "chunks").string() + "' > '" + (work / "merged.out").string() + "'"),
            0);
  const std::string whole = slurp(work / "whole/results.out");
  EXPECT_GT(whole.size(), 0u);
  EXPECT_EQ(slurp(work / "merged.out"), whole);
  fs::remove_all(work);
}
