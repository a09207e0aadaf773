// Writing the PennCNV form of a simulated set. The signal files are
// sample-major while probes are simulated one at a time, so probes are made in
// blocks held as text and each block is appended to every subject's file: the
// memory is one block, and only one signal file is open at a time.
#include "sim/penncnv.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_file(const std::string& path, const char* mode) {
  File f(std::fopen(path.c_str(), mode));
  if (!f) throw std::runtime_error("cannot create '" + path + "'");
  return f;
}

void write_text(std::FILE* f, const std::string& text, const std::string& path) {
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size())
    throw std::runtime_error("cannot write '" + path + "'");
}

void close_file(File& f, const std::string& path) {
  if (std::fclose(f.release()) != 0) throw std::runtime_error("cannot write '" + path + "'");
}

void append_fixed(std::string& out, double v, int decimals) {
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
  out.append(buffer, result.ptr);
}

// PennCNV writes call lengths with thousands separators.
std::string with_commas(long long v) {
  std::string digits = std::to_string(v);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// The call a subject is in, if any: a run of probes with one called copy number below 2.
struct OpenCall {
  int cn = 2;  // 2: no open call
  int chr = 0;
  int start = 0;
  int end = 0;
  int probes = 0;
  std::string start_name;
  std::string end_name;
};

class CallWriter {
 public:
  CallWriter(const std::filesystem::path& dir, std::vector<std::string> ids,
             std::vector<std::string> signal_paths)
      : rawcnv_path_((dir / "calls.rawcnv").string()),
        cnv_path_((dir / "calls.cnv").string()),
        rawcnv_(open_file(rawcnv_path_, "wb")),
        cnv_(open_file(cnv_path_, "wb")),
        ids_(std::move(ids)),
        signal_paths_(std::move(signal_paths)),
        open_(ids_.size()) {
    write_text(cnv_.get(), "FID IID CHR BP1 BP2 TYPE SCORE SITES\n", cnv_path_);
  }

  // The called copy numbers of one probe, in subject order.
  void add_probe(const SimProbe& p) {
    for (std::size_t i = 0; i < open_.size(); ++i) {
      OpenCall& call = open_[i];
      const int cn = p.called_cn[i];
      if (call.cn != 2 && (call.cn != cn || call.chr != p.chr)) close_call(i);
      if (cn >= 2) continue;
      if (call.cn == 2) {
        call.cn = cn;
        call.chr = p.chr;
        call.start = p.pos;
        call.probes = 0;
        call.start_name = p.name;
      }
      call.end = p.pos;
      call.end_name = p.name;
      ++call.probes;
    }
  }

  void finish() {
    for (std::size_t i = 0; i < open_.size(); ++i)
      if (open_[i].cn != 2) close_call(i);
    flush();
    close_file(rawcnv_, rawcnv_path_);
    close_file(cnv_, cnv_path_);
  }

 private:
  void close_call(std::size_t i) {
    OpenCall& c = open_[i];
    // PennCNV's hidden states: state1 is cn=0, state2 is cn=1.
    char line[256];
    std::snprintf(line, sizeof line, "chr%d:%d-%d numsnp=%d length=%s state%d,cn=%d ", c.chr, c.start,
                  c.end, c.probes, with_commas(static_cast<long long>(c.end) - c.start + 1).c_str(),
                  c.cn + 1, c.cn);
    rawcnv_text_ += line;
    rawcnv_text_ += signal_paths_[i];
    rawcnv_text_ += " startsnp=" + c.start_name + " endsnp=" + c.end_name + "\n";
    std::snprintf(line, sizeof line, " %d %d %d %d 0 %d\n", c.chr, c.start, c.end, c.cn, c.probes);
    cnv_text_ += ids_[i] + " " + ids_[i] + line;
    c.cn = 2;
    if (rawcnv_text_.size() > (1u << 20)) flush();
  }

  void flush() {
    write_text(rawcnv_.get(), rawcnv_text_, rawcnv_path_);
    write_text(cnv_.get(), cnv_text_, cnv_path_);
    rawcnv_text_.clear();
    cnv_text_.clear();
  }

  std::string rawcnv_path_, cnv_path_;
  File rawcnv_, cnv_;
  std::vector<std::string> ids_, signal_paths_;
  std::vector<OpenCall> open_;
  std::string rawcnv_text_, cnv_text_;
};

void write_sample_sheet(const SimSettings& s, const SimSubjects& subjects,
                        const std::vector<std::string>& ids, const std::string& path) {
  std::string text = "ID status";
  for (const auto& name : subjects.covariate_names) text += " " + name;
  text += "\n";
  const std::size_t numeric = static_cast<std::size_t>(s.num_numeric_covariates);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    text += ids[i] + " " + std::to_string(subjects.status[i]);
    const auto& row = subjects.covariates[i];
    for (std::size_t j = 0; j < row.size(); ++j) {
      text += ' ';
      if (j < numeric) append_fixed(text, row[j], s.decimals);
      else text += std::to_string(std::lround(row[j]));  // levels and dependent values
    }
    text += "\n";
  }
  File f = open_file(path, "wb");
  write_text(f.get(), text, path);
  close_file(f, path);
}

}  // namespace

