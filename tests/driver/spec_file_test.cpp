// The specification file: end-to-end cases of accepted and rejected files, and the
// option tables it leaves behind.
#include "driver/spec_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/data.h"
#include "driver/model_setup.h"
#include "driver/option.h"
#include "core/para.h"
#include "driver/stop.h"
#include "run_harness.h"

namespace {

const std::string kStop = "\nQuillmark was stopped due to error(s) listed above.\n\n";
const std::string kPheno = "        -- Phenotypes read from './phenotype.dat'\n";

struct SpecCase {
  const char* what;
  std::string spec;
  int status;
  // For a stopped run: everything after "Options in effect:\n". For a complete run: the
  // report lines of the specification file, which must stand right after that head.
  std::string expected;
};

// The phenotype file of the standard set, with a column named "age*sex" for the
// two-"*" case.
const std::string kStarHeader =
    "status age sex age*sex\n0 31.5 1 0\n1 45 2 1\n0 52 1 0\n1 38 2 1\n";

std::string many_covariates(int count) {
  std::string header = "status";
  std::string row = "0";
  for (int j = 0; j < count; ++j) {
    header += " c" + std::to_string(j);
    row += " 1";
  }
  return header + "\n" + row + "\n" + row + "\n";
}

}  // namespace

TEST(SpecFile, CasesEndToEnd) {
  const std::string path300 = long_relative_path(300);
  const std::vector<SpecCase> cases = {
      {"empty file", "", 0,
       "\nDefaults in effect:\n        -- Specifications read from './specification.txt'\n"},
      {"blank lines only", "\n   \n\t\t\n\r\n", 0,
       "\nDefaults in effect:\n        -- Specifications read from './specification.txt'\n"},
      {"keyword and separator only", "PROBE_TYPE = CN\nDESIGN = case-control\nEFFECT =\n", 1,
       "\nError: 'EFFECT' cannot be empty.\n" + kStop},
      {"keyword alone", "TEST\n", 1, "\nError: 'TEST' cannot be empty.\n" + kStop},
      {"unknown keyword", "PROBE_TYPE = CN\n# a comment\n", 1,
       "        -- Request analysis at probe 'CN'\n\nError: Unknown KEYWORD '#'.\n" + kStop},
      {"keywords are case-sensitive", "probe_type = CN\n", 1,
       "\nError: Unknown KEYWORD 'probe_type'.\n" + kStop},
      {"ARRAY_TYPE T with the default SNP", "ARRAY_TYPE = T\nDESIGN = case-control\n", 1,
       "        -- Raw intensities from array 'T'\n        -- Study design is 'case-control'\n"
       "\nError: Probe type 'SNP' not allowed when 'ARRAY_TYPE = T'" +
           kStop},
      {"ARRAY_TYPE T with CN", "PROBE_TYPE = CN\nARRAY_TYPE = T\n", 0,
       "        -- Request analysis at probe 'CN'\n        -- Raw intensities from array 'T'\n"},
      {"ARRAY_TYPE of two letters", "ARRAY_TYPE = II\n", 1,
       "\nError: ARRAY_TYPE must be 'I', 'A' or 'T'.\n" + kStop},
      {"ARRAY_TYPE lower case", "ARRAY_TYPE = a\n", 1,
       "\nError: ARRAY_TYPE must be 'I', 'A' or 'T'.\n" + kStop},
      {"ARRAY_TYPE A, extra values ignored", "ARRAY_TYPE = A T\n", 0,
       "        -- Raw intensities from array 'A'\n"},
      {"DESIGN", "DESIGN = cohort\n", 1,
       "\nError: DESIGN must be 'case-control' for the current version.\n" + kStop},
      {"PROBE_TYPE", "PROBE_TYPE = snp\n", 1,
       "\nError: PROBE_TYPE must be 'SNP' or 'CN'.\n" + kStop},
      {"EFFECT_MODE", "EFFECT_MODE = dominant\n", 1,
       "\nError: EFFECT_MODE must be 'additive' for this version.\n" + kStop},
      {"DIFFERENTIAL_MEASUREMENT_ERRORS 0", "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\n", 0,
       "        -- DIFFERENTIAL_MEASUREMENT_ERRORS set to be '0'\n"},
      {"DIFFERENTIAL_MEASUREMENT_ERRORS 2", "DIFFERENTIAL_MEASUREMENT_ERRORS = 2\n", 1,
       "\nError: DIFFERENTIAL_MEASUREMENT_ERRORS must be '1' or '0'.\n" + kStop},
      {"missing input file",
       "RAW_INTENSITY_INFO_FILE = ./raw.info\nCALLED_CN_DAT_FILE = ./calls.dat\n", 1,
       "        -- Information on raw intensities read from './raw.info'\n"
       "\nError: './calls.dat' does not exist.\n" +
           kStop},
      {"300-character path", "RAW_INTENSITY_DAT_FILE = " + path300 + "\n", 0,
       "        -- Raw intensities read from '" + path300 + "'\n"},
      {"header-less phenotype file", "PHENOTYPE_FILE = ./nohead.dat\n", 1,
       "        -- Phenotypes read from './nohead.dat'\n\nError: Header line is missing in "
       "'./nohead.dat'.\n" +
           kStop},
      {"empty phenotype file", "PHENOTYPE_FILE = ./empty.dat\n", 1,
       "        -- Phenotypes read from './empty.dat'\n\nError: Header line is missing in "
       "'./empty.dat'.\n" +
           kStop},
      {"EFFECT with a product only", "PHENOTYPE_FILE = ./phenotype.dat\nEFFECT = K*age\n", 0,
       kPheno + "        -- Disease model includes effects: 'K*age'\n"},
      {"EFFECT term with two stars", "PHENOTYPE_FILE = ./phenotype.dat\nEFFECT = K K*age*sex\n", 1,
       kPheno +
           "        -- Disease model includes effects: 'K'\nError: Unknown effect 'age*sex' in "
           "EFFECT\n" +
           kStop},
      {"two stars naming a column", "PHENOTYPE_FILE = ./star.dat\nEFFECT = K*age*sex\n", 0,
       "        -- Phenotypes read from './star.dat'\n        -- Disease model includes effects: "
       "'K*age*sex'\n"},
      {"EFFECT of an unknown name", "EFFECT = K height\n", 1,
       "        -- Disease model includes effects: 'K'\nError: Unknown effect 'height' in "
       "EFFECT\n" +
           kStop},
      {"TEST of L without L in EFFECT", "EFFECT = K\nTEST = L\n", 1,
       "        -- Disease model includes effects: 'K'\n        -- Joint testing of effects:"
       "\nError: Unknown effect 'L' in TEST\n" +
           kStop},
      {"TEST of a covariate outside the model", "PHENOTYPE_FILE = ./phenotype.dat\nTEST = K age\n",
       1,
       kPheno +
           "        -- Joint testing of effects: 'K'\nError: 'age' in TEST is not in EFFECT.\n" +
           kStop},
      {"TEST of a product outside the model",
       "PHENOTYPE_FILE = ./phenotype.dat\nEFFECT = K age\nTEST = K*age\n", 1,
       kPheno +
           "        -- Disease model includes effects: 'K' 'age'\n        -- Joint testing of "
           "effects:"
           "\nError: 'K*age' in TEST is not in EFFECT.\n" +
           kStop},
      {"TEST of a product part unknown", "EFFECT = K\nTEST = K*height\n", 1,
       "        -- Disease model includes effects: 'K'\n        -- Joint testing of effects:"
       "\nError: Unknown effect 'height' in TEST\n" +
           kStop},
      {"L with CN probes", "PROBE_TYPE = CN\nEFFECT = K L\n", 1,
       "        -- Request analysis at probe 'CN'\n        -- Disease model includes effects: 'K' "
       "'L'"
       "\n\nError: Effect 'L' not allowed when 'PROBE_TYPE = CN'\n" +
           kStop},
      {"CATEGORICAL of an unknown name",
       "PHENOTYPE_FILE = ./phenotype.dat\nCATEGORICAL = sex height\n", 1,
       kPheno +
           "        -- Categorical covariates: 'sex'"
           "\nError: CATEGORICAL must take values among the column names of './phenotype.dat'.\n" +
           kStop},
      {"DEPENDENT of a genetic variable", "PHENOTYPE_FILE = ./phenotype.dat\nDEPENDENT = K\n", 1,
       kPheno +
           "        -- Covariates correlated with genetic effects:"
           "\nError: DEPENDENT must take values among the column names of './phenotype.dat'.\n" +
           kStop},
      {"PHENOTYPE_FILE after EFFECT", "EFFECT = K\nPHENOTYPE_FILE = ./phenotype.dat\n", 1,
       "        -- Disease model includes effects: 'K'\n"
       "\nError: PHENOTYPE_FILE must come before CATEGORICAL, DEPENDENT, EFFECT and TEST.\n" +
           kStop},
      {"PHENOTYPE_FILE twice", "PHENOTYPE_FILE = ./phenotype.dat\nPHENOTYPE_FILE = ./star.dat\n", 1,
       kPheno + "\nError: PHENOTYPE_FILE is given more than once.\n" + kStop},
      {"header name of 300 characters", "PHENOTYPE_FILE = ./longname.dat\nEFFECT = K " +
           std::string(300, 'n') + "\n", 0,
       "        -- Phenotypes read from './longname.dat'\n"
       "        -- Disease model includes effects: 'K' '" + std::string(300, 'n') + "'\n"},
      {"header naming K", "PHENOTYPE_FILE = ./k.dat\n", 1,
       "        -- Phenotypes read from './k.dat'\n"
       "\nError: Column name 'K' in './k.dat' is reserved for a genetic variable.\n" +
           kStop},
      {"header naming a column twice", "PHENOTYPE_FILE = ./twice.dat\n", 1,
       "        -- Phenotypes read from './twice.dat'\n"
       "\nError: Column name 'age' appears more than once in './twice.dat'.\n" +
           kStop},
      {"20 covariates", "PHENOTYPE_FILE = ./wide20.dat\n", 1,
       "        -- Phenotypes read from './wide20.dat'\n"
       "\nError: './wide20.dat' names 20 covariates; at most 19 are allowed (20 variables with the "
       "genetic "
       "variables).\n" +
           kStop},
      {"19 covariates and L", "PHENOTYPE_FILE = ./wide19.dat\nEFFECT = K L\n", 1,
       "        -- Phenotypes read from './wide19.dat'\n        -- Disease model includes effects: "
       "'K'"
       "\nError: No room for 'L' in EFFECT: at most 20 variables, covariates and genetic variables "
       "together.\n" +
           kStop},
      {"a line far longer than 99 characters",
       "PHENOTYPE_FILE = ./phenotype.dat\nEFFECT = K" + std::string(200, ' ') + "L" +
           std::string(200, '\t') + "L*age\n",
       0, kPheno + "        -- Disease model includes effects: 'K' 'L' 'L*age'\n"},
      {"dependent with independent covariates",
       "PHENOTYPE_FILE = ./phenotype.dat\nDEPENDENT = sex\nEFFECT = K age sex\n", 1,
       kPheno +
           "        -- Covariates correlated with genetic effects: 'sex'\n"
           "        -- Disease model includes effects: 'K' 'age' 'sex'\n"
           "\nDefaults in effect:\n"
           "        -- Specifications read from './specification.txt'\n"
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
           "        -- Joint testing of all genetic effects\n"
           "\n"
           "4 subjects, 1 disease variable and 2 covariates read from './phenotype.dat'\n"
           "7 rows read from './raw.dat'\n"
           "3 rows read from './CN.dat'\n"
           "\nError: Dependent and independent covariates are not allowed to co-exist in the "
           "current "
           "version\n" +
           kStop},
  };
  for (const SpecCase& c : cases) {
    FixtureDir dir;
    write_standard_inputs(dir);
    dir.write("specification.txt", c.spec);
    if (c.spec.find("PROBE_TYPE = CN") != std::string::npos) {
      // A CN probe has one intensity row.
      dir.write("raw.info", "ctrl\nrs1\nrs2\nrs3\n");
      dir.write("raw.dat", "x\n0.01 -0.02 0.03 0.00\n-0.4 0.02 NA 0.01\n-inf 0.1 0.0 0.2\n");
    }
    dir.write(path300, dir.read("raw.dat"));
    dir.write("nohead.dat", "0 31.5 1\n1 45 2\n");
    dir.write("empty.dat", "\n\n");
    dir.write("star.dat", kStarHeader);
    dir.write("longname.dat", "status " + std::string(300, 'n') + "\n0 1\n1 2\n0 3\n1 4\n");
    dir.write("k.dat", "status age K\n0 1 2\n");
    dir.write("twice.dat", "status age sex age\n0 1 2 3\n");
    dir.write("wide20.dat", many_covariates(20));
    dir.write("wide19.dat", many_covariates(19));
    const RunOutput run = dir.run();
    EXPECT_EQ(run.status, c.status) << c.what;
    if (c.status == 0) {
      EXPECT_EQ(run.out.substr(0, run_head().size() + c.expected.size()), run_head() + c.expected)
          << c.what;
      EXPECT_EQ(compare_results(dir.read("results.out"), standard_probes()), "") << c.what;
    } else {
      EXPECT_EQ(run.out, run_head() + c.expected) << c.what;
      EXPECT_FALSE(dir.exists("results.out")) << c.what;
    }
  }
}

