#include "command_line.h"

#include <string>

#include "message_text.h"

namespace loomreg {

const std::string_view kCheckUsage =
    "usage: loomreg-check [--repair] [--json]\n"
    "       loomreg-check --hold [--] COMMAND [ARG...]\n"
    "       loomreg-check --help | --version\n"
    "\n"
    "Checks the data store of the application directory it runs in (./KVR_PATH.inf locates\n"
    "the store, as for loomreg) and reports one finding per line: problems, which a reader or\n"
    "the next save trips over, and notes, forms a reader still understands.\n"
    "Exit status: 0 no problem, 1 at least one problem, 2 the store cannot be read whole or\n"
    "the command line is wrong.\n"
    "\n"
    "  --repair   under the lock a save takes, fix what loses nothing: remove repeated names\n"
    "             from FileList, KindList and MachineList (keeping the first), end an\n"
    "             unterminated last line, and add the stored files, styles and machines\n"
    "             the lists lack; then check again and report what is left\n"
    "  --json     print the report as one JSON document\n"
    "  --hold     take the lock a save takes, run COMMAND while holding it, and exit with\n"
    "             COMMAND's exit status (125 when the lock cannot be taken): saves wait\n"
    "             meanwhile, for at most 10 seconds each. SIGTERM, SIGHUP, SIGINT and\n"
    "             SIGQUIT are passed on to COMMAND, which holds the lock itself until it\n"
    "             ends, even when loomreg-check is killed\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

Result<Options> ParseOptions(int argc, const char* const* argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--repair") {
      options.repair = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--hold" && i == 1) {
      int first = i + 1;
      if (first < argc && argv[first] != nullptr && std::string_view(argv[first]) == "--") {
        ++first;
      }
      if (first >= argc || argv[first] == nullptr) return Status::Error("--hold needs a command");
      options.hold = argv + first;
      return options;
    } else {
      return Status::Error("unknown argument " + QuoteForMessage(arg));
    }
  }
  return options;
}

void Complain(std::string_view message) {
  WriteDiagnostic("loomreg-check", EscapeForLine(message));
}

}  // namespace loomreg
