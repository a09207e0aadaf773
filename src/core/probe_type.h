#pragma once
// The kind of probe a run analyses: copy-number-only probes or SNP probes (with B-allele data).

enum class ProbeType { kCn, kSnp };

// The word a user writes for the probe type and the program prints: "CN" or "SNP".
constexpr const char* probe_type_name(ProbeType type) { return type == ProbeType::kCn ? "CN" : "SNP"; }
