// Compressed input: every input file may be gzip or bgzip compressed, recognised by its
// first bytes, and gives the same run as the plain file; a compressed file that ends
// early is an error naming the file.

#include <gtest/gtest.h>

#include <htslib/bgzf.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "driver/line_reader.h"
#include "run_harness.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes `text` to `path` as bgzip (BGZF blocks of at most 64 kB) through htslib.
void write_bgzip(const fs::path& path, const std::string& text) {
  BGZF* out = bgzf_open(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(bgzf_write(out, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(bgzf_close(out), 0);
}

// Compresses `path` in place with gzip, keeping its name.
void gzip_in_place(const fs::path& path) {
  ASSERT_EQ(std::system(("gzip -c '" + path.string() + "' > '" + path.string() + ".gz'").c_str()), 0);
  fs::rename(path.string() + ".gz", path);
}

const char* const kInputs[] = {"specification.txt", "phenotype.dat", "raw.dat",
                               "raw.info",          "CN.dat",        "CN.info"};

// The bundled example copied into a fixture directory.
void copy_example(const FixtureDir& dir) {
  for (const char* name : kInputs)
    fs::copy_file(fs::path(QUILLMARK_SOURCE_DIR) / "examples" / name, fs::path(dir.path()) / name);
}

TEST(CompressedInput, GzipAndBgzipInputsGiveThePlainRun) {
  FixtureDir plain;
  copy_example(plain);
  const RunOutput expected = plain.run({"--spec_file", "specification.txt"});
  ASSERT_EQ(expected.status, 0) << expected.out;
  const std::string expected_results = plain.read("results.out");

  for (const bool bgzip : {false, true}) {
    FixtureDir dir;
    copy_example(dir);
    for (const char* name : kInputs) {
      const fs::path path = fs::path(dir.path()) / name;
      if (bgzip) {
        write_bgzip(path, slurp(path));
      } else {
        gzip_in_place(path);
      }
    }
    const RunOutput run = dir.run({"--spec_file", "specification.txt"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, expected.out) << (bgzip ? "bgzip" : "gzip");
    EXPECT_EQ(dir.read("results.out"), expected_results) << (bgzip ? "bgzip" : "gzip");
  }
}

TEST(CompressedInput, ATruncatedCompressedFileStopsTheRunNamingIt) {
  FixtureDir dir;
  copy_example(dir);
  const fs::path raw = fs::path(dir.path()) / "raw.dat";
  gzip_in_place(raw);
  const std::string whole = slurp(raw);
  {
    std::ofstream cut(raw, std::ios::binary | std::ios::trunc);
    cut << whole.substr(0, whole.size() / 2);
  }
  const RunOutput run = dir.run({"--spec_file", "specification.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Error: Cannot read 'raw.dat': the compressed data end early or are corrupt."),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Quillmark was stopped due to error(s) listed above."), std::string::npos);
}

TEST(CompressedInput, LinesSpanningBlocksAndRefillsReadWhole) {
  FixtureDir dir;
  std::string text;
  for (int line = 0; line < 300; ++line) {
    text += std::to_string(line);
    text += std::string(static_cast<std::size_t>(line * 97 % 5000), 'x');
    text += '\n';
  }
  text += "last line without a break";
  const fs::path path = fs::path(dir.path()) / "lines.bgz";
  write_bgzip(path, text);
  for (const int threads : {1, 2}) {
    LineReader reader(4096);
    ASSERT_TRUE(reader.open(path.string(), threads));
    std::string back;
    std::string_view line;
    while (reader.next_line(line)) {
      back.append(line);
      back += '\n';
    }
    EXPECT_EQ(back, text + "\n") << threads << " threads";
  }
}

}  // namespace
