// Readers of the files a PennCNV user holds: the .pfb file, calls in PennCNV
// .rawcnv or PLINK .cnv form, the sample sheet and the header of signal files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// PLINK's chromosome numbers: 1-22, X = 23, Y = 24, XY = 25, MT = 26; a "chr"
// prefix is allowed. 0 when the token names no chromosome.
int chromosome_code(std::string_view token);

// One probe of the .pfb file.
struct PfbProbe {
  int chromosome = 0;
  std::int64_t position = 0;
  std::string pfb;        // the PFB token as written, copied to the output unchanged
  bool cn_probe = false;  // PFB = 2: an intensity-only copy-number probe
};

struct PfbTable {
  std::unordered_map<std::string, PfbProbe> probes;
  long unplaced = 0;  // rows left out: their chromosome is not one of PLINK's
};

// Reads a .pfb file: an optional header line starting with "Name", then
// Name, Chr, Position, PFB per line. Throws InputError on a malformed line.
PfbTable read_pfb(const std::string& path);

// One call: a sample's copy number over a stretch of a chromosome.
struct CallLine {
  std::string_view sample;  // PennCNV: the signal file named in the call; PLINK: IID
  int chromosome = 0;       // 0 when not one of PLINK's chromosomes
  std::int64_t start = 0;
  std::int64_t end = 0;
  int cn = 2;
  long line = 0;
};

enum class CallFormat { PennCnv, Plink };

// Reads a calls file, PennCNV .rawcnv ("chr1:1000-5000 numsnp=10 length=4,001
// state2,cn=1 sample1.txt ...") or PLINK .cnv ("FID IID CHR BP1 BP2 TYPE SCORE
// SITES", header optional), told apart by the first line; passes every call to
// take. Returns the format. Throws InputError on a malformed line.
CallFormat read_calls(const std::string& path, const std::function<void(const CallLine&)>& take);

// The sample sheet: a header line naming the columns (ID, status, covariates),
// then one line per sample.
struct SampleSheet {
  std::string path;
  std::vector<std::string> columns;  // header names
  struct Row {
    std::string id;
    std::vector<std::string> values;  // the tokens after the ID, one per column
    long line = 0;
  };
  std::vector<Row> rows;
};

// Reads a sample sheet. Throws InputError for a missing header, a line whose
// number of values differs from the header's, or a repeated ID.
SampleSheet read_sample_sheet(const std::string& path);

// The columns of one sample in a signal file.
struct SignalSample {
  std::string id;
  int lrr = -1;  // column of "<ID>.Log R Ratio"
  int baf = -1;  // column of "<ID>.B Allele Freq"
};

// The columns of a signal file, from its tab-separated header.
struct SignalColumns {
  int name = -1;  // column "Name"
  int count = 0;  // number of columns
  std::vector<SignalSample> samples;
};

// Parses a signal file's header. A column "Log R Ratio" without an ID prefix
// takes fallback_id. Throws InputError (line 1 of path) when "Name" or a sample's
// log R ratio or B allele frequency column is missing.
SignalColumns parse_signal_header(std::string_view header, const std::string& path,
                                  const std::string& fallback_id);
