// End-to-end runs of the program: full standard output, results file and exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_harness.h"

namespace {

const std::string kStop = "\nQuillmark was stopped due to error(s) listed above.\n\n";

const std::string kAllDefaults =
    "\nDefaults in effect:\n"
    "        -- Specifications read from './specification.txt'\n"
    "        -- Phenotypes read from './phenotype.dat'\n"
    "        -- Raw intensities read from './raw.dat'\n"
    "        -- Information on raw intensities read from './raw.info'\n"
    "        -- Called CNs read from './CN.dat'\n"
    "        -- Information on called CNs read from './CN.info'\n"
    "        -- Results outputed to './results.out'\n"
    "        -- Study design is 'case-control'\n"
    "        -- Raw intensities from array 'I'\n"
    "        -- Request analysis at probe 'SNP'\n"
    "        -- Effect mode set to be 'additive'\n"
    "        -- DIFFERENTIAL_MEASUREMENT_ERRORS set to be '1'\n"
    "        -- No covariate is categorical\n"
    "        -- No covariate is correlated with genetic variables\n"
    "        -- The disease model only contains the main effect of the total copy number\n"
    "        -- Joint testing of all genetic effects\n"
    "\n";

const std::string kStandardCounts =
    "4 subjects, 1 disease variable and 0 covariates read from './phenotype.dat'\n"
    "7 rows read from './raw.dat'\n"
    "3 rows read from './CN.dat'\n";

const std::string kComplete = "\nQuillmark complete: <time>\n\n\n";

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(Run, DefaultsOnlyGoldenOutput) {
  FixtureDir dir;
  write_standard_inputs(dir);
  const RunOutput run = dir.run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, run_head() + kAllDefaults + kStandardCounts + kComplete);
  EXPECT_EQ(compare_results(dir.read("results.out"), standard_probes()), "");
}

