// The one reader of the site's key=value files, and the relative form of a site path. Every
// setting reader of this module is built on these two pieces.
#ifndef LOOMREG_SITECONFIG_CONFIG_FILE_H
#define LOOMREG_SITECONFIG_CONFIG_FILE_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "os.h"

namespace loomreg {

inline constexpr std::size_t kTextSize = 256;  // a text buffer: 255 bytes and the NUL
inline constexpr std::size_t kMaxText = kTextSize - 1;
// The site settings file, in the application directory (the working directory).
inline constexpr const char* kSiteConfigFile = "KVR_PATH.inf";

// Reads a file as text in pieces of at most 255 bytes, the way a line reader with a 256-byte
// buffer does: a piece ends after the next LF or after its 255th byte. A CR directly before an
// LF is part of the line end and reads as that LF alone.
class PieceReader {
 public:
  explicit PieceReader(const char* path);
  bool is_open() const { return file_.valid(); }
  // The next piece, or false at the end of the file. A piece may hold NUL bytes.
  bool Next(std::string& piece);

 private:
  // The next byte, or -1 at the end of the file or when a read fails.
  int Get();

  os::Handle file_;
  char buffer_[4096];
  std::size_t next_ = 0, end_ = 0;
  bool ahead_ = false;  // a byte read past a CR is waiting in ahead_byte_
  char ahead_byte_ = 0;
};

// A piece seen as a C text: everything before its first NUL.
std::string_view PieceText(std::string_view piece);

// The value of the first setting line for `key` (which includes its '='), or nullopt when the
// file cannot be opened or no piece begins with the key. The value is the rest of the piece's
// text without its final LF; it may be empty.
std::optional<std::string> FindSetting(const char* path, std::string_view key);

// The text of the file's first piece without its final LF, or nullopt when the file cannot be
// opened, is empty or begins with a NUL. A first line with nothing but its line end gives "".
std::optional<std::string> FirstLine(const char* path);

// The value of `key` in ./KVR_PATH.inf, or `fallback` when the file or the key is missing.
std::string SiteSetting(std::string_view key, std::string_view fallback);

// Stores SiteSetting(key, fallback) in `buffer` and returns `buffer`. The value always fits: a
// setting line is read as one piece of at most 255 bytes, key included.
const char* ReadSettingInto(char* buffer, std::string_view key, std::string_view fallback);

// Writes `text` and a NUL into a 256-byte buffer. Returns false, leaving the buffer empty, when
// the text is longer than 255 bytes.
bool StoreText(char* buffer, std::string_view text);

// The relative form of site path `target` seen from site directory `site`: one "../" per
// level of `site` (its '/' bytes less one; a site path with no '/' counts as one level less
// than the root, i.e. as having a single '/'), without the last '/', then `target` unchanged.
std::string RelativeForm(std::string_view site, std::string_view target);

}  // namespace loomreg

#endif
