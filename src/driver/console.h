#pragma once
// The program's console: standard output and standard error copied, line by line, into
// the run's log file.
//
// install_console_tee() replaces the C streams stdout and stderr by streams that write
// to the same descriptors and also to the log, so every existing printf call keeps its
// exact format. Standard output becomes line-buffered even when redirected (a run killed
// on a cluster node keeps what it printed), standard error stays unbuffered. Until the
// log is opened, what the streams print is held in memory; open_console_log() writes it
// first, then every line as it is printed, each with one write(2), so the log of a
// killed run holds every line printed before the signal.
//
// Only the program entry installs the tee; without it (tests and fuzzers that call the
// run in-process) the log receives its header and whatever is written with log_only().

#include <string>

// Replaces stdout and stderr by the teeing streams. Called once, before anything is printed.
void install_console_tee();

// Opens `path` anew as the log, writes `header`, then everything printed so far. Returns
// false (and keeps the run going without a log) when it cannot be created.
bool open_console_log(const std::string& path, const std::string& header, bool append = false);

// Flushes the streams and closes the log; later output goes to the console only.
void close_console_log();

// True once install_console_tee() has replaced the streams.
bool console_tee_installed();

// Writes `text` to the log only (nothing when no log is open).
void log_only(const std::string& text);
