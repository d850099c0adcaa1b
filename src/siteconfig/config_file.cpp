#include "config_file.h"

#include <algorithm>
#include <cstring>

namespace loomreg {

namespace {

// Opens a configuration file for reading. The file may be a symbolic link to a regular file;
// anything else (a FIFO, a device such as /dev/zero, a directory) counts as missing and is
// never read: a FIFO would block the read for ever and a device could feed it without end.
os::Handle OpenConfigFile(const char* path) {
  os::Handle file;
  (void)os::OpenFile(os::Root(), path, {.links = os::Links::kFollow}, file);
  return file;
}

}  // namespace

PieceReader::PieceReader(const char* path) : file_(OpenConfigFile(path)) {}

int PieceReader::Get() {
  if (next_ == end_) {
    std::size_t got = 0;
    if (!file_.valid() || !os::Read(file_, buffer_, sizeof buffer_, got).ok() || got == 0) {
      return -1;
    }
    next_ = 0;
    end_ = got;
  }
  return static_cast<unsigned char>(buffer_[next_++]);
}

bool PieceReader::Next(std::string& piece) {
  piece.clear();
  while (piece.size() < kMaxText) {
    int c;
    if (ahead_) {
      ahead_ = false;
      c = static_cast<unsigned char>(ahead_byte_);
    } else {
      c = Get();
    }
    if (c < 0) break;
    if (c == '\r') {
      int next = Get();
      if (next == '\n') {
        c = '\n';
      } else if (next >= 0) {
        ahead_ = true;
        ahead_byte_ = static_cast<char>(next);
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
