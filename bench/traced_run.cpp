#include "traced_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

TracedRun RunTraced(const std::string& program, const std::vector<std::string>& argv,
                    const std::filesystem::path& cwd) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    ::execv(program.c_str(), args.data());
    ::_exit(127);
  }
  TracedRun run;
  int status = 0;
  ::waitpid(pid, &status, 0);  // stopped after the exec
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
  ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  while (::waitpid(pid, &status, 0) == pid && !WIFEXITED(status) && !WIFSIGNALED(status)) {
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      std::ifstream proc("/proc/" + std::to_string(pid) + "/status");
      for (std::string line; std::getline(proc, line);) {
        if (line.starts_with("VmHWM:")) run.peak_kib = std::atol(line.c_str() + 6);
      }
    }
    int signal = WIFSTOPPED(status) && WSTOPSIG(status) != SIGTRAP ? WSTOPSIG(status) : 0;
    ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
