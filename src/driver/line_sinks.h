#pragma once
// The files a run writes line by line: header lines, then one line per probe in the order
// of the called-CN information file (the results file; any other per-probe table joins
// them). A run stopped between probes leaves each of them whole up to some probe; --resume
// checks what they hold and cuts them back to the probes that every one of them holds
// whole, so the run can append the rest.

#include <string>
#include <vector>

#include "driver/cluster_options.h"
#include "driver/readers.h"

// How one such file is laid out.
struct LineSinkLayout {
  std::string path;
  std::vector<std::string> header;                    // its header lines, without line breaks
  std::string (*line_start)(const ProbeInfo& info);  // what the line of a probe begins with
};

// Prepares the files `sinks` of an interrupted run over the probes `range` of the called-CN
// information file `info_path` for --resume, and returns how many probes of the range
// every file holds whole. Every whole line after the header must begin as its probe's line
// does; a line cut short at the end of a file is dropped. Each file is cut back to its
// header and the lines of those probes (a header cut short is written anew). A file that
// does not exist, a header or probe line that differs, or more lines than probes stops the
// run (kill_Quillmark) before any file is changed.
long prepare_resume(const std::vector<LineSinkLayout>& sinks, const std::string& info_path,
                    const ProbeRange& range);
