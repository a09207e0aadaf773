#include "driver/stop.h"

#include <cstdio>

void kill_Quillmark() {
  std::printf("\nQuillmark was stopped due to error(s) listed above.\n");
  std::puts("");
  throw RunStopped{};
}
