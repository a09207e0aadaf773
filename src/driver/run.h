#pragma once
// The whole run of Quillmark, as the program entry starts it.

#include <string>
#include <vector>

// Runs Quillmark with the command-line `command_line` (without the program name): banner,
// settings, input files, model set-up, the probe loop, the results file and what is
// written beside it (log, extended table, summary). --help and --version print and
// return 0 at once. Returns 0 after a complete run; after an error in the user's input,
// whose message is already written, it throws RunStopped (kill_Quillmark).
int run_quillmark(const std::vector<std::string>& command_line);
