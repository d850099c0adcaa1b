// Reading a directory of the store entry by entry, with each entry's kind, following symbolic
// links as a save's open() and rename() would.
#ifndef LOOMREG_STORECHECK_DIRECTORY_H
#define LOOMREG_STORECHECK_DIRECTORY_H

#include <dirent.h>

#include <string>
#include <string_view>

namespace loomreg {

enum class EntryKind {
  kFile,       // a regular file, or a link to one
  kDirectory,  // a directory, or a link to one
  kOther,      // a device, FIFO, socket or dangling link
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
