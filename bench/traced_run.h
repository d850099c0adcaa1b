// Runs a program to its end under ptrace and reads its peak resident memory from /proc just
// before it exits: the peak that wait4 reports would also count the memory of the process that
// started it, up to the exec.
#ifndef LOOMREG_BENCH_TRACED_RUN_H
#define LOOMREG_BENCH_TRACED_RUN_H

#include <filesystem>
#include <string>
#include <vector>

struct TracedRun {
  double seconds = 0;  // from the fork to the exit
  long peak_kib = 0;   // VmHWM just before the exit
  int status = -1;     // the exit status, or -1 when a signal ended it
};

// Runs `program` with `argv` in `cwd`, its output discarded.
TracedRun RunTraced(const std::string& program, const std::vector<std::string>& argv,
                    const std::filesystem::path& cwd);

#endif
