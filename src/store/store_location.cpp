#include "store_location.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "file_io.h"
#include "message_text.h"
#include "siteconfig.h"

namespace loomreg {
namespace {

constexpr const char* kSettingsFile = "KVR_PATH.inf";

// The working directory, or "." when it cannot be named.
std::string WorkingDirectory() {
  std::error_code error;
  std::filesystem::path here = std::filesystem::current_path(error);
  return error ? std::string(".") : here.string();
}

}  // namespace

std::string AbsoluteDataRoot() {
  std::filesystem::path root = MakeDataRoot();
  if (root.is_relative()) root = std::filesystem::path(WorkingDirectory()) / root;
  std::string text = root.lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

std::string DataRootOrigin() {
  const std::string here = WorkingDirectory();
  std::string text = "the data root is " + EscapeForLine(AbsoluteDataRoot());
  // The site readers take the defaults for a file they cannot open; say which case this is.
  Fd settings(::open(kSettingsFile, O_RDONLY | O_CLOEXEC));
  const int err = settings.valid() ? 0 : errno;
  if (settings.valid()) {
    text += ", from " + EscapeForLine(here + "/" + kSettingsFile);
  } else if (err == ENOENT) {
    text += ", the default, as " + EscapeForLine(here) + " has no " + kSettingsFile;
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

}  // namespace loomreg
