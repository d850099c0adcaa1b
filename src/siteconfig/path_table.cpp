#include <string>

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

struct Entry {
  char* buffer;
  const char* name;
};

// In the order the entries are written.
const Entry kEntries[] = {
    {StyleFileDir, "StyleFile/"},       {SetValueFileListDir, "SetValueFileList/"},
    {MachineFDir, "MachineF/"},         {MachineListFile, "MachineList/MachineList"},
    {SetValueFileDir, "SetValueFile/"}, {StyleListDir, "StyleList/"},
    {HtmlFileListFile, "HTMLFile.txt"}, {DobbyDir, "Dobby/"},
    {DobbyListDir, "DobbyList/"},       {DobbyFileDir, "DobbyFile/"},
    {MachineDir, "Machine/"},
};

}  // namespace

extern "C" void BuildPathTable(void) {
  std::string root = loomreg::DataRoot();
  table_complete = true;
  for (const Entry& entry : kEntries) {
    if (!loomreg::StoreText(entry.buffer, root + entry.name)) table_complete = false;
  }
}

extern "C" int PathTableIsComplete(void) { return table_complete ? 1 : 0; }
