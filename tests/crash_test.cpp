// Kills loomreg with SIGKILL at random moments of many saves against one store, and checks
// after each kill that the store holds only whole lines, no repeated names and only complete
// stored files, and that running the interrupted save again completes it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "catalogue_checks.h"
#include "store_fixture.h"

namespace loomreg::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Starts loomreg with the six words, output discarded; returns its pid.
pid_t Spawn(const Store& store, const SaveArgs& args) {
  std::vector<std::string> words = SaveWords(args);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (::chdir(store.app().c_str()) != 0) ::_exit(126);
    ::execv(LOOMREG_BINARY, argv.data());
    ::_exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string UploadContent(int i) {
  return "BEGIN " + std::to_string(i) + "\n" + std::string(1000 + i % 3000, 'x') + "\nEND " +
         std::to_string(i) + "\n";
}

bool IsCompleteUpload(const std::string& text) {
  if (!text.starts_with("BEGIN ")) return false;
  std::string number = text.substr(6, text.find('\n') - 6);
  return text == UploadContent(std::atoi(number.c_str()));
}

// Places the upload whole, as the web application's own write-then-rename would.
void PlaceUpload(const Store& store, int i) {
  fs::path staging = store.data() / "SetValueFile/.staging";
  WriteFile(staging, UploadContent(i));
  fs::rename(staging, store.data() / "SetValueFile/FileData");
}

int SavesFromEnvironment(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value ? std::max(1, std::atoi(value)) : fallback;
}

TEST(CrashTest, KilledSavesLeaveNoTornStateAndCompleteWhenRunAgain) {
  const int saves = SavesFromEnvironment("LOOMREG_CRASH_SAVES", 500);
  Store store;
  std::mt19937 random(20261208);

  // How long a whole save takes here, so that the kills land all over it. The estimate follows
  // the machine's load: each completing run below updates it.
  auto start = Clock::now();
  for (int i = 0; i < 5; ++i) {
    PlaceUpload(store, 0);
    Wait(Spawn(store, {.file = "warmup" + std::to_string(i)}));
  }
  double save_us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 5;

  int killed = 0;
  for (int i = 1; i <= saves; ++i) {
    SaveArgs args{.file = "F" + std::to_string(random() % 12),
                  .style = "S" + std::to_string(random() % 4),
                  .beam = "B" + std::to_string(i),
                  .machine = "M" + std::to_string(random() % 4)};
    PlaceUpload(store, i);
    pid_t pid = Spawn(store, args);
    std::uniform_real_distribution<double> delay(0, save_us);
    std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(delay(random)));
    ::kill(pid, SIGKILL);
    int status = Wait(pid);
    if (WIFSIGNALED(status)) ++killed;

    std::vector<std::string> violations = CatalogueViolations(store.data());
    ASSERT_TRUE(violations.empty()) << "after save " << i << ": " << violations.front();

    auto again_start = Clock::now();
    ProcessResult again = store.Save(args);
    save_us = 0.8 * save_us +
              0.2 * std::chrono::duration<double, std::micro>(Clock::now() - again_start).count();
    ASSERT_EQ(again.exit_status, 1) << "save " << i << ": " << again.err;
    ASSERT_EQ(store.RunStatus(), "0\r\n") << "save " << i << ": " << again.err;
    for (const auto& [list, name] : {std::pair{"SetValueFile/FileList", args.file},
                                     {"StyleList/KindList", args.style},
                                     {"MachineList/MachineList", args.machine}}) {
      auto names = CrLfLines(store.Data(list));
      ASSERT_EQ(std::count(names.begin(), names.end(), name), 1) << list << " after save " << i;
    }
    ASSERT_TRUE(IsCompleteUpload(store.Data("SetValueFile/" + args.style + "/" + args.file)))
        << "save " << i;
  }
  for (const auto& style : fs::directory_iterator(store.data() / "SetValueFile")) {
    if (!style.is_directory()) continue;
    for (const auto& stored : fs::directory_iterator(style.path())) {
      EXPECT_TRUE(IsCompleteUpload(ReadFile(stored.path()))) << stored.path();
    }
  }
  // Kills must land inside runs for the test to mean anything.
  EXPECT_GT(killed, saves / 10);
  std::cout << killed << " of " << saves << " saves killed part-way\n";
}

}  // namespace
}  // namespace loomreg::testing
