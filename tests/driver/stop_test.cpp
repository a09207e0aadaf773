#include "driver/stop.h"

#include <gtest/gtest.h>

#include <string>

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
