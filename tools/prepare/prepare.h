// quillmark-prepare: ready-to-run Quillmark input sets from the files of a
// PennCNV user (signal files, .pfb, calls, sample sheet).
//
// Output in settings.out: snp/ and cn/ (probes with PFB = 2), each holding
// phenotype.dat, raw.dat, raw.info, CN.dat, CN.info and specification.txt,
// and sample_outcomes.txt with the outcome of every sample. Subjects are the samples
// of the sample sheet, in its order, that have signal data and no missing value.
// Intensity tokens are copied as written (an empty one becomes NA), so a set
// prepared from the PennCNV form of a study equals the study's own files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// How the sample sheet codes disease status.
enum class StatusCoding {
  Auto,    // 1/2 when some status is 2, else 0/1
  ZeroOne, // 0 control, 1 case
  OneTwo,  // PLINK: 1 control, 2 case, 0 missing
};

// A stretch of one chromosome, both ends included.
struct Region {
  int chromosome = 0;
  std::int64_t from = 0;
  std::int64_t to = 0;
};

// Parses "chr:from-to" (chromosome as chromosome_code reads it); false when malformed.
bool parse_region(std::string_view text, Region& region);

struct PrepareSettings {
  std::string signal_list;          // file listing per-sample signal files, one a line
  std::string signal_table;         // or: one table holding the columns of all samples
  std::string pfb;                  // .pfb file
  std::vector<std::string> calls;   // .rawcnv or PLINK .cnv files
  std::string samples;              // sample sheet
  std::string out;                  // output directory
  int min_carriers = -1;            // probes need this many carriers (-1: not given)
  double min_carrier_share = -1.0;  // or this share of the subjects as carriers (-1: not given)
  std::string probe_list;           // file of probe names to analyse (empty: none)
  std::vector<Region> regions;      // stretches to analyse (empty: none)
  std::vector<std::string> covariates;  // sample sheet columns to keep (empty: all)
  bool covariates_given = false;    // --covariates was given (possibly empty: none)
  StatusCoding status_coding = StatusCoding::Auto;
  char array_type = 'I';            // ARRAY_TYPE of the SNP set ('I' or 'A')
  std::string differential;         // DIFFERENTIAL_MEASUREMENT_ERRORS ("" = not written)
  std::string effect, test, categorical, dependent;  // settings lines ("" = not written)
  bool bgzip = false;               // write raw.dat and CN.dat bgzip-compressed (.gz)
  int max_open_files = 0;           // signal files open at once (0: what the system allows)
};

// What a run found and wrote.
struct PrepareSummary {
  int sheet_samples = 0;
  int signal_samples = 0;
  int subjects = 0;
  std::vector<std::string> without_signal;   // in the sheet, no signal data
  std::vector<std::string> without_sheet;    // signal data, not in the sheet
  std::vector<std::string> missing_value;    // dropped for NA or -9
  long calls_read = 0;
  long calls_used = 0;                       // of subjects, copy number other than 2
  long calls_copy_neutral = 0;               // copy number 2: nothing to mark
  long calls_other_samples = 0;              // of samples that are not subjects
  long calls_unplaced = 0;                   // on no known chromosome
  long calls_unknown = 0;                    // naming no known sample
  std::vector<std::string> unknown_call_samples;
  long rows = 0;                             // probe rows of the signal data
  long rows_not_in_pfb = 0;
  int carrier_threshold = 0;                 // 0: every probe of the list or regions
  long snp_probes = 0;
  long cn_probes = 0;
  int reading_groups = 1;                    // passes over the signal files
};

// Reads the inputs, writes the sets and prints the report on `report`.
// Throws InputError for any fault in the inputs or when a file cannot be written.
PrepareSummary run_prepare(const PrepareSettings& settings, std::FILE* report);
