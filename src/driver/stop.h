#pragma once
// The fatal stop of the run after an error in the user's input.
//
// Every user-input error is written to standard output by the routine that finds it,
// as a message that starts with a line break and "Error: ". That routine then calls
// kill_Quillmark(), which writes the stop message and ends the run with status 1.
//
// The run does not end inside kill_Quillmark(): it throws RunStopped, which only the
// program entry catches (it flushes standard output and returns 1). Nothing else may
// catch it. Throwing instead of exiting lets tests and fuzzers drive the readers and
// the set-up in-process, and lets every file and array be released by its owner.

// Thrown by kill_Quillmark(); carries nothing, the message has already been written.
struct RunStopped {};

// Writes "\nQuillmark was stopped due to error(s) listed above.\n" and one more line
// break to standard output, then throws RunStopped (status 1 at the program entry).
[[noreturn]] void kill_Quillmark();
