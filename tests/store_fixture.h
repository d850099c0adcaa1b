// A data store in a temporary directory, laid out for the default ./KVR_PATH.inf: the tool runs
// in <root>/kvr and the store lies in <root>/kvrdata.
#ifndef LOOMREG_TESTS_STORE_FIXTURE_H
#define LOOMREG_TESTS_STORE_FIXTURE_H

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace loomreg::testing {

struct SaveArgs {
  std::string file = "F1";
  std::string style = "S1";
  std::string beam = "B1";
  std::string comment = "C1";
  std::string machine = "M1";
  std::string top_beam = "T1";
};

// The six words as the web application passes them, the file-name word first.
std::vector<std::string> SaveWords(const SaveArgs& args);

class Store {
 public:
  Store();
  const std::filesystem::path& app() const { return app_; }
  const std::filesystem::path& data() const { return data_; }

  void Upload(const std::string& content) const;
  std::string Data(const std::string& relative) const { return ReadFile(data_ / relative); }
  std::string RunStatus() const { return ReadFile(app_ / "TimeExec.dat"); }
  // Takes the store lock exclusively, as a save does, through a descriptor of its own, waiting
  // for it when `wait`; returns the descriptor (close it to release the lock), or -1.
  int HoldLock(bool wait = true) const;
  std::map<std::string, std::string> Snapshot() const { return testing::Snapshot(root_.path()); }

  // Runs loomreg in the application directory, with TZ=UTC and `env` added to the environment.
  ProcessResult Run(const std::vector<std::string>& argv,
                    const std::vector<std::string>& env = {}) const;
  ProcessResult Save(const SaveArgs& args, const std::vector<std::string>& env = {}) const {
    return Run(SaveWords(args), env);
  }

 private:
  TempDir root_;
  std::filesystem::path app_;
  std::filesystem::path data_;
};

// Checks that a save of the default SaveArgs with upload `upload`, stopped at `step` (1 to 8; 9
// for a save that went through), did exactly steps 1 to step - 1 of: history line, machine's
// file list, machine list, file list, stored upload, style list, style's file list, stamp.
// Paths below a prefix in `unreadable` are not checked: the test broke them on purpose.
void ExpectStepsDone(const Store& store, int step, const std::string& upload,
                     const std::vector<std::string>& unreadable = {});

}  // namespace loomreg::testing

#endif
