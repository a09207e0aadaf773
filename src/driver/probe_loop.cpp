#include "driver/probe_loop.h"

#include <cstdio>

bool process_next_probe(const OPTION& option, ProbeSource& source, ProbeProcessor& processor,
                        ResultsFile& results, const ProbeRecorder& recorder) {
  ProbeInfo info;
  if (!next_probe_info(source, info)) return false;
  read_probe_data(source, info, processor.data);
  const ProbeResult result =
      analyse_probe(option, processor.para, processor.data, info.pfb, processor.work);
  if (result.test_failed) {
    std::fprintf(stderr,
                 "Warning: probe '%s': the covariance of the tested effects is not positive "
                 "definite; reported as NA\n",
                 info.name.c_str());
  }
  write_probe_line(results, info, result);
  if (recorder) recorder(info, result);
  return true;
}
