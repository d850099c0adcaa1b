// Many saves from concurrent workers against one store, with names that repeat often. Each
// worker runs in an application directory of its own (so each run's status can be read) and
// all of them reach the same data store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "catalogue_checks.h"
#include "store_fixture.h"

namespace loomreg::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  SaveArgs args;
  ProcessResult run;
  std::string status;
};

TEST(SoakTest, ConcurrentSavesKeepEveryCatalogueExact) {
  const char* configured = std::getenv("LOOMREG_SOAK_SAVES");
  const int saves = configured ? std::max(8, std::atoi(configured)) : 2000;
  constexpr int kWorkers = 8;
  Store store;

  std::vector<std::vector<Outcome>> outcomes(kWorkers);
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      fs::path app = store.app().parent_path() / ("app" + std::to_string(w));
      fs::create_directory(app);
      std::mt19937 random(1000 + w);
      for (int i = w; i < saves; i += kWorkers) {
        SaveArgs args{.file = "F" + std::to_string(random() % 40),
                      .style = "S" + std::to_string(random() % 6),
                      .beam = "B" + std::to_string(i),
                      .comment = "W" + std::to_string(w),
                      .machine = "M" + std::to_string(random() % 6)};
        fs::path staging = store.data() / ("SetValueFile/.staging" + std::to_string(w));
        WriteFile(staging, "upload " + std::to_string(i));
        fs::rename(staging, store.data() / "SetValueFile/FileData");
        ProcessResult run = RunProcess(LOOMREG_BINARY, SaveWords(args), app);
        outcomes[w].push_back({args, run, ReadFile(app / "TimeExec.dat")});
      }
    });
  }
  for (auto& worker : workers) worker.join();

  std::multiset<std::string> history;
  std::map<std::string, std::multiset<std::string>> machine_files, style_files;
  std::set<std::string> files, styles, machines;
  for (const auto& worker : outcomes) {
    for (const Outcome& o : worker) {
      const SaveArgs& a = o.args;
      ASSERT_EQ(o.run.exit_status, 1) << o.run.err;
      ASSERT_EQ(o.status, "0\r\n") << o.run.err;
      // The only message a clean save may give: another worker's run took the upload.
      ASSERT_TRUE(o.run.err.empty() || o.run.err.starts_with("loomreg: upload not stored"))
          << o.run.err;
      history.insert(a.file + "," + a.style + "," + a.beam + "," + a.comment + "," + a.machine);
      machine_files[a.machine].insert(a.file);
      style_files[a.style].insert(a.file);
      files.insert(a.file);
      styles.insert(a.style);
      machines.insert(a.machine);
    }
  }

  EXPECT_EQ(CatalogueViolations(store.data()), std::vector<std::string>{});
  auto lines = CrLfLines(store.Data("SetValueFileList/SetValueList"));
  EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()), history);
  auto as_set = [](const std::vector<std::string>& v) {
    return std::set<std::string>(v.begin(), v.end());
  };
  EXPECT_EQ(as_set(CrLfLines(store.Data("SetValueFile/FileList"))), files);
  EXPECT_EQ(as_set(CrLfLines(store.Data("StyleList/KindList"))), styles);
  EXPECT_EQ(as_set(CrLfLines(store.Data("MachineList/MachineList"))), machines);
  for (const auto& [machine, expected] : machine_files) {
    auto got = CrLfLines(store.Data("MachineF/" + machine));
    EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()), expected) << machine;
  }
  for (const auto& [style, expected] : style_files) {
    auto got = CrLfLines(store.Data("StyleFile/" + style));
    EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()), expected) << style;
  }
}

}  // namespace
}  // namespace loomreg::testing
