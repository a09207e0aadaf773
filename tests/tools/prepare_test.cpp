// Tests of quillmark-prepare: a study simulated in both forms (Quillmark's own
// files and the PennCNV files a caller hands out) must give, once prepared, the
// very files and results of the direct run; mismatched samples are named and the
// rest still line up; faults in the inputs stop with a message naming the file.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "prepare/call_index.h"
#include "prepare/text_io.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& tag) {
    path = fs::temp_directory_path() / ("quillmark_prepare_" + tag + "_" + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

struct RunResult {
  int status;
  std::string out, err;
};

// Runs a command line in directory dir.
RunResult run_in(const fs::path& dir, const std::string& command) {
  const fs::path out = dir / ".stdout", err = dir / ".stderr";
  const std::string line = "cd '" + dir.string() + "' && " + command + " >'" + out.string() + "' 2>'" +
                           err.string() + "' </dev/null";
  const int raw = std::system(line.c_str());
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  fs::remove(out);
  fs::remove(err);
  return r;
}

// A study simulated as Quillmark's files (direct/) and in PennCNV form (penn/).
struct Study {
  fs::path root, direct, penn;
};

Study simulate(const fs::path& root, const std::string& args) {
  Study s{root, root / "direct", root / "penn"};
  const RunResult r = run_in(root, std::string(QUILLMARK_SIM_BIN) + " --out direct --penncnv '" +
                                       s.penn.string() + "' " + args);
  EXPECT_EQ(r.status, 0) << r.err;
  return s;
}

// quillmark-prepare on a study's PennCNV files; `extra` adds or overrides inputs.
RunResult prepare(const Study& s, const std::string& out, const std::string& extra,
                  const std::string& calls = "calls.rawcnv") {
  return run_in(s.root, std::string(QUILLMARK_PREPARE_BIN) + " --signal-list penn/signal.list --pfb penn/probes.pfb" +
                            " --calls penn/" + calls + " --samples penn/samples.txt --out " + out + " " + extra);
}

// Quillmark's output in dir with the two time lines left out, and its results file.
struct Analysis {
  std::string out, results;
};
Analysis analyse(const fs::path& dir) {
  const RunResult r = run_in(dir, std::string(QUILLMARK_BIN) + " --spec_file specification.txt");
  EXPECT_EQ(r.status, 0) << dir << r.out;
  std::vector<std::string> kept;
  for (const auto& line : lines_of(r.out))
    if (line.find("Quillmark started: ") == std::string::npos && line.find("Quillmark complete: ") == std::string::npos)
      kept.push_back(line);
  return {join_lines(kept), slurp(dir / "results.out")};
}

const char* const SET_FILES[] = {"phenotype.dat", "raw.dat", "raw.info", "CN.dat", "CN.info", "specification.txt"};

// The text of a data file with the columns of the given subjects removed
// (phenotype files: their lines).
std::string without_subjects(const std::string& text, const std::set<std::size_t>& gone, bool phenotype) {
  std::vector<std::string> out;
  const auto lines = lines_of(text);
  for (std::size_t l = 0; l < lines.size(); ++l) {
    if (phenotype) {
      if (l == 0 || !gone.count(l - 1)) out.push_back(lines[l]);
      continue;
    }
    const auto w = words(lines[l]);
    std::string kept;
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (gone.count(i)) continue;
      if (!kept.empty()) kept += ' ';
      kept += w[i];
    }
    out.push_back(kept);
  }
  return join_lines(out);
}

}  // namespace

#if defined(QUILLMARK_PREPARE_BIN) && defined(QUILLMARK_SIM_BIN)

