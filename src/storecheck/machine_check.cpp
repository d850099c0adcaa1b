#include "machine_check.h"

#include <cstdint>
#include <vector>

#include "finding_text.h"
#include "layout_check.h"
#include "list_check.h"
#include "list_format.h"
#include "machine_stamp.h"
#include "sorted_merge.h"

namespace loomreg {

std::size_t CheckMachines(FindingLog& log, const StorePaths& paths, const StoreScan& scan,
                          const NameIndex& machine_list) {
  const std::vector<std::string_view> lists =
      RegularFiles(log, paths.machine_lists, scan.Of(paths.machine_lists), true);
  const std::vector<std::string_view> stamps =
      RegularFiles(log, paths.stamps, scan.Of(paths.stamps), false);
  std::size_t machines = 0;
  ForEachInEither(lists, stamps, [&](std::string_view machine, bool has_list, bool has_stamp) {
    ++machines;
    const bool listed = machine_list.Contains(machine);
    auto note = [&](const std::string& path) {
      log.NoteName(Role::kMachine, machine, path, 0);
      if (!listed) {
        log.Add(FindingKind::kMachineNotListed, path, 0, machine, "is not in MachineList");
      }
    };
    if (has_list) {
      const std::string path = paths.MachineFiles(machine);
      ReadList(log, path, ListKind::kRepeatable, [&](std::string_view word, std::uint64_t line) {
        log.NoteName(Role::kFile, word, path, line);
      });
      note(path);
    }
    if (has_stamp) {
      const std::string path = paths.Stamp(machine);
      CheckStamp(log, machine, path);
      note(path);
    }
    if (!listed && IsListWord(machine))
      log.planner().AddName(paths.machine_list, std::string(machine));
  });
  return machines;
}

void CheckStamp(FindingLog& log, std::string_view machine, const std::string& path) {
  Result<Fd> fd = OpenForReading(log.store(), path);
  if (!fd.ok()) return log.NoteUnread(path, fd.status());
  Result<std::string> content = ReadUpTo(fd->handle(), path, kStampReadLimit);
  if (!content.ok()) return log.Error(content.status());
  const StampReading reading = ReadStamp(machine, *content);
  switch (reading.form) {
    case StampReading::Form::kGood:
      return;
    case StampReading::Form::kLfLineEnds:
      log.Add(FindingKind::kLfLineEnds, path, 1, std::nullopt,
              LinesText(2, "ends in LF alone", "end in LF alone", 1))
          .count = 2;
      return;
    case StampReading::Form::kMalformed:
      log.Add(FindingKind::kMalformedStamp, path, 1, std::nullopt, reading.fault);
      return;
  }
}

}  // namespace loomreg
