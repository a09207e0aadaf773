#pragma once
// The probe loop: every probe of the called-CN information file, in order, is read,
// analysed and written as one line of the results file.

#include <functional>

#include "core/data.h"
#include "driver/option.h"
#include "core/para.h"
#include "driver/probe.h"
#include "driver/readers.h"
#include "driver/results.h"

// The state of whoever processes probes: the run's set-up (para's set-up fields, the
// subjects' statuses and design matrix in data) and the storage reused by every probe.
struct ProbeProcessor {
  ProbeWork work;
  PARA para;
  DATA data;
};

// Called with every probe's information and result after its results line is written.
using ProbeRecorder = std::function<void(const ProbeInfo& info, const ProbeResult& result)>;

// Reads the next probe into the processor, analyses it and writes its results line, then
// hands both to `recorder` when one is given. Returns false when no probe is left. A
// probe whose tested covariance is unusable is also named in a warning on standard error.
bool process_next_probe(const OPTION& option, ProbeSource& source, ProbeProcessor& processor,
                        ResultsFile& results, const ProbeRecorder& recorder = {});