TEST(Run, FullSpecificationGoldenOutput) {
  FixtureDir dir;
  dir.write("cn_model.txt",
            "PHENOTYPE_FILE = ./pheno_cov.dat\n"
            "RAW_INTENSITY_DAT_FILE = ./cn_raw.dat\n"
            "RAW_INTENSITY_INFO_FILE = ./cn_raw.info\n"
            "\n"
            "CALLED_CN_DAT_FILE\t=\t./cn_calls.dat\n"
            "CALLED_CN_INFO_FILE = ./cn_calls.info\n"
            "RESULT_FILE = ./cn_results.txt ignored\n"
            "PROBE_TYPE = CN\n"
            "ARRAY_TYPE = T\n"
            "DIFFERENTIAL_MEASUREMENT_ERRORS : 0\n"
            "CATEGORICAL = batch\n"
            "EFFECT = K age batch K*age\n"
            "TEST = K*age\n");
  dir.write("pheno_cov.dat",
            "y age batch\n"
            "0 30 1\n"
            "1 41.5 2 extra\n"
            "0 55 3\n"
            "1 47 1\n"
            "0 39 2\n");
  dir.write("cn_calls.info", "cnA 3 12345 0.5\ncnB 3 23456 0.125\n");
  dir.write("cn_raw.info", "cnA\ncnB\n");
  dir.write("cn_raw.dat", "0.1 -0.2 NA 0.05 nan\n-0.5 -inf 0.3 Inf 0.2\n");
  dir.write("cn_calls.dat", "2 2 1 2 2\n1 0 2 2 3\n");
  const RunOutput run = dir.run({"--spec_file", "./cn_model.txt"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            run_head() +
                "        -- '--spec_file' Model specifications read from './cn_model.txt'\n"
                "        -- Phenotypes read from './pheno_cov.dat'\n"
                "        -- Raw intensities read from './cn_raw.dat'\n"
                "        -- Information on raw intensities read from './cn_raw.info'\n"
                "        -- Called CNs read from './cn_calls.dat'\n"
                "        -- Information on called CNs read from './cn_calls.info'\n"
                "        -- Results outputed to './cn_results.txt'\n"
                "        -- Request analysis at probe 'CN'\n"
                "        -- Raw intensities from array 'T'\n"
                "        -- DIFFERENTIAL_MEASUREMENT_ERRORS set to be '0'\n"
                "        -- Categorical covariates: 'batch'\n"
                "        -- Disease model includes effects: 'K' 'age' 'batch' 'K*age'\n"
                "        -- Joint testing of effects: 'K*age'\n"
                "\nDefaults in effect:\n"
                "        -- Study design is 'case-control'\n"
                "        -- Effect mode set to be 'additive'\n"
                "        -- No covariate is correlated with genetic variables\n"
                "\n"
                "5 subjects, 1 disease variable and 2 covariates read from './pheno_cov.dat'\n"
                "2 rows read from './cn_raw.dat'\n"
                "2 rows read from './cn_calls.dat'\n" +
                kComplete);
  EXPECT_EQ(compare_results(dir.read("cn_results.txt"),
                            {{3, 12345, "cnA", 0.5}, {3, 23456, "cnB", 0.125}}),
            "");
  EXPECT_FALSE(dir.exists("results.out"));
}

TEST(Run, CommandLine) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string after_head;  // whole output after the head for failures; a part for successes
  };
  const std::vector<Case> cases = {
      {"unknown option",
       {"--spec", "x"},
       1,
       "        -- '--spec' \nError: Unknown command line option '--spec'.\n" + kStop},
      {"positional argument",
       {"./specification.txt"},
       1,
       "        -- './specification.txt' \nError: Unknown command line option "
       "'./specification.txt'.\n" +
           kStop},
      {"spec_file without a path",
       {"--spec_file"},
       1,
       "        -- '--spec_file' \nError: Option '--spec_file' needs a path.\n" + kStop},
      {"missing spec file",
       {"--spec_file", "./none.txt"},
       1,
       "        -- '--spec_file' Model specifications read from './none.txt'\n"
       "\nError: './none.txt' does not exist.\n" +
           kStop},
      {"second spec_file wins",
       {"--spec_file", "./none.txt", "--spec_file", "./other.txt"},
       0,
       "        -- '--spec_file' Model specifications read from './none.txt'\n"
       "        -- '--spec_file' Model specifications read from './other.txt'\n"
       "        -- Request analysis at probe 'SNP'\n"
       "\nDefaults in effect:\n"
       "        -- Phenotypes read from './phenotype.dat'\n"},
      {"spec_file path of 300 characters",
       {"--spec_file", long_relative_path(300)},
       0,
       "        -- '--spec_file' Model specifications read from '" + long_relative_path(300) +
           "'\n        -- Request analysis at probe 'SNP'\n"},
  };
  for (const Case& c : cases) {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("other.txt", "PROBE_TYPE = SNP\n");
    dir.write(long_relative_path(300), "PROBE_TYPE = SNP\n");
    const RunOutput run = dir.run(c.args);
    EXPECT_EQ(run.status, c.status) << c.what;
    if (c.status == 0) {
      EXPECT_NE(run.out.find(run_head() + c.after_head), std::string::npos) << c.what << "\n"
                                                                            << run.out;
    } else {
      EXPECT_EQ(run.out, run_head() + c.after_head) << c.what;
      EXPECT_FALSE(dir.exists("results.out")) << c.what;
    }
  }
}

TEST(Run, BlankLinesAndRawRowSkip) {
  // Blank lines are not subjects or rows; the standard set has them in every file, and
  // its non-numeric first raw.dat line is skipped because rs1 is row 1 of raw.info.
  {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("phenotype.dat", "\n\nstatus\n\n0\n \t\n1\n0\n1\n\n");
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(kStandardCounts), std::string::npos) << run.out;
    EXPECT_EQ(compare_results(dir.read("results.out"), standard_probes()), "");
  }
  // No probes: the results file holds its two header lines only.
  {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("CN.info", "\n\n");
    dir.write("CN.dat", "\n");
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("7 rows read from './raw.dat'\n0 rows read from './CN.dat'\n"),
              std::string::npos);
    EXPECT_EQ(compare_results(dir.read("results.out"), {}), "");
  }
  // A first probe that raw.info does not name: raw.dat is read from its first line.
  {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("raw.info", "a\nb\nc\nd\ne\nf\n");
    dir.write("raw.dat",
              "0.01 -0.02 0.03 0.00\n0.02 0.51 0.98 0.49\n0.1 0.2 0.3 0.4\n"
              "0.5 0.0 0.5 1.0\n0.1 0.1 0.0 0.2\n0.0 1.0 0.5 0.5\n");
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(compare_results(dir.read("results.out"), standard_probes()), "");
  }
}

