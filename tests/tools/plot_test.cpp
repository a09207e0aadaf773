// quillmark-plot on the bundled example's extended results table: both plots are written
// as valid PNG files (and SVG on request), and a table without probes is refused.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {
namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int run(const std::string& command) { return std::system(command.c_str()); }

// A PNG file: its 8-byte signature, then an IHDR chunk with a plausible size.
bool is_png(const std::string& bytes, int& width, int& height) {
  if (bytes.size() < 33 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      bytes.compare(12, 4, "IHDR") != 0)
    return false;
  const auto big_endian = [&bytes](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
  };
  width = big_endian(16);
  height = big_endian(20);
  return bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}
}  // namespace

TEST(QuillmarkPlot, WritesQqAndManhattanPlotsOfTheExample) {
  const fs::path source = QUILLMARK_SOURCE_DIR;
  const fs::path work = fs::temp_directory_path() / ("quillmark_plot_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  for (const char* name : {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "specification.txt"})
    fs::copy_file(source / "examples" / name, work / name);
  const std::string w = "'" + work.string() + "'";
  ASSERT_EQ(run("cd " + w + " && '" + std::string(QUILLMARK_BIN) +
                "' --quiet --spec_file specification.txt > /dev/null 2>&1"),
            0);
  ASSERT_EQ(run("'" + std::string(QUILLMARK_PLOT) + "' " + w + "/results.out.tsv --svg > " + w +
                "/plot.txt 2>&1"),
            0)
      << slurp(work / "plot.txt");
  for (const char* plot : {"results.out.qq", "results.out.manhattan"}) {
    int width = 0, height = 0;
    EXPECT_TRUE(is_png(slurp(work / (std::string(plot) + ".png")), width, height)) << plot;
    EXPECT_GE(width, 300) << plot;
    EXPECT_GE(height, 300) << plot;
    EXPECT_NE(slurp(work / (std::string(plot) + ".svg")).find("<svg"), std::string::npos) << plot;
  }
  // --out chooses the prefix; a table whose probes are all NA has nothing to plot.
  ASSERT_EQ(run("'" + std::string(QUILLMARK_PLOT) + "' " + w + "/results.out.tsv --out " + w +
                "/other > /dev/null"),
            0);
  EXPECT_TRUE(fs::exists(work / "other.qq.png"));
  EXPECT_FALSE(fs::exists(work / "other.qq.svg"));
  std::ofstream(work / "empty.tsv") << "CHROM\tPOS\tID\tCHISQ\tDF\tP\tLOG10P\n1\t5\tx\tNA\tNA\tNA\tNA\n";
  EXPECT_NE(run("'" + std::string(QUILLMARK_PLOT) + "' " + w + "/empty.tsv > /dev/null 2>&1"), 0);
  fs::remove_all(work);
}
