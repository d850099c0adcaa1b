#include "store_scan.h"

namespace loomreg {

StoreScan::StoreScan(const Store& store, const StorePaths& paths) {
  for (const std::string* dir :
       {&paths.values, &paths.style_lists, &paths.machine_lists, &paths.stamps, &paths.history_dir,
        &paths.machine_list_dir, &paths.kind_list_dir}) {
    Read(store, *dir);
  }
  Of(paths.values).ForEach([&](std::string_view name, EntryKind kind) {
    if (kind == EntryKind::kDirectory) Read(store, paths.StyleDir(name));
  });
}

void StoreScan::Read(const Store& store, const std::string& dir) {
  if (!listings_.contains(dir)) listings_.emplace(dir, ReadDirectory(store.Locate(dir)));
}

}  // namespace loomreg