std::string penncnv_sample_id(int index) {
  char id[32];
  std::snprintf(id, sizeof id, "sample%06d", index + 1);
  return id;
}

void write_penncnv_set(const SimSettings& s, const std::string& directory) {
  if (const std::string problem = validate_settings(s); !problem.empty())
    throw std::invalid_argument(problem);
  const std::filesystem::path dir(directory);
  std::filesystem::create_directories(dir / "signal");

  const SimSubjects subjects = make_subjects(s);
  const std::size_t n = subjects.status.size();
  std::vector<std::string> ids(n), files(n), listed(n);
  std::string list_text;
  for (std::size_t i = 0; i < n; ++i) {
    ids[i] = penncnv_sample_id(static_cast<int>(i));
    files[i] = (dir / "signal" / (ids[i] + ".txt")).string();
    listed[i] = directory + "/signal/" + ids[i] + ".txt";
    list_text += listed[i] + "\n";
  }
  {
    const std::string path = (dir / "signal.list").string();
    File f = open_file(path, "wb");
    write_text(f.get(), list_text, path);
    close_file(f, path);
  }
  write_sample_sheet(s, subjects, ids, (dir / "samples.txt").string());

  const std::string pfb_path = (dir / "probes.pfb").string();
  File pfb = open_file(pfb_path, "wb");
  std::string pfb_text = "Name\tChr\tPosition\tPFB\n";
  CallWriter calls(dir, ids, listed);

  // About 64 MB of signal text per block.
  const int block = std::max(1, static_cast<int>((std::size_t{1} << 26) / (40 * std::max<std::size_t>(n, 1))));
  const bool snp = s.probe_type == "SNP";
  std::vector<std::string> text(n);
  for (std::size_t i = 0; i < n; ++i)
    text[i] = "Name\tChr\tPosition\t" + ids[i] + ".Log R Ratio\t" + ids[i] + ".B Allele Freq\n";
  SimProbe p;
  for (int first = 0; first < s.num_probes || first == 0; first += block) {
    const int last = std::min(s.num_probes, first + block);
    for (int index = first; index < last; ++index) {
      fill_probe(p, s, subjects, index);
      std::string head = p.name + "\t" + std::to_string(p.chr) + "\t" + std::to_string(p.pos) + "\t";
      for (std::size_t i = 0; i < n; ++i) {
        std::string& t = text[i];
        t += head;
        append_fixed(t, p.r[i], s.decimals);
        t += '\t';
        if (snp) append_fixed(t, p.b[i], s.decimals);
        else t += '2';  // CN probes have no B allele frequency; PennCNV files show 2
        t += '\n';
      }
      pfb_text += head;
      append_fixed(pfb_text, p.pfb, 4);
      pfb_text += '\n';
      calls.add_probe(p);
    }
    for (std::size_t i = 0; i < n; ++i) {
      File f = open_file(files[i], first == 0 ? "wb" : "ab");
      write_text(f.get(), text[i], files[i]);
      close_file(f, files[i]);
      text[i].clear();
    }
    write_text(pfb.get(), pfb_text, pfb_path);
    pfb_text.clear();
  }
  close_file(pfb, pfb_path);
  calls.finish();
}
