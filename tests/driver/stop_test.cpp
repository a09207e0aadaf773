#include <gtest/gtest.h>

#include <string>

#include "driver/stop.h"

TEST(KillQuillmark, WritesTheStopMessageAndThrows) {
  testing::internal::CaptureStdout();
  bool stopped = false;
  try {
    kill_Quillmark();
  } catch (const RunStopped&) {
    stopped = true;
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(out, "\nQuillmark was stopped due to error(s) listed above.\n\n");
}