namespace {

// Reads a specification file in-process; the paths in it are relative to `dir`.
OPTION read_spec_in(const FixtureDir& dir, const std::string& spec) {
  std::string absolute;
  const std::string marker = "./";
  for (std::size_t i = 0; i < spec.size(); ++i) {
    if (spec.compare(i, marker.size(), marker) == 0 && (i == 0 || spec[i - 1] == ' ')) {
      absolute += dir.path() + "/";
      ++i;
    } else {
      absolute += spec[i];
    }
  }
  dir.write("spec.txt", absolute);
  OPTION option;
  set_default_options(option);
  option.spec_file = dir.path() + "/spec.txt";
  testing::internal::CaptureStdout();
  bool stopped = false;
  try {
    read_spec_file(option);
  } catch (const RunStopped&) {
    stopped = true;
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(stopped) << out;
  return option;
}

}  // namespace

TEST(SpecFile, TablesLeftForTheModelSetUp) {
  FixtureDir dir;
  write_standard_inputs(dir);
  {
    // A product alone marks itself and K, not the covariate's main effect; the set-up
    // then leaves the covariate and the product out of the disease model.
    const OPTION o = read_spec_in(dir, "PHENOTYPE_FILE = ./phenotype.dat\nEFFECT = K*age\n");
    EXPECT_EQ(o.num_covariates, 2);
    EXPECT_EQ(o.variable_names[0], "age");
    EXPECT_EQ(o.variable_names[1], "sex");
    EXPECT_EQ(o.variable_names[2], "K");
    EXPECT_EQ(o.effect_table[2][2], 2);
    EXPECT_EQ(o.effect_table[2][0], 1);
    EXPECT_EQ(o.effect_table[0][2], 1);
    EXPECT_EQ(o.effect_table[0][0], 0);
    DATA data;
    data.num_subjects = 1;
    Matrix covariates = Matrix(1, 2);
    covariates.fill(1.0);
    PARA para;
    translate_options_to_para_data(o, para, data, covariates);
    EXPECT_EQ(para.design().model_family, ModelFamily::kRetrospective);
    EXPECT_EQ(para.design().num_covariate_columns, 0);
    EXPECT_EQ(para.design().num_disease_coefs, 1);
  }
  {
    const OPTION o = read_spec_in(dir, "DIFFERENTIAL_MEASUREMENT_ERRORS = 0\n");
    EXPECT_EQ(o.differential_measurement_errors, 0);
    EXPECT_EQ(o.differential_measurement_errors_given, 1);
  }
  {
    // L is appended after K; TEST marks 2 on both halves of a product; the table is
    // symmetric and holds only what EFFECT named.
    const OPTION o = read_spec_in(dir,
                                  "PHENOTYPE_FILE = ./phenotype.dat\nCATEGORICAL = sex\n"
                                  "DEPENDENT = age\nEFFECT = K L sex L*sex\nTEST = L*sex\n");
    EXPECT_EQ(o.num_genetic_names, 2);
    EXPECT_EQ(o.variable_names[3], "L");
    EXPECT_EQ(o.is_categorical[1], 1);
    EXPECT_EQ(o.dependence[0], 'D');
    EXPECT_EQ(o.dependence[1], 'I');
    const int expected[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 2}, {0, 0, 2, 0}, {0, 2, 0, 1}};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_EQ(o.effect_table[i][j], expected[i][j]) << i << "," << j;
    EXPECT_EQ(o.categorical_given + o.dependent_given + o.effect_given + o.test_given, 4);
  }
  {
    // A later EFFECT line clears what an earlier TEST marked.
    const OPTION o = read_spec_in(
        dir, "PHENOTYPE_FILE = ./phenotype.dat\nEFFECT = K age\nTEST = age\nEFFECT = K age\n");
    EXPECT_EQ(o.effect_table[0][0], 1);
    EXPECT_EQ(o.effect_table[2][2], 2);
  }
}
