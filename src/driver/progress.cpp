#include "driver/progress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "driver/run_summary.h"

namespace {
// Redraws on a terminal come no closer than this, so that fast probes cost no output.
constexpr double kRedrawSeconds = 0.25;

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string time_left(double seconds) {
  char text[64];
  if (seconds < 60.0) std::snprintf(text, sizeof text, "%.0f s", seconds);
  else if (seconds < 3600.0) std::snprintf(text, sizeof text, "%.0f min", seconds / 60.0);
  else std::snprintf(text, sizeof text, "%.1f h", seconds / 3600.0);
  return text;
}
}  // namespace

Progress::Progress(long total, bool terminal, double line_interval, Sink sink, Clock clock)
    : total_(total),
      terminal_(terminal),
      interval_(line_interval),
      sink_(std::move(sink)),
      clock_(clock ? std::move(clock) : Clock(steady_seconds)),
      start_(clock_()),
      last_shown_(start_) {}

std::string Progress::describe(long done, long total, double elapsed_seconds) {
  char percent[32];
  std::snprintf(percent, sizeof percent, "%.1f%%", total > 0 ? 100.0 * done / total : 100.0);
  std::string text = "Progress: " + with_thousands(done) + " of " + with_thousands(total) +
                     " probes (" + percent + ")";
  if (done > 0 && elapsed_seconds > 0.0) {
    const double rate = done / elapsed_seconds;
    char rate_text[32];
    std::snprintf(rate_text, sizeof rate_text, "%.3g", rate);
    text += std::string(", ") + rate_text + " probes/s, " + time_left((total - done) / rate) +
            " left";
  }
  return text;
}

void Progress::update(long done) {
  if (!sink_) return;
  const double now = clock_();
  const bool last = done >= total_;
  if (terminal_) {
    if (now - last_shown_ < kRedrawSeconds && !last) return;
    // The cursor is left at the start of the line, so that a warning printed meanwhile
    // overwrites the progress instead of continuing it.
    sink_("\033[K" + describe(done, total_, now - start_) + "\r");
    drawn_ = true;
  } else {
    if (now - last_shown_ < interval_) return;
    sink_(describe(done, total_, now - start_) + "\n");
  }
  last_shown_ = now;
}

void Progress::finish() {
  if (sink_ && drawn_) sink_("\033[K");
  drawn_ = false;
}

Progress make_stderr_progress(long total, bool quiet) {
  if (quiet) return Progress(total, false, 0.0, {});
  // Straight to the descriptor: progress is not part of what the log keeps.
  const Progress::Sink sink = [](std::string_view text) {
    const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
  };
  return Progress(total, ::isatty(STDERR_FILENO) == 1, 300.0, sink);
}
