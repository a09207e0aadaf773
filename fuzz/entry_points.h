#pragma once
// The inputs that the fuzz targets feed to Quillmark, one entry point per target. The
// libFuzzer targets and the regression test (which replays fuzz/regressions/<target>/*)
// call the same functions, so a crash found by a fuzzer stays reproducible in the test
// suite.
//
// Each entry point works in a scratch directory of its own (made current for the call,
// removed afterwards), runs the code under test, catches RunStopped (the expected way
// out for malformed input) and checks what must hold after an accepted input. It returns
// an empty text when everything holds, else a description of the broken property.
// Anything else (a crash, a sanitizer report, an uncaught exception, a leak) is a finding
// of the fuzzer itself.

#include <cstddef>
#include <cstdint>
#include <string>

// The specification file: the input is written as the specification file and read by
// read_spec_file, with a phenotype file "p.dat" (header "status age sex batch") and
// files named "r.dat", "r.info", "c.dat" and "c.info" beside it. An accepted file
// is then taken through the model set-up with four subjects.
// Checked: the name and effect tables keep their invariants (K in place, the table
// symmetric with entries 0, 1, 2, K's main effect tested, capacities respected).
std::string fuzz_spec_file(const std::uint8_t* data, std::size_t size);

// The line reader and number parsing: byte 0 chooses the reader's buffer size (1 to 64,
// so lines span many refills), the rest is the file.
// Checked: the lines read are exactly the file split at its line breaks; tokens hold no
// white space; parse_int agrees with strtol and an accepted finite parse_double with
// strtod, and a plain decimal number that strtod reads whole is accepted.
std::string fuzz_line_reader(const std::uint8_t* data, std::size_t size);

// The input files of a whole run: byte 0 chooses the settings (bit 0: probe type CN or
// SNP; bits 1-2: array type I, A, T, I; bit 3: DIFFERENTIAL_MEASUREMENT_ERRORS;
// bits 4-6: disease model: 0 K only, 1 EFFECT = K x, 2 the same with DEPENDENT = x,
// 3 EFFECT = K x K*x with TEST = K K*x, 4 CATEGORICAL = x with EFFECT = K x, 5-7 K only).
// The rest is split at '~' into the phenotype file, the raw-intensity information file,
// the raw-intensity data file, the called-CN information file and the called-CN data
// file, and Quillmark runs on them from the command line to the results file.
// Checked: a run that completes has written the two header lines and one line per probe
// of the called-CN information file, and its extended results table the header and one
// row per probe.
std::string fuzz_file_set(const std::uint8_t* data, std::size_t size);
