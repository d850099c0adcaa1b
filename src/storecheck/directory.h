// Reading a directory of the store entry by entry, with each entry's kind. A symbolic link is
// reported as a link, never by what it points to: a save never follows one.
#ifndef LOOMREG_STORECHECK_DIRECTORY_H
#define LOOMREG_STORECHECK_DIRECTORY_H

#include <dirent.h>

#include <string>
#include <string_view>

namespace loomreg {

enum class EntryKind {
  kFile,       // a regular file
  kDirectory,  // a directory
  kLink,       // a symbolic link, whatever it points to
  kOther,      // a device, FIFO or socket
};

class DirectoryReader {
 public:
  explicit DirectoryReader(const std::string& path);
  ~DirectoryReader();
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // 0 when the directory is open, else the errno of the failed open or of a failed read.
  int error() const { return error_; }
  // The next entry other than "." and "..", valid until the following call. False at the end
  // or on an error.
  bool Next(std::string_view& name, EntryKind& kind);

 private:
  DIR* dir_ = nullptr;
  int error_ = 0;
};

}  // namespace loomreg

#endif
