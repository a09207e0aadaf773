#include <cstdio>

#include "driver/stop.h"

int main() {
  try {
    return 0;
  } catch (const RunStopped&) {
    std::fflush(stdout);
    return 1;
  }
}
