#include "posix_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace loomreg::testing {

ScopedUmask::ScopedUmask(unsigned mask) : old_(::umask(static_cast<mode_t>(mask))) {}

ScopedUmask::~ScopedUmask() { ::umask(static_cast<mode_t>(old_)); }

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
  old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
  old_soft_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit limit;
  if (ok_ && ::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
    limit.rlim_cur = old_soft_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  std::signal(SIGXFSZ, old_handler_);
}

bool WriteLockSeenByFcntl(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file
  const bool seen = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_WRLCK;
  ::close(fd);
  return seen;
}

}  // namespace loomreg::testing
