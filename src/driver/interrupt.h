#pragma once
// Stopping a run between probes on SIGINT (Ctrl-C) or SIGTERM (a scheduler's time limit).
//
// The handlers only record the signal; the probe loop looks at it between probes, so every
// line already written stays whole and the run ends with the files closed. The handlers
// give way to the default action after the first signal: a second one ends the program at
// once.

// Installs the handlers of SIGINT and SIGTERM and clears any signal recorded before.
void install_interrupt_handlers();

// The signal that asked the run to stop, or 0 when none has.
int interrupt_signal();

// "SIGINT" or "SIGTERM" for those signals, else "a signal".
const char* interrupt_signal_name(int signal_number);