TEST(PrepareRoundTrip, PreparedSetsEqualTheDirectFilesAndRun) {
  struct Case {
    const char* name;
    const char* sim;
    const char* prepare;
    const char* calls;
    const char* set;
  };
  const Case cases[] = {
      {"snp_covariates", "--probe-type SNP --numeric-covariates 1 --categorical-levels 3 --seed 3",
       "--differential 0 --categorical cat --effect 'K cov1 cat'", "calls.rawcnv", "snp"},
      {"snp_L_plink_calls", "--probe-type SNP --differential --effect-L --miscall-rate 0.05 --seed 4",
       "--differential 1 --effect 'K L' --test 'K L'", "calls.cnv", "snp"},
      // Seven files open at once: the signal files are read in groups through temporary files.
      {"cn_groups", "--probe-type CN --seed 5", "--differential 0 --effect K --max-open-files 7", "calls.rawcnv", "cn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir(c.name);
    const Study s = simulate(dir.path, std::string("--subjects 90 --probes 24 ") + c.sim);
    // Every probe: the simulated calls are too sparse for the default minimum of carriers at some probes.
    const RunResult r = prepare(s, "prepared", std::string("--min-carriers 0 ") + c.prepare, c.calls);
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path set = dir.path / "prepared" / c.set;
    for (const char* file : SET_FILES) EXPECT_EQ(slurp(set / file), slurp(s.direct / file)) << file;
    EXPECT_FALSE(fs::exists(dir.path / "prepared" / (std::string(c.set) == "snp" ? "cn" : "snp")));
    std::vector<fs::path> left;
    for (const auto& e : fs::directory_iterator(dir.path / "prepared"))
      if (e.path().extension() == ".tmp") left.push_back(e.path());
    EXPECT_TRUE(left.empty()) << "temporary files left behind";

    const Analysis direct = analyse(s.direct);
    const Analysis prepared = analyse(set);
    EXPECT_EQ(prepared.results, direct.results);
    EXPECT_EQ(prepared.out, direct.out);
    EXPECT_EQ(lines_of(direct.results).size(), 2u + 24u);
  }
}

TEST(PrepareRoundTrip, CompressedInputsTablesAndBgzipOutput) {
  TempDir dir("forms");
  const Study s = simulate(dir.path, "--subjects 40 --probes 12 --seed 8 --numeric-covariates 2");
  const std::string model = "--min-carriers 0 --differential 0 --effect 'K cov1 cov2'";

  const auto listed = lines_of(slurp(s.penn / "signal.list"));
  // One multi-sample table of the same values: samples in reverse order, B allele frequency before the
  // log R ratio, a genotype column; the PLINK calls name samples by ID.
  std::vector<std::vector<std::string>> columns;  // per sample: its lines' fields
  std::vector<std::string> names;
  std::string table_header = "Name\tChr\tPosition";
  std::vector<std::string> table = lines_of(slurp(s.penn / "probes.pfb"));
  table.erase(table.begin());
  for (auto& row : table) row = row.substr(0, row.rfind('\t'));
  for (std::size_t k = listed.size(); k-- > 0;) {
    const auto sample_lines = lines_of(slurp(listed[k]));
    std::vector<std::string> head;
    std::stringstream hs(sample_lines[0]);
    for (std::string f; std::getline(hs, f, '\t');) head.push_back(f);
    const std::string id = head[3].substr(0, head[3].find('.'));
    table_header += "\t" + id + ".GType\t" + id + ".B Allele Freq\t" + id + ".Log R Ratio";
    for (std::size_t l = 1; l < sample_lines.size(); ++l) {
      std::vector<std::string> f;
      std::stringstream ls(sample_lines[l]);
      for (std::string x; std::getline(ls, x, '\t');) f.push_back(x);
      table[l - 1] += "\tAB\t" + f[4] + "\t" + f[3];
    }
  }
  table.insert(table.begin(), table_header);
  spit(s.penn / "table.txt", join_lines(table));
  // Half of the signal files gzip-compressed (plain gzip, not bgzip).
  std::vector<std::string> relisted;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (i % 2 == 1) {
      ASSERT_EQ(std::system(("gzip -n '" + listed[i] + "'").c_str()), 0);
      relisted.push_back(listed[i] + ".gz");
    } else {
      relisted.push_back(listed[i]);
    }
  }
  spit(s.penn / "signal.list", join_lines(relisted));
  // The calls name the uncompressed files: they are matched by the file's name without .gz.
  RunResult r = prepare(s, "from_gzip", model);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* file : SET_FILES)
    EXPECT_EQ(slurp(dir.path / "from_gzip/snp" / file), slurp(s.direct / file)) << file;

  r = run_in(dir.path, std::string(QUILLMARK_PREPARE_BIN) +
                           " --signal-table penn/table.txt --pfb penn/probes.pfb --calls penn/calls.cnv"
                           " --samples penn/samples.txt --out from_table --bgzip " + model);
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path set = dir.path / "from_table/snp";
  for (const char* file : {"phenotype.dat", "raw.info", "CN.info"})
    EXPECT_EQ(slurp(set / file), slurp(s.direct / file)) << file;
  for (const char* file : {"raw.dat", "CN.dat"}) {
    LineInput in;
    ASSERT_TRUE(in.open((set / (std::string(file) + ".gz")).string()));
    EXPECT_TRUE(in.compressed());
    std::string text;
    for (std::string_view line; in.next(line);) text += std::string(line) + "\n";
    EXPECT_EQ(text, slurp(s.direct / file)) << file;
  }
  const std::string settings = slurp(set / "specification.txt");
  EXPECT_NE(settings.find("RAW_INTENSITY_DAT_FILE = raw.dat.gz\n"), std::string::npos);
  EXPECT_NE(settings.find("CALLED_CN_DAT_FILE = CN.dat.gz\n"), std::string::npos);
}

