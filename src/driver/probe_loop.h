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

// The probes of a run through the probe pipeline: read in file order, analysed on
// `threads` threads, each in its own copy of `setup`, written in file order. Stops after
// `count` probes, when the source ends, or once `stop_requested()` is true (checked before
// each read; probes already read are still analysed and written). Returns the number of
// probes written. The results file, the recorder's calls and everything printed are the
// same for every number of threads; an input error stops the run after the probes read
// before it are written, as a run on one thread does.
long process_probes(const OPTION& option, ProbeSource& source, const ProbeProcessor& setup,
                    ResultsFile& results, const ProbeRecorder& recorder, long count, int threads,
                    const std::function<bool()>& stop_requested);
