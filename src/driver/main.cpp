// Program entry: copies standard output and standard error into the run's log, runs
// Quillmark on the command line and turns a stopped run into exit status 1.

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "driver/console.h"
#include "driver/run.h"
#include "driver/stop.h"
#include "numeric/nrerror.h"

int main(int argc, char** argv) {
  install_console_tee();
  try {
    return run_quillmark(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const RunStopped&) {
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    nrerror("allocation failure in the run driver");
  }
}
