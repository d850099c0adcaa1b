// A save into a store on a shared file system beside the same save into a store on local disk,
// as bench/shared_store_bench.sh sets them up: single saves, interleaved, with the same lists
// on both sides; then concurrent workers on every application directory, the shared store's
// rounds alternating with the local store's. Prints medians and lower quartiles, and the
// ratios.
//   loomreg_shared_store_bench --loomreg BIN --shared APPDIR,... --local APPDIR,...
//       [--names N] [--saves N] [--load-saves N] [--load-rounds N] [--baseline BIN]
// --baseline also times another build of loomreg the same way, its saves interleaved with these.
// Each APPDIR is an application directory whose ../kvrdata is a store made by loomreg-mkstore;
// all APPDIRs of one side reach the same store. The first two shared ones stand for two hosts.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string loomreg;
  std::string baseline;  // another loomreg whose local saves are timed beside these, if any
  std::vector<fs::path> shared, local;
  long names = 3000;
  int saves = 101;
  int load_saves = 50;
  int load_rounds = 3;
};

const char* const kStyles[] = {"Twill", "Plain", "Satin"};
const char* const kMachines[] = {"Loom0", "Loom1", "Loom2", "Loom3"};

// A name of 10 to 24 bytes, distinct for every `i`.
std::string Name(char kind, long i, std::mt19937& random) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(1, kind);
  name += std::to_string(1000000000L + i).substr(1);
  std::size_t length = 10 + random() % 15;
  while (name.size() < length) name += kChars[random() % 36];
  return name;
}

