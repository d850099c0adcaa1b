#include <string>

#include "path_table.h"

#include "config_file.h"
#include "relative_roots.h"
#include "siteconfig.h"

char StyleFileDir[LOOMREG_TEXT_SIZE];
char SetValueFileListDir[LOOMREG_TEXT_SIZE];
char MachineFDir[LOOMREG_TEXT_SIZE];
char MachineListFile[LOOMREG_TEXT_SIZE];
char SetValueFileDir[LOOMREG_TEXT_SIZE];
char StyleListDir[LOOMREG_TEXT_SIZE];
char HtmlFileListFile[LOOMREG_TEXT_SIZE];
char DobbyDir[LOOMREG_TEXT_SIZE];
char DobbyListDir[LOOMREG_TEXT_SIZE];
char DobbyFileDir[LOOMREG_TEXT_SIZE];
char MachineDir[LOOMREG_TEXT_SIZE];

namespace {

bool table_complete = false;

// In the order the entries are written.
const loomreg::PathTableEntry kEntries[] = {
    {"StyleFileDir", StyleFileDir, "StyleFile/"},
    {"SetValueFileListDir", SetValueFileListDir, "SetValueFileList/"},
    {"MachineFDir", MachineFDir, "MachineF/"},
    {"MachineListFile", MachineListFile, "MachineList/MachineList"},
    {"SetValueFileDir", SetValueFileDir, "SetValueFile/"},
    {"StyleListDir", StyleListDir, "StyleList/"},
    {"HtmlFileListFile", HtmlFileListFile, "HTMLFile.txt"},
    {"DobbyDir", DobbyDir, "Dobby/"},
    {"DobbyListDir", DobbyListDir, "DobbyList/"},
    {"DobbyFileDir", DobbyFileDir, "DobbyFile/"},
    {"MachineDir", MachineDir, "Machine/"},
};

}  // namespace

std::span<const loomreg::PathTableEntry> loomreg::PathTableEntries() { return kEntries; }

extern "C" void BuildPathTable(void) {
  std::string root = loomreg::DataRoot();
  table_complete = true;
  for (const loomreg::PathTableEntry& entry : kEntries) {
    if (!loomreg::StoreText(entry.buffer, root + std::string(entry.below))) table_complete = false;
  }
}

extern "C" int PathTableIsComplete(void) { return table_complete ? 1 : 0; }
