// The program: command line, run-status file around the registration, exit status.
#include <chrono>
#include <string>
#include <string_view>

#include "loomreg_version.h"
#include "message_text.h"
#include "register_save.h"
#include "registration.h"
#include "run_status.h"
#include "save_request.h"
#include "store.h"

namespace loomreg {
namespace {

constexpr int kExitDone = 1;        // the run went to its end; the result is in the status file
constexpr int kExitNoStatus = 255;  // the run-status file could not be written
constexpr int kExitInfo = 0;        // --help, --version, --paths

constexpr std::string_view kUsage =
    "usage: loomreg style_arg=STYLE beam_arg=BEAM koment_arg=COMMENT machine_arg=MACHINE "
    "top_beam_arg=TOP_BEAM [upload_arg=NAME]\n"
    "         (started with argv[0] set to filename_arg=FILE, as the web application does)\n"
    "       loomreg filename_arg=FILE style_arg=STYLE beam_arg=BEAM koment_arg=COMMENT "
    "machine_arg=MACHINE top_beam_arg=TOP_BEAM [upload_arg=NAME]\n"
    "       loomreg -h | --help | --version | --paths\n"
    "\n"
    "Files the upload FileData of the data store (or NAME, beside it) under STYLE as FILE and\n"
    "records the save in the store's catalogues, under the store's lock SetValueFileList/.lock.\n"
    "Run it in the application directory: ./KVR_PATH.inf locates the\n"
    "data store, and TimeExec.dat receives the run status (1 while running, then 0 or -1).\n"
    "Exit status: 1 when the run ended (see TimeExec.dat), 255 when TimeExec.dat cannot be\n"
    "written, 0 for --help, --version and --paths.\n"
    "\n"
    "  -h, --help show this text\n"
    "  --version  show the version\n"
    "  --paths    show the data-store paths computed from ./KVR_PATH.inf\n";

void Print(std::string_view text) { (void)WriteAll(os::Stream::kOutput, "standard output", text); }

void PrintPaths(const Store& store) {
  std::string text;
  for (const auto& [name, path] : store.Table()) {
    text += name;
    text += '=';
    text += path;
    text += '\n';
  }
  Print(text);
}

}  // namespace
}  // namespace loomreg

extern "C" int LoomregMain(int argc, char** argv) {
  using namespace loomreg;
  const Command command = ParseCommandLine(argc, argv);
  switch (command.kind) {
    case CommandKind::kHelp:
      Print(kUsage);
      return kExitInfo;
    case CommandKind::kVersion:
      Print("loomreg " LOOMREG_VERSION "\n");
      return kExitInfo;
    case CommandKind::kPaths: {
      const Store store = Store::OpenSite();
      if (Status table = store.CheckTable(); !table.ok()) {
        Report(table.message());
        return kExitDone;
      }
      PrintPaths(store);
      return kExitInfo;
    }
    case CommandKind::kSave:
      break;
  }

  // The web application reads "open error" on standard output; the administrator finds why on
  // standard error.
  if (Status status = WriteRunStatus("1"); !status.ok()) {
    Print("open error");
    Report(status.message());
    return kExitNoStatus;
  }
  const auto lock_deadline = std::chrono::steady_clock::now() + kLockWait;
  int result;
  if (!command.refusal.ok()) {
    Report("refused: " + command.refusal.message());
    result = -1;
  } else {
    const Store store = Store::OpenSite();
    result = ReportOutcome(RegisterSaveUntil(store, command.request, lock_deadline));
  }
  if (Status status = WriteRunStatus(std::to_string(result)); !status.ok()) {
    Report(status.message());
    return kExitNoStatus;
  }
  return kExitDone;
}