TEST(Run, MissingDefaultInputsAndUnwritableResults) {
  struct Case {
    const char* what;
    const char* remove;    // default file to delete
    std::string spec;      // specification file
    std::string error;     // the error message before the stop message
    bool results_written;  // the results file exists afterwards
  };
  const std::vector<Case> cases = {
      {"no specification file", "specification.txt", "",
       "\nError: './specification.txt' does not exist.\n", false},
      {"no phenotype file", "phenotype.dat", "", "\nError: './phenotype.dat' does not exist.\n",
       false},
      {"no raw info file", "raw.info", "", "\nError: './raw.info' does not exist.\n", false},
      {"no CN info file", "CN.info", "", "\nError: './CN.info' does not exist.\n", false},
      {"no CN data file", "CN.dat", "", "\nError: './CN.dat' does not exist.\n", false},
      {"no raw data file", "raw.dat", "", "\nError: './raw.dat' does not exist.\n", false},
      {"results in a missing directory", "", "RESULT_FILE = ./no/such/dir.out\n",
       "\nError: Results file './no/such/dir.out' cannot be created.\n", false},
      {"a directory as input file", "", "RAW_INTENSITY_INFO_FILE = .\n",
       "\nError: Cannot read '.'.\n", false},
      {"results over an input file", "", "RESULT_FILE = ././CN.dat\n",
       "\nError: Results file '././CN.dat' would overwrite the input file './CN.dat'.\n", false},
      {"results on a full device", "", "RESULT_FILE = /dev/full\n",
       "\nError: Cannot write to results file '/dev/full'.\n", false},
  };
  for (const Case& c : cases) {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("specification.txt", c.spec);
    if (*c.remove != '\0') dir.remove(c.remove);
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_TRUE(ends_with(run.out, c.error + kStop)) << c.what << "\n" << run.out;
    EXPECT_EQ(run.out.find("Quillmark complete"), std::string::npos) << c.what;
    EXPECT_EQ(dir.exists("results.out"), c.results_written) << c.what;
  }
}

