#include "driver/probe_loop.h"

#include <cstdio>
#include <vector>

#include "driver/probe_pipeline.h"
#include "driver/stop.h"

namespace {

// Writes a probe's results line, warns of an unusable tested covariance and records it.
void write_probe(ResultsFile& results, const ProbeRecorder& recorder, const ProbeInfo& info,
                 const ProbeResult& result) {
  if (result.test_failed) {
    std::fprintf(stderr,
                 "Warning: probe '%s': the covariance of the tested effects is not positive "
                 "definite; reported as NA\n",
                 info.name.c_str());
  }
  write_probe_line(results, info, result);
  if (recorder) recorder(info, result);
}

// One probe in flight: its own copy of the run's set-up and storage, its information and
// its result.
struct ProbeSlot {
  ProbeProcessor processor;
  ProbeInfo info;
  ProbeResult result;
};

// Probes in flight per thread: enough to keep every thread busy while the reader and the
// writer take their turns, few enough that memory stays small.
constexpr int kSlotsPerThread = 4;

}  // namespace

bool process_next_probe(const OPTION& option, ProbeSource& source, ProbeProcessor& processor,
                        ResultsFile& results, const ProbeRecorder& recorder) {
  ProbeInfo info;
  if (!next_probe_info(source, info)) return false;
  read_probe_data(source, info, processor.data);
  const ProbeResult result =
      analyse_probe(option, processor.para, processor.data, info.pfb, processor.work);
  write_probe(results, recorder, info, result);
  return true;
}

long process_probes(const OPTION& option, ProbeSource& source, const ProbeProcessor& setup,
                    ResultsFile& results, const ProbeRecorder& recorder, long count, int threads,
                    const std::function<bool()>& stop_requested) {
  std::vector<ProbeSlot> slots(static_cast<std::size_t>(threads > 1 ? threads * kSlotsPerThread : 1),
                               ProbeSlot{setup, {}, {}});
  long read = 0;
  long written = 0;
  bool input_error = false;
  run_probe_pipeline<ProbeSlot>(
      threads, slots,
      [&](ProbeSlot& slot) {
        if (read >= count || input_error || stop_requested()) return false;
        // An input error stops reading; the probes read before it are still written, as
        // on one thread, before the run stops.
        try {
          if (!next_probe_info(source, slot.info)) return false;
          read_probe_data(source, slot.info, slot.processor.data);
        } catch (const RunStopped&) {
          input_error = true;
          return false;
        }
        ++read;
        return true;
      },
      [&](ProbeSlot& slot) {
        slot.result = analyse_probe(option, slot.processor.para, slot.processor.data,
                                    slot.info.pfb, slot.processor.work);
      },
      [&](ProbeSlot& slot) {
        write_probe(results, recorder, slot.info, slot.result);
        ++written;
      });
  if (input_error) throw RunStopped{};
  return written;
}
