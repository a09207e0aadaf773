#include "driver/probe_pipeline.h"

#include <stdexcept>

#include <tbb/concurrent_queue.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>

int available_threads() { return tbb::info::default_concurrency(); }

void run_index_pipeline(int threads, int num_slots, const std::function<bool(int)>& read,
                        const std::function<void(int)>& analyse,
                        const std::function<void(int)>& write) {
  if (num_slots < 1) return;
  if (threads <= 1 || num_slots == 1) {
    while (read(0)) {
      analyse(0);
      write(0);
    }
    return;
  }
  // A slot is free again once its probe is written; at most num_slots probes are alive,
  // so the reader always finds a free slot.
  tbb::concurrent_queue<int> free_slots;
  for (int s = 0; s < num_slots; ++s) free_slots.push(s);
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                            static_cast<std::size_t>(threads));
  tbb::parallel_pipeline(
      static_cast<std::size_t>(num_slots),
      tbb::make_filter<void, int>(tbb::filter_mode::serial_in_order,
                                  [&](tbb::flow_control& control) {
                                    int s = 0;
                                    if (!free_slots.try_pop(s))
                                      throw std::logic_error("probe pipeline: no free slot");
                                    if (!read(s)) {
                                      control.stop();
                                      free_slots.push(s);
                                      return -1;
                                    }
                                    return s;
                                  }) &
          tbb::make_filter<int, int>(tbb::filter_mode::parallel,
                                     [&](int s) {
                                       analyse(s);
                                       return s;
                                     }) &
          tbb::make_filter<int, void>(tbb::filter_mode::serial_in_order, [&](int s) {
            write(s);
            free_slots.push(s);
          }));
}
