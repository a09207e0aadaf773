#pragma once
// The command-line options of split and continued runs: --out PATH names the results file
// in place of RESULT_FILE, --chunk I/N analyses the I-th of N contiguous ranges of the
// probes of the called-CN information file, and --resume continues the results file of
// an interrupted run.

#include <cstddef>
#include <string>
#include <vector>

#include "driver/option.h"

// The values of --out, --chunk and --resume.
struct ClusterOptions {
  std::string out;      // results path from --out; empty: RESULT_FILE decides
  int chunk_index = 1;  // I of --chunk I/N, from 1
  int chunk_count = 1;  // N of --chunk I/N; 1 is the whole run
  bool chunked = false; // --chunk was given
  bool resume = false;  // --resume was given
};

// When arguments[a] is --out, --chunk or --resume, reads it (and its value, moving `a` to
// the value) into `options`, writes the rest of its echo line after the "        -- '<option>' "
// already written, and returns true; returns false for any other argument. A missing or
// malformed value stops the run (kill_Quillmark).
bool read_cluster_option(const std::vector<std::string>& arguments, std::size_t& a,
                         ClusterOptions& options);

// Puts the --out path in place of the results path of the specification file.
void apply_cluster_options(const ClusterOptions& options, OPTION& option);

// A contiguous range of probes of the called-CN information file, counted from 0.
struct ProbeRange {
  long first = 0;  // index of the first probe
  long count = 0;  // number of probes
};

// The probes that chunk `chunk_index` (from 1) of `chunk_count` analyses out of
// `num_probes`: chunk I holds probes floor((I-1) P / N) to floor(I P / N) - 1, so the chunks
// follow each other, cover every probe once and differ in size by at most one probe.
ProbeRange chunk_range(long num_probes, int chunk_index, int chunk_count);
