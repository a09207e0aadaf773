// The PennCNV form of a simulated input set: what a CNV caller hands its users.
#pragma once

#include <string>

#include "sim/simulate.h"

// Writes the same study as write_input_set (same settings, same values) in the
// form a PennCNV user holds, into directory (created if missing):
//   signal/<ID>.txt  per subject, tab-separated: Name, Chr, Position,
//                    <ID>.Log R Ratio, <ID>.B Allele Freq (2 at CN probes)
//   signal.list      the signal files, one path a line: directory + "/signal/<ID>.txt"
//   probes.pfb       Name, Chr, Position, PFB (2 at CN probes)
//   calls.rawcnv     PennCNV calls; the sample field is the listed signal file path
//   calls.cnv        the same calls as a PLINK .cnv file (FID = IID = ID)
//   samples.txt      sample sheet: ID, status (0/1) and the covariates
// A call is a run of consecutive probes of one chromosome with the same called
// copy number below 2 in one subject. Subjects are named sample000001, ...
// Throws std::invalid_argument for invalid settings and std::runtime_error
// when a file cannot be written.
void write_penncnv_set(const SimSettings& settings, const std::string& directory);

// The ID of subject index (from 0) in the PennCNV form.
std::string penncnv_sample_id(int index);
