#include "config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace loomreg {

namespace {

// Opens a configuration file for reading. The file may be a symbolic link to a regular file;
// anything else (a FIFO, a device such as /dev/zero, a directory) counts as missing and is
// never read: a FIFO would block the read for ever and a device could feed it without end.
// O_NONBLOCK keeps the open itself from waiting for a FIFO's writer.
std::FILE* OpenConfigFile(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

PieceReader::PieceReader(const char* path) : file_(OpenConfigFile(path)) {}

bool PieceReader::Next(std::string& piece) {
  piece.clear();
  if (!file_) return false;
  std::FILE* f = file_.get();
  while (piece.size() < kMaxText) {
    int c = std::getc(f);
    if (c == EOF) break;
    if (c == '\r') {
      int next = std::getc(f);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, f);
      }
    }
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

std::string_view PieceText(std::string_view piece) {
  return piece.substr(0, std::min(piece.size(), piece.find('\0')));
}

namespace {

// A piece's text without the LF that ends it, if it ends in one (a piece cut after 255 bytes
// has none).
std::string WithoutLineEnd(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

std::optional<std::string> FindSetting(const char* path, std::string_view key) {
  PieceReader reader(path);
  std::string piece;
  while (reader.Next(piece)) {
    std::string_view text = PieceText(piece);
    if (text.starts_with(key)) return WithoutLineEnd(text.substr(key.size()));
  }
  return std::nullopt;
}

std::optional<std::string> FirstLine(const char* path) {
  PieceReader reader(path);
  std::string piece;
  if (!reader.Next(piece)) return std::nullopt;
  std::string_view text = PieceText(piece);
  if (text.empty()) return std::nullopt;
  return WithoutLineEnd(text);
}

std::string SiteSetting(std::string_view key, std::string_view fallback) {
  return FindSetting(kSiteConfigFile, key).value_or(std::string(fallback));
}

const char* ReadSettingInto(char* buffer, std::string_view key, std::string_view fallback) {
  StoreText(buffer, SiteSetting(key, fallback));
  return buffer;
}

bool StoreText(char* buffer, std::string_view text) {
  if (text.size() > kMaxText) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

std::string RelativeForm(std::string_view site, std::string_view target) {
  auto levels = std::max<std::size_t>(std::count(site.begin(), site.end(), '/'), 1);
  std::string result;
  result.reserve(3 * levels + target.size());
  for (std::size_t i = 1; i < levels; ++i) result += "../";
  if (!result.empty()) result.pop_back();
  result += target;
  return result;
}

}  // namespace loomreg
