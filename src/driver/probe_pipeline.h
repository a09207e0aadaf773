#pragma once
// The probe pipeline: probes are read in file order by one stage, analysed in parallel,
// and written in probe order by one stage, so the results and standard output are the
// same for every number of threads. Each probe in flight owns one slot (its data, its
// per-probe layout, its working storage); slots are recycled, so memory is bounded by
// the number of probes in flight, not by the number of probes.

#include <functional>
#include <vector>

// The number of threads the machine gives this process (its CPU affinity).
int available_threads();

// Runs the three stages over slots until `read` returns false. `read(slot)` fills the
// slot with the next probe (serially, in order) or returns false when none is left;
// `analyse(slot)` works on that slot alone (in parallel); `write(slot)` is called
// serially in the order the probes were read. With one thread, or one slot, the stages
// run one probe after another on the calling thread. An exception thrown by any stage
// stops the pipeline and reaches the caller.
template <typename Slot>
void run_probe_pipeline(int threads, std::vector<Slot>& slots,
                        const std::function<bool(Slot&)>& read,
                        const std::function<void(Slot&)>& analyse,
                        const std::function<void(Slot&)>& write);

// Type-erased core of run_probe_pipeline over slot indices.
void run_index_pipeline(int threads, int num_slots, const std::function<bool(int)>& read,
                        const std::function<void(int)>& analyse,
                        const std::function<void(int)>& write);

template <typename Slot>
void run_probe_pipeline(int threads, std::vector<Slot>& slots,
                        const std::function<bool(Slot&)>& read,
                        const std::function<void(Slot&)>& analyse,
                        const std::function<void(Slot&)>& write) {
  run_index_pipeline(
      threads, static_cast<int>(slots.size()), [&](int s) { return read(slots[s]); },
      [&](int s) { analyse(slots[s]); }, [&](int s) { write(slots[s]); });
}