TEST(PrepareSamples, MismatchesAreNamedAndTheRestLineUp) {
  TempDir dir("samples");
  const Study s = simulate(dir.path, "--subjects 30 --probes 10 --seed 9 --numeric-covariates 1");
  // Subject 4 has no signal file; subject 9 a missing covariate (-9); subject 14
  // a missing status (0 in PLINK's 1/2 coding); a signal file of a sample outside
  // the sheet is listed.
  auto listed = lines_of(slurp(s.penn / "signal.list"));
  const std::string stranger = (s.penn / "stranger.txt").string();
  std::string signal = slurp(listed[0]);
  signal.replace(signal.find("sample000001.Log"), 12, "stranger0001");
  signal.replace(signal.find("sample000001.B"), 12, "stranger0001");
  spit(stranger, signal);
  listed.erase(listed.begin() + 4);
  listed.push_back(stranger);
  spit(s.penn / "signal.list", join_lines(listed));
  auto sheet = lines_of(slurp(s.penn / "samples.txt"));
  for (std::size_t l = 1; l < sheet.size(); ++l) {
    auto w = words(sheet[l]);
    w[1] = w[1] == "1" ? "2" : "1";
    if (l == 10) w[2] = "-9";
    if (l == 15) w[1] = "0";
    sheet[l] = w[0] + " " + w[1] + " " + w[2];
  }
  spit(s.penn / "samples.txt", join_lines(sheet));

  const RunResult r = prepare(s, "prepared", "--min-carriers 0 --differential 0");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("status coded 1/2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Subjects: 27 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 in the sample sheet without signal data: sample000005\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 with signal data but not in the sample sheet: stranger0001\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 dropped for a missing value (NA or -9): sample000010, sample000015\n"), std::string::npos)
      << r.out;
  const auto outcomes = lines_of(slurp(dir.path / "prepared/sample_outcomes.txt"));
  ASSERT_EQ(outcomes.size(), 1u + 30u + 1u);
  EXPECT_EQ(outcomes[4], "sample000004\tanalysed\t4");
  EXPECT_EQ(outcomes[5], "sample000005\tno_signal_data\t-");
  EXPECT_EQ(outcomes[6], "sample000006\tanalysed\t5");
  EXPECT_EQ(outcomes[10], "sample000010\tmissing_value\t-");
  EXPECT_EQ(outcomes[31], "stranger0001\tnot_in_sample_sheet\t-");

  // The prepared files are the direct ones without those three subjects; the
  // calls of the dropped subjects are left out, and the stranger's values are not used.
  const std::set<std::size_t> gone = {4, 9, 14};
  const fs::path set = dir.path / "prepared/snp";
  EXPECT_EQ(slurp(set / "phenotype.dat"), without_subjects(slurp(s.direct / "phenotype.dat"), gone, true));
  EXPECT_EQ(slurp(set / "raw.dat"), without_subjects(slurp(s.direct / "raw.dat"), gone, false));
  EXPECT_EQ(slurp(set / "CN.dat"), without_subjects(slurp(s.direct / "CN.dat"), gone, false));
  EXPECT_EQ(slurp(set / "raw.info"), slurp(s.direct / "raw.info"));
}