// `count` names ending with `last`, CR LF after each; the same text for the same arguments.
std::string ListText(char kind, long count, const std::string& last) {
  std::mt19937 random(static_cast<unsigned>(count) * 31 + kind);
  std::string text;
  for (long i = 0; i + 1 < count; ++i) text += Name(kind, i, random) + "\r\n";
  return text + last + "\r\n";
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Fills the store of `app` with lists of `names` names each: the machines and styles the saves
// use stand last in the machine and style lists, so every save reads them to the end, and
// each machine's and style's file list, the file list and the history hold `names` entries.
void FillStore(const fs::path& app, long names) {
  fs::path data = app.parent_path() / "kvrdata";
  std::string machines = ListText('M', names - 3, "LOOM-LISTED");
  for (const char* m : kMachines) machines += std::string(m) + "\r\n";
  Write(data / "MachineList/MachineList", machines);
  std::string styles = ListText('S', names - 3, "STYLE-LISTED");
  for (const char* s : kStyles) styles += std::string(s) + "\r\n";
  Write(data / "StyleList/KindList", styles);
  const std::string files = ListText('F', names, "F-LAST-LISTED");
  Write(data / "SetValueFile/FileList", files);
  std::string history;
  std::mt19937 random(7);
  for (long i = 0; i < names; ++i) {
    history += Name('F', i, random) + ",STYLE-LISTED,B1,history,LOOM-LISTED\r\n";
  }
  Write(data / "SetValueFileList/SetValueList", history);
  Write(data / "MachineF/LOOM-LISTED", files);
  Write(data / "StyleFile/STYLE-LISTED", files);
  for (const char* m : kMachines) Write(data / "MachineF" / m, files);
  for (const char* s : kStyles) {
    Write(data / "StyleFile" / s, files);
    fs::create_directories(data / "SetValueFile" / s);
  }
  fs::create_directories(data / "SetValueFile/STYLE-LISTED");
}

// One save of a new file `file` in `app`, with an upload of its own placed first (as the web
// application places it, outside the timed part). Returns its wall time in milliseconds, or a
// negative number when the upload was not filed.
double Save(const Options& o, const fs::path& app, const std::string& file, const char* style,
            const char* machine, const std::string& program = "") {
  const std::string upload = "upload." + file;
  const fs::path upload_path = app.parent_path() / "kvrdata/SetValueFile" / upload;
  Write(upload_path, "warp density=42\r\nweft density=38\r\n");
  std::vector<std::string> argv = {
      "filename_arg=" + file, std::string("style_arg=") + style,     "beam_arg=B1",
      "koment_arg=benchmark", std::string("machine_arg=") + machine, "top_beam_arg=T1",
      "upload_arg=" + upload};
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, app.c_str());
  const auto start = Clock::now();
  pid_t pid = -1;
  const std::string& run = program.empty() ? o.loomreg : program;
  if (::posix_spawn(&pid, run.c_str(), &actions, nullptr, args.data(), environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (pid < 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  struct stat st;
  if (::lstat(upload_path.c_str(), &st) == 0) return -1;  // not filed
  return ms;
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

bool failed = false;

std::string Serial(const char* side, long n) {
  return std::string("N-") + side + "-" + std::to_string(::getpid()) + "-" + std::to_string(n);
}

// `apps.size()` workers at once, each making `saves` saves in its own application directory,
// styles and machines taken in turn. Returns saves per second.
double Load(const Options& o, const std::vector<fs::path>& apps, const std::string& program,
            const char* side, int round) {
  std::atomic<int> bad{0};
  std::vector<std::thread> workers;
  const auto start = Clock::now();
  for (std::size_t w = 0; w < apps.size(); ++w) {
    workers.emplace_back([&, w] {
      for (int n = 0; n < o.load_saves; ++n) {
        std::string file = Serial(side, (round * 100 + static_cast<long>(w)) * 10000 + n);
        if (Save(o, apps[w], file, kStyles[n % 3], kMachines[(n + w) % 4], program) < 0) ++bad;
      }
    });
  }
  for (auto& t : workers) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (bad > 0) {
    std::fprintf(stderr, "%d saves of a %s load round did not file their upload\n", bad.load(),
                 side);
    failed = true;
  }
  return static_cast<double>(apps.size()) * o.load_saves / seconds;
}

int Main(const Options& o) {
  FillStore(o.shared.front(), o.names);
  FillStore(o.local.front(), o.names);
  // A first save on each side, untimed: the program's pages come into the cache.
  Save(o, o.shared.front(), Serial("warm", 0), "STYLE-LISTED", "LOOM-LISTED");
  Save(o, o.local.front(), Serial("warm", 1), "STYLE-LISTED", "LOOM-LISTED");

  // Each build's saves on each side, in an order that turns by one at every round, so that a
  // burst of load on the shared machine falls on all of them alike; the shared saves alternate
  // between the hosts.
  struct Build {
    std::string name, program;
    std::vector<double> ms[2];  // shared, local
    std::vector<double> rate[2];
  };
  std::vector<Build> builds = {{"this build", o.loomreg, {}, {}}};
  if (!o.baseline.empty()) builds.push_back({"baseline", o.baseline, {}, {}});
  const std::size_t hosts = std::min<std::size_t>(2, o.shared.size());
  const int kinds = 2 * static_cast<int>(builds.size());
  for (int i = 0; i < o.saves; ++i) {
    for (int k = 0; k < kinds; ++k) {
      const int kind = (k + i) % kinds;
      Build& build = builds[static_cast<std::size_t>(kind / 2)];
      const int side = kind % 2;
      const fs::path& app =
          side == 0 ? o.shared[static_cast<std::size_t>(i) % hosts] : o.local.front();
      double ms = Save(o, app, Serial(side == 0 ? "s" : "l", i * kinds + k), "STYLE-LISTED",
                       "LOOM-LISTED", build.program);
      if (ms < 0) {
        if (!failed) std::fprintf(stderr, "a save did not file its upload\n");
        failed = true;
        continue;
      }
      build.ms[side].push_back(ms);
    }
  }
  std::printf("one save, %d interleaved rounds, %ld names in each list\n", o.saves, o.names);
  for (const Build& b : builds) {
    const double sm = Quantile(b.ms[0], 0.5), sq = Quantile(b.ms[0], 0.25);
    const double lm = Quantile(b.ms[1], 0.5), lq = Quantile(b.ms[1], 0.25);
    std::printf("  %s (%s)\n", b.name.c_str(), b.program.c_str());
    std::printf("    shared median %7.2f ms   lower quartile %7.2f ms\n", sm, sq);
    std::printf("    local  median %7.2f ms   lower quartile %7.2f ms\n", lm, lq);
    std::printf("    ratio  median %7.2f x    lower quartile %7.2f x\n", sm / lm, sq / lq);
  }

  for (int round = 0; round < o.load_rounds; ++round) {
    // ABBA: the shared store first in even rounds, the local one in odd rounds.
    for (std::size_t n = 0; n < builds.size(); ++n) {
      Build& b = builds[n];
      for (int k = 0; k < 2; ++k) {
        const int side = (k == 0) == (round % 2 == 0) ? 0 : 1;
        const std::string tag = (side == 0 ? "S" : "L") + std::to_string(n);
        b.rate[side].push_back(
            Load(o, side == 0 ? o.shared : o.local, b.program, tag.c_str(), round));
      }
    }
  }
  std::printf("load, %zu workers on each side x %d saves, median of %d rounds\n", o.shared.size(),
              o.load_saves, o.load_rounds);
  for (const Build& b : builds) {
    const double sr = Quantile(b.rate[0], 0.5), lr = Quantile(b.rate[1], 0.5);
    std::printf("  %-10s shared %6.1f saves/s   local %6.1f saves/s   shared/local %.2f\n",
                b.name.c_str(), sr, lr, sr / lr);
    std::printf("             rounds, shared:");
    for (double r : b.rate[0]) std::printf(" %.1f", r);
    std::printf("; local:");
    for (double r : b.rate[1]) std::printf(" %.1f", r);
    std::printf("\n");
  }
  return failed ? 1 : 0;
}

std::vector<fs::path> Paths(const std::string& list) {
  std::vector<fs::path> paths;
  std::size_t from = 0;
  while (from <= list.size()) {
    std::size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    if (comma > from) paths.push_back(fs::absolute(list.substr(from, comma - from)));
    from = comma + 1;
  }
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    if (key == "--loomreg")
      o.loomreg = fs::absolute(value);
    else if (key == "--baseline")
      o.baseline = fs::absolute(value);
    else if (key == "--shared")
      o.shared = Paths(value);
    else if (key == "--local")
      o.local = Paths(value);
    else if (key == "--names")
      o.names = std::atol(value.c_str());
    else if (key == "--saves")
      o.saves = std::atoi(value.c_str());
    else if (key == "--load-saves")
      o.load_saves = std::atoi(value.c_str());
    else if (key == "--load-rounds")
      o.load_rounds = std::atoi(value.c_str());
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  if (o.loomreg.empty() || o.shared.empty() || o.local.empty() || o.names < 4) {
    std::fprintf(stderr,
                 "usage: loomreg_shared_store_bench --loomreg BIN --shared APPDIR,... --local "
                 "APPDIR,... [--names N] [--saves N] [--load-saves N] [--load-rounds N] "
                 "[--baseline BIN]\n");
    return 2;
  }
  return Main(o);
}
