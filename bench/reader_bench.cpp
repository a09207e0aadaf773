// Reading the per-probe data files: one intensity line of n values (4 decimals, as the
// simulator writes them) split into tokens and parsed,
//  - ParseIntensityLine: the line already in memory (tokenizer and number parsing only);
//  - ReadIntensityLine:  the line read from a file through LineReader, then parsed;
//  - ReadProbeData:      the driver's reader for a whole SNP probe (the called-CN line and
//                        the R and B lines) from a simulated input set.
// Files live in a temporary folder made for the run and removed after it.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

#include <htslib/bgzf.h>

#include "bench_setup.h"
#include "driver/line_reader.h"
#include "driver/readers.h"

namespace {

constexpr int kLinesInFile = 16;

// A folder of its own under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(std::filesystem::temp_directory_path() /
              ("quillmark_bench_" + std::to_string(::getpid()) + "_" + name)) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// R lines of successive simulated probes.
std::vector<std::string> intensity_lines(int n, int count) {
  const SimSettings settings = bench_settings("CN", n, 0, 21);
  const SimSubjects subjects = make_subjects(settings);
  std::vector<std::string> lines;
  SimProbe probe;
  for (int p = 0; p < count; ++p) {
    fill_probe(probe, settings, subjects, p);
    lines.push_back(intensity_line(probe.r, settings.decimals));
  }
  return lines;
}

void parse_line(std::string_view line, std::vector<double>& values) {
  std::size_t pos = 0;
  if (read_numbers(line, pos, values).stop != NumberToken::kNumber) {
    std::fprintf(stderr, "bad intensity line\n");
    std::exit(1);
  }
}

void BM_ParseIntensityLine(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<std::string> lines = intensity_lines(n, kLinesInFile);
  std::vector<double> values(static_cast<std::size_t>(n));
  std::size_t next = 0;
  long long bytes = 0;
  for (auto _ : state) {
    const std::string& line = lines[next];
    next = (next + 1) % lines.size();
    parse_line(line, values);
    benchmark::DoNotOptimize(values.data());
    bytes += static_cast<long long>(line.size()) + 1;
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(bytes);
}

void BM_ReadIntensityLine(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const ScratchFolder folder("lines" + std::to_string(n));
  const std::string path = (folder.path() / "raw.dat").string();
  {
    std::ofstream out(path);
    for (const std::string& line : intensity_lines(n, kLinesInFile)) out << line << '\n';
  }
  LineReader reader;
  if (!reader.open(path)) {
    state.SkipWithError("cannot open the intensity file");
    return;
  }
  std::vector<double> values(static_cast<std::size_t>(n));
  std::string_view line;
  long long bytes = 0;
  for (auto _ : state) {
    if (!reader.next_line(line)) {
      reader.open(path);  // back to the first line; part of the cost every kLinesInFile lines
      reader.next_line(line);
    }
    parse_line(line, values);
    benchmark::DoNotOptimize(values.data());
    bytes += static_cast<long long>(line.size()) + 1;
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(bytes);
}

void BM_ReadProbeData(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const ScratchFolder folder("set" + std::to_string(n));
  SimSettings settings = bench_settings("SNP", n, 0, 31);
  settings.num_probes = kLinesInFile;
  write_input_set(settings, folder.path().string());

  OPTION option;
  set_default_options(option);
  option.probe_type = ProbeType::kSnp;
  option.called_cn_info_file = (folder.path() / "CN.info").string();
  option.called_cn_dat_file = (folder.path() / "CN.dat").string();
  option.raw_intensity_dat_file = (folder.path() / "raw.dat").string();
  DATA data;
  data.num_subjects = n;
  data.called_cn.assign(static_cast<std::size_t>(n), 0);
  data.intensity_r.assign(static_cast<std::size_t>(n), 0.0);
  data.intensity_b.assign(static_cast<std::size_t>(n), 0.0);

  ProbeSource source;
  open_probe_source(source, option, n, -1, "");
  ProbeInfo info;
  for (auto _ : state) {
    if (!next_probe_info(source, info)) {
      source = ProbeSource();
      open_probe_source(source, option, n, -1, "");
      next_probe_info(source, info);
    }
    read_probe_data(source, info, data);
    benchmark::DoNotOptimize(data.intensity_b.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("items = probes (1 call line + 2 intensity lines)");
}

// Reading a 40 MB intensity file whole through LineReader, as plain text, gzip and bgzip
// (bgzip decompressed on 1 or 2 threads): MB/s of the uncompressed text.
enum class Compression { kPlain, kGzip, kBgzip };

void BM_ReadCompressed(benchmark::State& state) {
  const auto compression = static_cast<Compression>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const ScratchFolder folder("compressed" + std::to_string(state.range(0)) + "_" +
                             std::to_string(threads));
  const std::string plain = (folder.path() / "raw.dat").string();
  long long size = 0;
  {
    std::ofstream out(plain);
    const std::vector<std::string> lines = intensity_lines(20000, kLinesInFile);
    for (int copy = 0; size < 40'000'000; ++copy)
      for (const std::string& line : lines) {
        out << line << '\n';
        size += static_cast<long long>(line.size()) + 1;
      }
  }
  std::string path = plain;
  if (compression == Compression::kGzip) {
    path = plain + ".gz";
    if (std::system(("gzip -c '" + plain + "' > '" + path + "'").c_str()) != 0) {
      state.SkipWithError("gzip failed");
      return;
    }
  } else if (compression == Compression::kBgzip) {
    path = plain + ".bgz";
    BGZF* out = bgzf_open(path.c_str(), "w");
    std::ifstream in(plain, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    bool written = out != nullptr;
    while (written &&
           (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0))
      written = bgzf_write(out, buffer.data(), static_cast<std::size_t>(in.gcount())) == in.gcount();
    if (out == nullptr || bgzf_close(out) != 0 || !written) {
      state.SkipWithError("bgzip failed");
      return;
    }
  }
  for (auto _ : state) {
    LineReader reader;
    reader.open(path, threads);
    std::string_view line;
    long long bytes = 0;
    while (reader.next_line(line)) bytes += static_cast<long long>(line.size()) + 1;
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(state.iterations() * size);
  static const char* const kNames[] = {"plain", "gzip", "bgzip"};
  state.SetLabel(std::string(kNames[state.range(0)]) + ", " + std::to_string(threads) + " thread(s)");
}

}  // namespace

BENCHMARK(BM_ReadCompressed)->Name("ReadCompressed")
    ->Args({0, 1})->Args({1, 1})->Args({2, 1})->Args({2, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseIntensityLine)->Name("ParseIntensityLine")->Arg(2000)->Arg(20000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadIntensityLine)->Name("ReadIntensityLine")->Arg(2000)->Arg(20000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadProbeData)->Name("ReadProbeData/SNP")->Arg(2000)->Arg(20000)
    ->Unit(benchmark::kMicrosecond);
