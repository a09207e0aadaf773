// The probe pipeline writes probes in the order they were read whatever the number of
// threads, never lets two stages touch one slot at once, and hands a stage's exception
// to its caller.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "driver/probe_pipeline.h"

namespace {

struct Slot {
  int probe = -1;
  long value = 0;
  std::atomic<int> users{0};
  Slot() = default;
  Slot(const Slot&) {}
};

// Reads `count` probes; the work of probe p takes a time that varies with p, so later
// probes often finish first.
std::vector<int> run(int threads, int num_slots, int count, int throw_at = -1) {
  std::vector<Slot> slots(static_cast<std::size_t>(num_slots));
  std::vector<int> written;
  int next = 0;
  run_probe_pipeline<Slot>(
      threads, slots,
      [&](Slot& s) {
        if (next == count) return false;
        EXPECT_EQ(s.users.fetch_add(1), 0);
        s.probe = next++;
        s.users.fetch_sub(1);
        return true;
      },
      [&](Slot& s) {
        EXPECT_EQ(s.users.fetch_add(1), 0);
        if (s.probe == throw_at) throw std::runtime_error("probe failed");
        std::this_thread::sleep_for(std::chrono::microseconds((s.probe * 7919) % 300));
        s.value = static_cast<long>(s.probe) * s.probe;
        s.users.fetch_sub(1);
      },
      [&](Slot& s) {
        EXPECT_EQ(s.users.fetch_add(1), 0);
        EXPECT_EQ(s.value, static_cast<long>(s.probe) * s.probe);
        written.push_back(s.probe);
        s.users.fetch_sub(1);
      });
  return written;
}

TEST(ProbePipeline, WritesEveryProbeInReadOrderForAnyThreadCount) {
  std::vector<int> expected(200);
  for (int p = 0; p < 200; ++p) expected[p] = p;
  const struct {
    int threads, slots;
  } cases[] = {{1, 1}, {1, 8}, {2, 1}, {2, 4}, {3, 12}, {8, 3}};
  for (const auto& c : cases)
    EXPECT_EQ(run(c.threads, c.slots, 200), expected) << c.threads << " threads, " << c.slots << " slots";
  EXPECT_TRUE(run(3, 6, 0).empty());
}

TEST(ProbePipeline, AnExceptionInAStageReachesTheCaller) {
  for (const int threads : {1, 3}) EXPECT_THROW(run(threads, 6, 100, 37), std::runtime_error);
}

TEST(ProbePipeline, AvailableThreadsIsAtLeastOne) { EXPECT_GE(available_threads(), 1); }

}  // namespace
