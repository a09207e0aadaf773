// Replays every seed and every regression input of the fuzz targets through the same
// entry points as the fuzzers (fuzz/entry_points.h): each must run to its end (no crash,
// no sanitizer report) with every checked property holding.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entry_points.h"

namespace {

namespace fs = std::filesystem;
using EntryPoint = std::string (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  EntryPoint entry;
};

const Target kTargets[] = {
    {"spec_file", fuzz_spec_file},
    {"line_reader", fuzz_line_reader},
    {"file_set", fuzz_file_set},
};

// Sends standard output to /dev/null for its lifetime: the runs' reports would bury the
// test log.
class SilencedStdout {
 public:
  SilencedStdout() : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~SilencedStdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

 private:
  int saved_;
};

std::vector<fs::path> inputs_of(const std::string& target) {
  std::vector<fs::path> inputs;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(QUILLMARK_SOURCE_DIR) / "fuzz" / folder / target;
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  return inputs;
}

}  // namespace

TEST(FuzzReplay, SeedsAndRegressionsKeepEveryProperty) {
  for (const Target& target : kTargets) {
    const std::vector<fs::path> inputs = inputs_of(target.name);
    EXPECT_FALSE(inputs.empty()) << "no seed for " << target.name;
    for (const fs::path& path : inputs) {
      std::ifstream in(path, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::string broken;
      {
        const SilencedStdout silenced;
        broken = target.entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      }
      EXPECT_EQ(broken, "") << target.name << ": " << path.filename();
    }
  }
}
