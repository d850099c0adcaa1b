#include "hold.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <string>

#include "command_line.h"
#include "file_io.h"
#include "message_text.h"
#include "raw_descriptor.h"
#include "store.h"

namespace loomreg {
namespace {

// The command --hold runs, for the signal handler; 0 while there is none.
volatile std::sig_atomic_t g_command = 0;

// Passes a signal on to the command. One the terminal sent (SIGINT from Ctrl-C, SIGHUP on a
// hangup) went to the whole foreground process group, the command included, and is not sent
// twice.
extern "C" void ForwardSignal(int signal, siginfo_t* info, void*) {
  if (info != nullptr && info->si_code == SI_KERNEL) return;
  const pid_t command = g_command;
  if (command > 0) ::kill(command, signal);
}

constexpr int kForwarded[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// While it lives, the signals of kForwarded are passed on to the command rather than ending
// this process, whose end would leave the command running. One this process ignores (under
// nohup, say) stays ignored by both.
class ForwardedSignals {
 public:
  ForwardedSignals() {
    struct sigaction forward = {};
    forward.sa_sigaction = ForwardSignal;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigemptyset(&forward.sa_mask);
    for (std::size_t i = 0; i < std::size(kForwarded); ++i) {
      ::sigaction(kForwarded[i], nullptr, &old_[i]);
      if (old_[i].sa_handler != SIG_IGN) ::sigaction(kForwarded[i], &forward, nullptr);
    }
  }
  ~ForwardedSignals() {
    for (std::size_t i = 0; i < std::size(kForwarded); ++i) {
      ::sigaction(kForwarded[i], &old_[i], nullptr);
    }
  }
  ForwardedSignals(const ForwardedSignals&) = delete;
  ForwardedSignals& operator=(const ForwardedSignals&) = delete;

 private:
  struct sigaction old_[std::size(kForwarded)] = {};
};

// Blocks the forwarded signals for its lifetime: between the command's start and the moment its
// process ID is known, or once it has ended and its ID may be reused.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (int signal : kForwarded) ::sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockedSignals() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t old_;
};

Status CannotRun(const char* const* command, int err) {
  return Status::SystemError("cannot run", QuoteForMessage(command[0]), err);
}

// Starts `command`, searched on PATH, with no signal blocked and SIGINT and SIGQUIT at their
// defaults.
Status Spawn(pid_t* pid, const char* const* command) {
  posix_spawnattr_t attr;
  if (int err = ::posix_spawnattr_init(&attr)) return CannotRun(command, err);
  sigset_t defaults, none;
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGINT);
  ::sigaddset(&defaults, SIGQUIT);
  ::sigemptyset(&none);
  int err = ::posix_spawnattr_setsigdefault(&attr, &defaults);
  if (err == 0) err = ::posix_spawnattr_setsigmask(&attr, &none);
  if (err == 0)
    err = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (err == 0) {
    // posix_spawnp does not change the argument strings; its signature predates const.
    err =
        ::posix_spawnp(pid, command[0], nullptr, &attr, const_cast<char* const*>(command), environ);
  }
  ::posix_spawnattr_destroy(&attr);
  if (err != 0) return CannotRun(command, err);
  return {};
}

}  // namespace

Status LockFailure(const Store& store, const Status& failed, std::chrono::seconds lock_wait) {
  if (failed.timed_out()) return Status::Error(StayedLockedText("a save", lock_wait));
  return store.ExplainLockAccess(store.ExplainMissing(failed), "loomreg-check");
}

int Hold(const Store& store, const char* const* command, std::chrono::seconds lock_wait) {
  StoreLock lock;
  if (Status locked =
          lock.Acquire(store.At(store.paths().lock), std::chrono::steady_clock::now() + lock_wait);
      !locked.ok()) {
    Complain(LockFailure(store, locked, lock_wait).message());
    return 125;
  }
  // A duplicate without close-on-exec: the command's copy of the lock.
  Fd inherited(raw::Own(::fcntl(static_cast<int>(lock.handle().get()), F_DUPFD, 3)));
  if (!inherited.valid()) {
    Complain(std::string("cannot pass the lock on to the command: ") + std::strerror(errno));
    return 125;
  }
  ForwardedSignals forwarded;
  pid_t pid;
  {
    BlockedSignals blocked;
    if (Status spawned = Spawn(&pid, command); !spawned.ok()) {
      Complain(spawned.message());
      return spawned.error() == ENOENT ? 127 : 126;
    }
    g_command = pid;
  }
  inherited = Fd();
  // Wait for the end without reaping, so that no signal is passed on to a reused ID.
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) {
      Complain(std::string("cannot wait for the command: ") + std::strerror(errno));
      return 125;
    }
  }
  int status = 0;
  {
    BlockedSignals blocked;
    g_command = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace loomreg
