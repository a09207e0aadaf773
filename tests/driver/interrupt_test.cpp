// A run stopped by SIGINT or SIGTERM part of the way: the program is started as a real
// process, signalled once its first results lines are written, and must leave only whole
// lines, say how many probes it wrote and exit with 128 + the signal; --resume then
// completes the file to that of an uninterrupted run.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "run_harness.h"
#include "sim/simulate.h"

namespace {

// Starts the program in `dir` with `args`, its standard output in `dir`/.interrupted.
pid_t start_run(const FixtureDir& dir, const std::vector<std::string>& args) {
  std::fflush(nullptr);  // the child would write out a copy of what is buffered
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const std::string out = dir.path() + "/.interrupted";
  if (chdir(dir.path().c_str()) != 0 || !std::freopen(out.c_str(), "w", stdout) ||
      !std::freopen("/dev/null", "w", stderr)) {
    _exit(127);
  }
  std::vector<char*> argv = {const_cast<char*>(QUILLMARK_BIN)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(QUILLMARK_BIN, argv.data());
  _exit(127);
}

// The probes of the called-CN information file, as the results file names them.
std::vector<ExpectedProbe> probes_of(const std::string& info) {
  std::vector<ExpectedProbe> probes;
  std::size_t at = 0;
  while (at < info.size()) {
    const std::size_t end = info.find('\n', at);
    char name[64];
    ExpectedProbe probe{};
    if (std::sscanf(info.substr(at, end - at).c_str(), "%63s %d %d %lf", name, &probe.chromosome,
                    &probe.position, &probe.pfb) == 4) {
      probe.name = name;
      probes.push_back(probe);
    }
    at = end == std::string::npos ? info.size() : end + 1;
  }
  return probes;
}

}  // namespace

TEST(InterruptedRun, LeavesWholeLinesAndResumesToTheUninterruptedFile) {
  FixtureDir dir;
  SimSettings settings;
  settings.probe_type = "CN";
  settings.num_subjects = 600;
  settings.num_probes = 400;
  settings.seed = 7;
  write_input_set(settings, dir.path());
  const std::vector<std::string> spec = {"--spec_file", "specification.txt"};
  ASSERT_EQ(dir.run(spec).status, 0);
  const std::string whole = dir.read("results.out");
  const std::string whole_table = dir.read("results.out.tsv");
  const std::vector<ExpectedProbe> probes = probes_of(dir.read("CN.info"));
  ASSERT_EQ(probes.size(), 400u);
  ASSERT_EQ(compare_results(whole, probes), "");

  for (const int signal_number : {SIGTERM, SIGINT}) {
    const char* name = signal_number == SIGTERM ? "SIGTERM" : "SIGINT";
    dir.remove("results.out");
    const pid_t pid = start_run(dir, spec);
    ASSERT_GT(pid, 0);
    // Signal as soon as a probe line is written: the handlers are in place by then, and the
    // 400 probes take far longer than the few milliseconds between two looks.
    const timespec pause{0, 2'000'000};
    int exit_raw = 0;
    bool exited = false;
    while (count_probe_lines(dir.read("results.out")) < 1) {
      if (waitpid(pid, &exit_raw, WNOHANG) == pid) {
        exited = true;
        break;
      }
      nanosleep(&pause, nullptr);
    }
    ASSERT_FALSE(exited) << name << ": the run ended before any line was written";
    kill(pid, signal_number);
    ASSERT_EQ(waitpid(pid, &exit_raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(exit_raw)) << name;
    EXPECT_EQ(WEXITSTATUS(exit_raw), 128 + signal_number) << name;

    const std::string cut = dir.read("results.out");
    const int written = count_probe_lines(cut);
    ASSERT_GT(written, 0) << name;
    ASSERT_LT(written, 400) << name << ": the run finished before the signal";
    EXPECT_EQ(compare_results(cut, std::vector<ExpectedProbe>(probes.begin(),
                                                              probes.begin() + written)),
              "")
        << name;
    EXPECT_EQ(whole.compare(0, cut.size(), cut), 0) << name;
    const std::string out = dir.read(".interrupted");
    EXPECT_NE(out.find(std::string("\nQuillmark interrupted by ") + name + ": " +
                       std::to_string(written) +
                       " of 400 probes written to 'results.out'; the same command with --resume "
                       "continues the run.\n\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Quillmark complete"), std::string::npos) << name;

    std::vector<std::string> resume = spec;
    resume.push_back("--resume");
    const RunOutput resumed = dir.run(resume);
    EXPECT_EQ(resumed.status, 0) << resumed.out;
    EXPECT_EQ(dir.read("results.out"), whole) << name;
    // The extended table is cut back and continued with the results file.
    EXPECT_EQ(dir.read("results.out.tsv"), whole_table) << name;
  }
}