TEST(Run, MalformedInputStopsAtTheFirstBadValue) {
  struct Case {
    const char* what;
    const char* file;
    std::string text;
    std::string error;  // the error line, without its leading line break
    int lines_before;   // probe lines written before the stop; -1: no results file
  };
  const std::vector<Case> cases = {
      {"called CNs end early", "CN.dat", "2 2 2 2\n2 1 2 3\n\n",
       "Error: './CN.dat' has 2 lines but './CN.info' has 3 probes.", -1},
      {"intensities end early", "raw.dat",
       "x\n0.01 -0.02 0.03 0.00\n0.02 0.51 0.98 0.49\n-0.4 0.02 NA 0.01\n0.5 0.0 nan 1.0\n-inf 0.1 "
       "0.0 0.2\n",
       "Error: './raw.dat' has 6 lines but './raw.info' has 7 rows.", -1},
      {"raw rows to skip beyond the file", "raw.info", "a\nb\nc\nd\ne\nf\ng\nh\nrs1\n",
       "Error: './raw.dat' has 7 lines but './raw.info' has 9 rows.", -1},
      {"short called-CN line", "CN.dat", "2 2 2 2\n2 1 2\n0 2 2 2\n",
       "Error: './CN.dat', line 2, field 4: value missing; probe 'rs2' needs 4 values, one per "
       "subject, "
       "and the line holds 3.",
       1},
      {"short intensity line", "raw.dat",
       "x\n0.01 -0.02 0.03 0.00\n0.02 0.51 0.98 0.49\n-0.4 0.02 NA 0.01\n0.5 0.0\n1\n1\n",
       "Error: './raw.dat', line 5, field 3: value missing; probe 'rs2' needs 4 values, one per "
       "subject, "
       "and the line holds 2.",
       1},
      {"raw row of another probe", "raw.info", "ctrl\nrs1 1 1000\nrs1 1 1000\n\nrs3\nrs3\nrs3\nrs3\n",
       "Error: './raw.info', line 5: the row is named 'rs3' where the intensities of probe 'rs2' "
       "are expected.",
       1},
      {"raw rows end before the last probe", "raw.info", "ctrl\nctrl\nrs1\nrs1\nrs2\nrs2\nrs3\n",
       "Error: './raw.info' ends before the row of probe 'rs3'.", 2},
      {"called CN not a number", "CN.dat", "2 2 2 2\n2 1 2 3\n0 2 x 2\n",
       "Error: './CN.dat', line 3, field 3: called copy number 'x' of probe 'rs3' is not an "
       "integer.",
       2},
      {"called CN not an integer", "CN.dat", "2 2.0 2 2\n2 2 2 2\n2 2 2 2\n",
       "Error: './CN.dat', line 1, field 2: called copy number '2.0' of probe 'rs1' is not an "
       "integer.",
       0},
      {"called CN below 0", "CN.dat", "2 2 2 2\n2 -1 2 3\n2 2 2 2\n",
       "Error: './CN.dat', line 2, field 2: called copy number '-1' of probe 'rs2' is below 0.", 1},
      {"intensity not a number", "raw.dat",
       "x\n0.01 -0.02 0.03 0.00\n0.02 0.51 0.98 0.49\n-0.4 0.02 N/A 0.01\n1\n1\n1\n",
       "Error: './raw.dat', line 4, field 3: R intensity 'N/A' of probe 'rs2' is not a number.", 1},
      {"B intensity with trailing text", "raw.dat",
       "x\n0.01 -0.02 0.03 0.00\n0.02 0.51 0.98q 0.49\n1\n1\n1\n1\n",
       "Error: './raw.dat', line 3, field 3: B intensity '0.98q' of probe 'rs1' is not a number.",
       0},
      {"disease status 2", "phenotype.dat", "status\n0\n1\n2\n1\n",
       "Error: './phenotype.dat', line 4, field 1: disease status '2' is not 0 or 1.", -1},
      {"disease status not an integer", "phenotype.dat", "status\n0\n1.0\n",
       "Error: './phenotype.dat', line 3, field 1: disease status '1.0' is not 0 or 1.", -1},
      {"phenotype without header", "phenotype.dat", "0\n1\n0\n1\n",
       "Error: Header line is missing in './phenotype.dat'.", -1},
      {"probe chromosome neither a number nor X, Y, XY, MT", "CN.info", "rs1 1 1000 0.25\nrs2 chrZ 2000 0.5\n",
       "Error: './CN.info', line 2, field 2: the chromosome 'chrZ' of probe 'rs2' is not an integer.",
       -1},
      {"probe position not an integer", "CN.info", "rs1 1 1e3 0.25\n",
       "Error: './CN.info', line 1, field 3: the position '1e3' of probe 'rs1' is not an integer.",
       -1},
      {"probe without pfb", "CN.info", "rs1 1 1000 0.25\n\nrs2 1 2000\n",
       "Error: './CN.info', line 3, field 4: the pfb of probe 'rs2' is missing.", -1},
  };
  for (const Case& c : cases) {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write(c.file, c.text);
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_TRUE(ends_with(run.out, "\n" + c.error + "\n" + kStop)) << c.what << "\n" << run.out;
    EXPECT_EQ(run.out.find("Quillmark complete"), std::string::npos) << c.what;
    if (c.lines_before < 0) {
      EXPECT_FALSE(dir.exists("results.out")) << c.what;
    } else {
      const std::string results = dir.read("results.out");
      EXPECT_EQ(count_probe_lines(results), c.lines_before) << c.what << "\n" << results;
      std::vector<ExpectedProbe> written = standard_probes();
      written.resize(static_cast<std::size_t>(c.lines_before));
      EXPECT_EQ(compare_results(results, written), "") << c.what;
    }
  }
}

