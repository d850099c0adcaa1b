#include "style_check.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "finding_text.h"
#include "layout_check.h"
#include "list_check.h"
#include "list_format.h"
#include "name_rules.h"
#include "sorted_merge.h"

namespace loomreg {

void StyleCheck::Run() {
  // SetValueFile/ holds FileList, the upload and one directory per style.
  std::vector<std::string_view> dirs;
  const Listing& values = scan_.Of(p_.values);
  values.ForEach([&](std::string_view name, EntryKind kind) {
    if (kind == EntryKind::kDirectory) {
      // A directory FileData is a style of a reserved name, noted as such.
      dirs.push_back(name);
    } else if (name == kSharedUploadName) {
      CheckUpload(p_.upload, kind);
    } else if (name == kFileListName) {
      // judged on its own
    } else if (IsLeftover(name) && kind == EntryKind::kFile) {
      log_.NoteLeftover(p_.values + std::string(name));
    } else if (kind == EntryKind::kFile) {
      // An upload named by upload_arg= that its save did not file.
      CheckUpload(p_.NamedUpload(name), kind);
    } else {
      // A link or special file where a style directory would stand.
      log_.WrongType(p_.values + std::string(name), "a directory");
    }
  });
  if (!values.status().ok()) log_.Error(values.status());
  std::sort(dirs.begin(), dirs.end());
  const std::vector<std::string_view> lists =
      RegularFiles(log_, p_.style_lists, scan_.Of(p_.style_lists), true);
  ForEachInEither(dirs, lists, [&](std::string_view style, bool has_dir, bool has_list) {
    CheckStyle(style, has_dir, has_list);
  });
}

void StyleCheck::CheckUpload(const std::string& path, EntryKind kind) {
  if (kind != EntryKind::kFile) {
    log_.WrongType(path, "a regular file");
    return;
  }
  Result<os::Info> st = LinkStatus(log_.store().Locate(path));
  if (!st.ok() || st->type != os::Type::kRegular) return;
  std::int64_t age = std::max<std::int64_t>(0, now_ - st->modified);
  const auto size = static_cast<std::int64_t>(st->size);
  Finding& finding =
      log_.Add(FindingKind::kWaitingUpload, path, 0, std::nullopt,
               "an upload of " + std::to_string(size) + (size == 1 ? " byte" : " bytes") +
                   " has been waiting for " + AgeText(age));
  finding.age_seconds = age;
  finding.size_bytes = size;
}

void StyleCheck::CheckStyle(std::string_view style, bool has_dir, bool has_list) {
  ++styles_;
  const bool listed = lists_.kind_list.Contains(style);
  NameIndex named;  // the names of the style's file list
  const std::string list_path = p_.StyleFiles(style);
  if (has_list) {
    ReadList(log_, list_path, ListKind::kRepeatable,
             [&](std::string_view word, std::uint64_t line) {
               if (named.Add(word, line).is_new) log_.NoteName(Role::kFile, word, list_path, line);
             });
    if (!listed) log_.Add(FindingKind::kStyleNotListed, list_path, 0, style, "is not in KindList");
  }
  if (!has_dir) {
    log_.NoteName(Role::kStyle, style, list_path, 0);
    return;
  }
  const std::string dir = p_.StyleDir(style);
  log_.NoteName(Role::kStyle, style, dir, 0);
  if (!listed) {
    log_.Add(FindingKind::kStyleNotListed, dir, 0, style, "is not in KindList");
    if (IsListWord(style) && !IsReservedStyle(style)) {
      log_.planner().AddName(p_.kind_list, std::string(style));
    }
  }
  CheckStored(style, named, has_list);
}

// What the style's directory holds, against FileList and the style's file list.
void StyleCheck::CheckStored(std::string_view style, const NameIndex& named, bool has_list) {
  const Listing& stored = scan_.Of(p_.StyleDir(style));
  stored.ForEach([&](std::string_view name, EntryKind kind) {
    if (kind != EntryKind::kFile) {
      // No save stores anything but a regular file, and none goes through a link.
      log_.WrongType(p_.Stored(style, name), "a regular file");
      return;
    }
    stored_.Add(name, 0);
    const bool in_file_list = lists_.file_list.Contains(name);
    const bool in_style_list = named.Contains(name);
    if (in_file_list && in_style_list && !NameFault(name)) return;
    const std::string path = p_.Stored(style, name);
    log_.NoteName(Role::kFile, name, path, 0);
    if (!in_file_list) {
      log_.Add(FindingKind::kNotInFileList, path, 0, name, "is stored but not in FileList");
      if (IsListWord(name)) log_.planner().AddName(p_.file_list, std::string(name));
    }
    if (!in_style_list) {
      log_.Add(FindingKind::kNotInStyleList, path, 0, name,
               has_list ? "is stored but its style's file list does not name it"
                        : "is stored but its style has no file list");
    }
  });
  if (!stored.status().ok()) log_.Error(stored.status());
}

}  // namespace loomreg
