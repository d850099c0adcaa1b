// The machines: each machine's file list in MachineF/ and its stamp in Machine/.
#ifndef LOOMREG_STORECHECK_MACHINE_CHECK_H
#define LOOMREG_STORECHECK_MACHINE_CHECK_H

#include <cstddef>
#include <string>
#include <string_view>

#include "finding_log.h"
#include "name_index.h"
#include "store_layout.h"
#include "store_scan.h"

namespace loomreg {

// Judges every machine with a file list, a stamp or both, in order, against MachineList's
// names. Returns how many there are.
std::size_t CheckMachines(FindingLog& log, const StorePaths& paths, const StoreScan& scan,
                          const NameIndex& machine_list);

// A stamp is "machine,Www Mmm dd hh:mm:ss yyyy", a line end and an empty line.
void CheckStamp(FindingLog& log, std::string_view machine, const std::string& path);

}  // namespace loomreg

#endif
