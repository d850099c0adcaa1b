// The styles: each style directory of SetValueFile/ with what it stores, each style's file list
// in StyleFile/, and the uploads waiting beside the style directories.
#ifndef LOOMREG_STORECHECK_STYLE_CHECK_H
#define LOOMREG_STORECHECK_STYLE_CHECK_H

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "directory.h"
#include "finding_log.h"
#include "name_index.h"
#include "store_layout.h"
#include "store_scan.h"

namespace loomreg {

// The lists the styles are judged against.
struct StyleLists {
  const NameIndex& file_list;  // FileList's names
  const NameIndex& kind_list;  // KindList's names
};

class StyleCheck {
 public:
  // `now` dates a waiting upload.
  StyleCheck(FindingLog& log, const StorePaths& paths, const StoreScan& scan, StyleLists lists,
             std::time_t now)
      : log_(log), p_(paths), scan_(scan), lists_(lists), now_(now) {}

  // Judges every style with a directory, a file list or both, in order.
  void Run();

  // Every name stored under some style.
  NameIndex& stored() { return stored_; }
  // How many styles have a directory or a file list.
  std::size_t styles() const { return styles_; }

 private:
  void CheckUpload(const std::string& path, EntryKind kind);
  void CheckStyle(std::string_view style, bool has_dir, bool has_list);
  void CheckStored(std::string_view style, const NameIndex& named, bool has_list);

  FindingLog& log_;
  const StorePaths& p_;
  const StoreScan& scan_;
  const StyleLists lists_;
  const std::time_t now_;
  NameIndex stored_;
  std::size_t styles_ = 0;
};

}  // namespace loomreg

#endif
