#pragma once
// Progress of the probe loop on standard error: probes done of the total, the rate and
// the time left. On a terminal the line is redrawn in place (at most a few times a
// second); otherwise, as in a cluster job's log, one line is written every
// `line_interval` seconds. Never written to standard output or the log.

#include <functional>
#include <string>
#include <string_view>

class Progress {
 public:
  // Where the text goes, and the clock in seconds; both replaceable for tests.
  using Sink = std::function<void(std::string_view text)>;
  using Clock = std::function<double()>;

  // Progress over `total` probes; `terminal` chooses redrawing over periodic lines.
  Progress(long total, bool terminal, double line_interval = 300.0, Sink sink = {},
           Clock clock = {});

  // Reports that `done` probes are finished.
  void update(long done);

  // Clears a redrawn line, so that what follows starts on a clean line.
  void finish();

  // The progress text without line control, e.g.
  // "Progress: 1,234 of 40,000 probes (3.1%), 17.2 probes/s, 37 min left".
  static std::string describe(long done, long total, double elapsed_seconds);

 private:
  long total_;
  bool terminal_;
  double interval_;
  Sink sink_;
  Clock clock_;
  double start_;
  double last_shown_;
  bool drawn_ = false;
};

// A Progress on the real standard error (bypassing the log), or one that prints nothing
// when `quiet`.
Progress make_stderr_progress(long total, bool quiet);
