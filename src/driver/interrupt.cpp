#include "driver/interrupt.h"

#include <csignal>

#include <signal.h>

namespace {

// Written by the handler, read between probes: the only state a handler may touch.
volatile std::sig_atomic_t received_signal = 0;

extern "C" void record_signal(int signal_number) { received_signal = signal_number; }

}  // namespace

void install_interrupt_handlers() {
  received_signal = 0;
  struct sigaction action {};
  action.sa_handler = record_signal;
  sigemptyset(&action.sa_mask);
  // SA_RESTART: a read or write under way when the signal arrives goes on instead of
  // failing with EINTR (which the readers and the results file would take for an I/O
  // error). SA_RESETHAND: a second signal is not caught.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int interrupt_signal() { return received_signal; }

const char* interrupt_signal_name(int signal_number) {
  if (signal_number == SIGINT) return "SIGINT";
  if (signal_number == SIGTERM) return "SIGTERM";
  return "a signal";
}
