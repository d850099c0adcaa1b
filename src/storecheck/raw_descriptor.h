// TEMPORARY: the descriptors that parts of the checker still hand to POSIX calls themselves,
// until those parts go through the seam of os.h as the store does. The store's interface
// (file_io.h) carries no descriptors; this header gives the checker its raw ones meanwhile, and
// goes with its last caller. Nothing outside src/storecheck may include it.
#ifndef LOOMREG_STORECHECK_RAW_DESCRIPTOR_H
#define LOOMREG_STORECHECK_RAW_DESCRIPTOR_H

#include <fcntl.h>

#include <cerrno>

#include "file_io.h"
#include "message_text.h"

namespace loomreg::raw {

// The descriptor of the directory below which `place` is named (AT_FDCWD for the working
// directory).
inline int Dir(const Place& place) { return place.directory().descriptor(); }
// The descriptor of an open file.
inline int Of(const Fd& fd) { return static_cast<int>(fd.handle().get()); }
// An Fd owning descriptor `fd` (-1: none).
inline Fd Own(int fd) { return Fd(os::Handle(fd)); }
// openat(place, flags, 0666), retried after a signal. Returns the descriptor, or -1 with errno
// set.
inline int OpenRetrying(const Place& place, int flags) {
  int fd;
  do {
    fd = ::openat(Dir(place), place.name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// WriteAll to descriptor `fd`, which stays the caller's.
inline Status WriteAll(int fd, std::string_view path, std::string_view text) {
  os::Handle borrowed(fd);
  Status status = loomreg::WriteAll(borrowed, path, text);
  (void)borrowed.Release();
  return status;
}

}  // namespace loomreg::raw

#endif
