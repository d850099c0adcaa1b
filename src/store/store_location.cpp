#include "store_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "file_io.h"
#include "message_text.h"
#include "shared_file.h"
#include "siteconfig.h"

namespace loomreg {
namespace {

constexpr const char* kSettingsFile = "KVR_PATH.inf";

// The working directory, or "." when it cannot be named. (std::filesystem would do, but it
// brings the locale machinery into the program and with it a slower start of every save.)
std::string WorkingDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// `path`, absolute, with "." and ".." steps and repeated slashes taken out, as the kernel would
// read it were no step a symbolic link.
std::string Normal(std::string_view path) {
  std::vector<std::string_view> steps;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view step = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
      continue;
    }
    steps.push_back(step);
  }
  std::string text;
  for (std::string_view step : steps) {
    text += '/';
    text += step;
  }
  return text;
}

}  // namespace

std::string AbsoluteDataRoot() {
  std::string root = MakeDataRoot();
  if (root.empty() || root.front() != '/') root = WorkingDirectory() + "/" + root;
  return Normal(root) + "/";
}

std::string DataRootOrigin() {
  const std::string here = WorkingDirectory();
  std::string text = "the data root is " + EscapeForLine(AbsoluteDataRoot());
  // The site readers take the defaults for a file they cannot open or that is no regular file;
  // say which case this is. O_NONBLOCK: a FIFO in its place must not stop the message.
  Fd settings(::open(kSettingsFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  int err = settings.valid() ? 0 : errno;
  struct stat st;
  if (settings.valid() && (::fstat(settings.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
    err = EINVAL;
    settings = Fd();
  }
  if (settings.valid()) {
    text += ", from " + EscapeForLine(here + "/" + kSettingsFile);
  } else if (err == ENOENT) {
    text += ", the default, as " + EscapeForLine(here) + " has no " + kSettingsFile;
  } else if (err == EINVAL) {
    text +=
        ", the default, as " + EscapeForLine(here + "/" + kSettingsFile) + " is not a regular file";
  } else {
    text += ", the default, as " + EscapeForLine(here + "/" + kSettingsFile) + " cannot be read (" +
            std::strerror(err) + ")";
  }
  return text;
}

std::string MissingStoreHint(int err) {
  if (err != ENOENT) return {};
  return "; " + DataRootOrigin() +
         ": run in the application directory, or create the store with loomreg-mkstore " +
         EscapeForLine(WorkingDirectory());
}

std::string LockAccessHint(const std::string& lock, int err, std::string_view program) {
  struct stat st;
  if (err != EACCES || ::lstat(lock.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return "; " + std::string(program) + " runs as " + EscapeForLine(UserText(::geteuid())) +
         ", and the lock file is owned by " + EscapeForLine(OwnerText(st.st_uid, st.st_gid)) +
         " with mode " + ModeText(st.st_mode) +
         ": mend it with loomreg-check --repair, run as root in " +
         EscapeForLine(WorkingDirectory());
}

}  // namespace loomreg