TEST(Run, PhenotypeCovariateValuesAreChecked) {
  struct Case {
    const char* what;
    std::string phenotype;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"missing covariate value", "status age sex\n0 31 1\n1 45\n",
       "Error: './phenotype.dat', line 3, field 3: the value of covariate 'sex' is missing."},
      {"NA covariate", "status age sex\n0 NA 1\n",
       "Error: './phenotype.dat', line 2, field 2: the value 'NA' of covariate 'age' is not a "
       "finite number."},
      {"infinite covariate", "status age sex\n0 31 1\n1 45 -inf\n",
       "Error: './phenotype.dat', line 3, field 3: the value '-inf' of covariate 'sex' is not a "
       "finite number."},
      {"text covariate", "status age sex\n0 31 male\n",
       "Error: './phenotype.dat', line 2, field 3: the value 'male' of covariate 'sex' is not a "
       "finite number."},
  };
  for (const Case& c : cases) {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("specification.txt", "PHENOTYPE_FILE = ./phenotype.dat\n");
    dir.write("phenotype.dat", c.phenotype);
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_TRUE(ends_with(run.out, "\n" + c.error + "\n" + kStop)) << c.what << "\n" << run.out;
  }
}

TEST(Run, LongDataLinesAreReadWhole) {
  // 30,000 subjects: data lines of well over 100,000 characters.
  const int n = 30000;
  std::string phenotype = "status\n";
  std::string calls;
  std::string r_line;
  std::string b_line;
  for (int i = 0; i < n; ++i) {
    phenotype += i % 2 == 0 ? "0\n" : "1\n";
    calls += i % 3 == 0 ? "1 " : "2 ";
    r_line += "-0.012345 ";
    b_line += "0.498765 ";
  }
  FixtureDir dir;
  write_standard_inputs(dir);
  dir.write("phenotype.dat", phenotype);
  dir.write("CN.info", "rs1 1 1000 0.25\nrs2 1 2000 0.5\n");
  dir.write("raw.info", "rs1\nrs1\nrs2\nrs2\n");
  dir.write("CN.dat", calls + "\n" + calls + "\n");
  dir.write("raw.dat", r_line + "\n" + b_line + "\n" + r_line + "\n" + b_line + "\n");
  const RunOutput run = dir.run();
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("30000 subjects, 1 disease variable and 0 covariates"), std::string::npos);
  EXPECT_EQ(
      compare_results(dir.read("results.out"), {{1, 1000, "rs1", 0.25}, {1, 2000, "rs2", 0.5}}),
      "");

  // The last subject's value missing on the second probe's B line is found.
  dir.write("raw.dat", r_line + "\n" + b_line + "\n" + r_line + "\n" +
                           b_line.substr(0, b_line.size() - 9) + "\n");
  const RunOutput short_run = dir.run();
  EXPECT_EQ(short_run.status, 1);
  EXPECT_NE(short_run.out.find("Error: './raw.dat', line 4, field 30000: value missing"),
            std::string::npos)
      << short_run.out;
}

TEST(Run, ResultsComparisonAcceptsBothLineForms) {
  const std::string head =
      "Chr   Position     CN/SNP-id      pfb   Test-Stat   p-Value \n"
      "---  ---------  ---------------  -----  ---------  ---------\n";
  const std::vector<ExpectedProbe> probes = {{1, 1000, "rs1", 0.25}, {22, 300, "rs3", 0.75}};
  EXPECT_EQ(compare_results(head + "  1       1000  rs1              0.250     NA        NA    \n"
                                   " 22        300  rs3              0.750     3.8415  5.00e-02\n",
                            probes),
            "");
  EXPECT_EQ(compare_results(head + "  1       1000  rs1              0.250  12345.6789  1.23e-15\n",
                            {probes[0]}),
            "");
  EXPECT_NE(compare_results(head + "  1       1000  rs1              0.250     3.84  5.00e-02\n",
                            {probes[0]}),
            "");
  EXPECT_NE(compare_results(head + "  1       1000  rs1              0.250        nan  nan\n",
                            {probes[0]}),
            "");
  EXPECT_NE(compare_results(head + "  1       1000  rs1              0.250     NA        NA    \n",
                            probes),
            "");
  EXPECT_NE(compare_results(head, probes), "");
}