TEST(PrepareSelection, CarriersListsAndRegionsChooseTheProbes) {
  TempDir dir("selection");
  const Study s = simulate(dir.path, "--subjects 150 --probes 110 --seed 12 --freq0 0.01 --freq1 0.03 --probe-type CN");
  // Carriers counted independently: subjects whose called copy number is not 2.
  const auto info = lines_of(slurp(s.direct / "CN.info"));
  const auto called = lines_of(slurp(s.direct / "CN.dat"));
  const auto results = lines_of((analyse(s.direct)).results);
  std::vector<int> carriers;
  for (const auto& line : called) {
    int c = 0;
    for (const auto& w : words(line)) c += w != "2";
    carriers.push_back(c);
  }
  struct Case {
    const char* name;
    const char* options;
    std::function<bool(std::size_t)> chosen;  // by probe index
  };
  const std::vector<Case> cases = {
      {"default", "", [&](std::size_t p) { return carriers[p] >= 2; }},  // min(10, 1% of 150)
      {"carriers", "--min-carriers 6", [&](std::size_t p) { return carriers[p] >= 6; }},
      {"share", "--min-carrier-share 0.05", [&](std::size_t p) { return carriers[p] >= 8; }},
      {"region_and_list", "--region chr2:1-999999999 --probes chosen.txt",
       [&](std::size_t p) { return words(info[p])[1] == "2" || p == 0 || p == 40; }},
      {"regions_with_carriers", "--region 2:1-999999999 --region chr3:1-999999999 --min-carriers 6",
       [&](std::size_t p) { return (words(info[p])[1] == "2" || words(info[p])[1] == "3") && carriers[p] >= 6; }},
  };
  spit(dir.path / "chosen.txt", words(info[0])[0] + "\n" + words(info[40])[0] + "\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = std::string("set_") + c.name;
    const RunResult r = prepare(s, out, std::string("--differential 0 --effect K ") + c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected_info, expected_results = {results[0], results[1]};
    for (std::size_t p = 0; p < info.size(); ++p) {
      if (!c.chosen(p)) continue;
      expected_info.push_back(info[p]);
      expected_results.push_back(results[p + 2]);
    }
    ASSERT_GT(expected_info.size(), 2u);
    ASSERT_LT(expected_info.size(), info.size());
    const fs::path set = dir.path / out / "cn";
    EXPECT_EQ(slurp(set / "CN.info"), join_lines(expected_info));
    // Each probe's result depends on its own lines only.
    EXPECT_EQ(lines_of(analyse(set).results), expected_results);
  }
}

TEST(PrepareErrors, FaultsInTheInputsStopWithTheFileAndLine) {
  struct Case {
    const char* name;
    std::function<void(const Study&)> spoil;
    const char* extra;
    const char* message;
  };
  auto edit = [](const fs::path& path, const std::function<void(std::vector<std::string>&)>& f) {
    auto lines = lines_of(slurp(path));
    f(lines);
    spit(path, join_lines(lines));
  };
  auto signal_file = [](const Study& s, std::size_t i) {
    return fs::path(lines_of(slurp(s.penn / "signal.list"))[i]);
  };
  const std::vector<Case> cases = {
      {"rows_swapped", [&](const Study& s) { edit(signal_file(s, 2), [](auto& l) { std::swap(l[3], l[4]); }); }, "",
       "sample000003.txt', line 4: probe 'rs000004' stands where"},
      {"file_short", [&](const Study& s) { edit(signal_file(s, 1), [](auto& l) { l.pop_back(); }); }, "",
       "sample000002.txt', line 6: the file ends after 5 probe rows"},
      {"overlapping_calls",
       [&](const Study& s) {
         edit(s.penn / "calls.rawcnv", [](auto& l) {
           const auto w = words(l[0]);
           l.push_back(w[0] + " numsnp=1 length=1 state1,cn=0 " + w[4] + " startsnp=x endsnp=x");
         });
       },
       "", "calls.rawcnv', line 2"},  // the line number is checked below
      {"bad_status", [&](const Study& s) { edit(s.penn / "samples.txt", [](auto& l) { l[3] = "sample000003 3"; }); },
       "", "samples.txt', line 4: the status '3' of sample 'sample000003' is not 0 (control) or 1 (case)"},
      {"short_sheet_line",
       [&](const Study& s) { edit(s.penn / "samples.txt", [](auto& l) { l[2] = "sample000002"; }); }, "",
       "samples.txt', line 3: the line holds 1 values where the header names 2 columns"},
      {"no_baf_column",
       [&](const Study& s) {
         edit(signal_file(s, 0), [](auto& l) { l[0].replace(l[0].find("B Allele Freq"), 13, "Genotype"); });
       },
       "", "sample000001.txt', line 1: sample 'sample000001' has a column 'sample000001.Log R Ratio' but no column"},
      {"bad_region", [&](const Study& s) { edit(s.penn / "calls.rawcnv", [](auto& l) { l[0] = "chr1:100 numsnp=1 length=1 state1,cn=0 a"; }); },
       "", "calls.rawcnv', line 1: the region 'chr1:100' is not chr:start-end"},
      {"unknown_covariate", [](const Study&) {}, "--effect 'K age'",
       "the model names 'age', which is not a covariate"},
      {"listed_file_missing", [&](const Study& s) { fs::remove(signal_file(s, 3)); }, "",
       "signal.list', line 4: the signal file '"},
      {"two_files_one_sample",
       [&](const Study& s) {
         edit(s.penn / "signal.list", [](auto& l) { l[5] = l[2]; });
       },
       "", "sample000003.txt', line 1: sample 'sample000003' also has signal data in '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir(c.name);
    const Study s = simulate(dir.path, "--subjects 12 --probes 6 --seed 2 --freq1 0.3");
    c.spoil(s);
    const RunResult r = prepare(s, "prepared", c.extra);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    if (std::string(c.name) == "overlapping_calls") {
      const auto n = lines_of(slurp(s.penn / "calls.rawcnv")).size();
      EXPECT_NE(r.err.find("line " + std::to_string(n) + ": the call of sample"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("overlaps its call on line 1;"), std::string::npos) << r.err;
    }
  }
}

TEST(PrepareProgram, BadOptionsStopWithAnError) {
  TempDir dir("options");
  const std::string inputs = " --signal-list l --pfb p --calls c --samples s";
  const std::string cases[] = {
      inputs,  // no --out
      inputs + " --out o --bogus",
      inputs + " --out o --region chr1:5",
      inputs + " --out o --region chr99:1-5",
      inputs + " --out o --status-coding 2",
      inputs + " --out o --min-carrier-share 1.5",
      inputs + " --out o --min-carriers",
      inputs + " --out o --signal-table t",  // both signal forms
      " --signal-list l --pfb p --samples s --out o",  // no calls
      inputs + " --out o --bgzip=1",
  };
  for (const auto& args : cases) {
    const RunResult r = run_in(dir.path, std::string(QUILLMARK_PREPARE_BIN) + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << args << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(dir.path / "o"));
  const RunResult help = run_in(dir.path, std::string(QUILLMARK_PREPARE_BIN) + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--max-open-files"), std::string::npos);
}

#endif

// The index against a plain scan over every call, with queries in no particular order.
TEST(PrepareCallIndex, FindsExactlyTheCallsOverEachPosition) {
  std::mt19937_64 rng(17);
  CallIndex index;
  std::vector<std::pair<int, IndexedCall>> all;
  for (int i = 0; i < 3000; ++i) {
    IndexedCall call;
    const int chr = 1 + static_cast<int>(rng() % 3);
    call.start = static_cast<std::int64_t>(rng() % 100000);
    // Mostly short calls, some very long ones.
    const std::int64_t length = rng() % 10 == 0 ? static_cast<std::int64_t>(rng() % 60000) : static_cast<std::int64_t>(rng() % 300);
    call.end = call.start + length;
    call.subject = i;
    call.cn = static_cast<int>(rng() % 2);
    index.add(chr, call);
    all.emplace_back(chr, call);
  }
  index.finish();
  for (int q = 0; q < 2000; ++q) {
    const int chr = 1 + static_cast<int>(rng() % 4);
    const std::int64_t pos = static_cast<std::int64_t>(rng() % 170000) - 5000;
    std::vector<int> found, expected;
    index.for_each_covering(chr, pos, [&](const IndexedCall& c) { found.push_back(c.subject); });
    for (const auto& [c, call] : all)
      if (c == chr && call.start <= pos && pos <= call.end) expected.push_back(call.subject);
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(found, expected) << "chr " << chr << " position " << pos;
  }
  EXPECT_FALSE(index.find_overlap().found);  // every call has its own subject
}
