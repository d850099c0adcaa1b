// Side-by-side timings of whole loomreg runs against generated data stores: saves into large
// and empty stores beside grep over the same lists, peak memory, growth with list size, and
// start-up beside /bin/true. Every comparison interleaves its runs and reports medians, because
// the machines this runs on are shared and noisy.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "traced_run.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string loomreg;
  std::string checker;   // loomreg-check, when built
  std::string baseline;  // another loomreg to compare the cost of a save with, if any
  fs::path work;
  int rounds = 31;
  std::string plot_data;  // where to write the size/time series, if anywhere
};

struct Run {
  double ms = 0;
  int status = -1;
};

// Runs argv (argv[0] is the file to execute unless `program` is given) in `cwd`, output
// discarded, with `preload` (if any) preloaded, and measures its wall time.
Run Spawn(const std::vector<std::string>& argv, const fs::path& cwd,
          const std::string& program = "", const std::string& preload = "") {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string& file = program.empty() ? argv[0] : program;
  auto start = Clock::now();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!std::string_view(*e).starts_with("LD_PRELOAD=")) environment.emplace_back(*e);
  }
  if (!preload.empty()) environment.push_back("LD_PRELOAD=" + preload);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, file.c_str(), &actions, nullptr, args.data(), envp.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid < 0) return {};
  int status = 0;
  ::waitpid(pid, &status, 0);
  Run run;
  run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The peak resident memory of the program's own image (see RunTraced).
long PeakRssKb(const std::vector<std::string>& argv, const fs::path& cwd,
               const std::string& program) {
  return RunTraced(program, argv, cwd).peak_kib;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A name of 10 to 24 bytes, distinct for every `i`.
std::string Name(char kind, long i, std::mt19937& random) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(1, kind);
  name += std::to_string(1000000000L + i).substr(1);
  std::size_t length = 10 + random() % 15;
  while (name.size() < length) name += kChars[random() % 36];
  return name;
}

void WriteList(const fs::path& path, char kind, long count, const std::string& last) {
  std::mt19937 random(static_cast<unsigned>(count) * 31 + kind);
  std::string text;
  text.reserve(static_cast<std::size_t>(count) * 20);
  for (long i = 0; i + 1 < count; ++i) {
    text += Name(kind, i, random);
    text += "\r\n";
  }
  if (count > 0) text += last + "\r\n";
  std::ofstream(path, std::ios::binary) << text;
}

// A data store for the default KVR_PATH.inf under `root` (application directory root/kvr),
// whose three each-once lists hold `names` names each. The machine "LOOM-LISTED" and the style
// "STYLE-LISTED" stand last in their lists, so that a save reads every list to its end.
fs::path MakeStore(const fs::path& root, long names) {
  fs::path app = root / "kvr", data = root / "kvrdata";
  if (fs::exists(root / "ready")) return app;
  fs::remove_all(root);
  fs::create_directories(app);
  for (const char* dir : {"StyleFile", "SetValueFileList", "MachineF", "MachineList",
                          "SetValueFile", "StyleList", "Machine"}) {
    fs::create_directories(data / dir);
  }
  std::ofstream(data / "SetValueFileList/.lock");  // as loomreg-mkstore creates it
  WriteList(data / "MachineList/MachineList", 'M', names, "LOOM-LISTED");
  WriteList(data / "StyleList/KindList", 'S', names, "STYLE-LISTED");
  WriteList(data / "SetValueFile/FileList", 'F', names, "F-LAST-LISTED");
  std::ofstream(root / "ready") << names << "\n";
  return app;
}

long ListBytes(const fs::path& app) {
  fs::path data = app.parent_path() / "kvrdata";
  long bytes = 0;
  for (const char* list :
       {"MachineList/MachineList", "StyleList/KindList", "SetValueFile/FileList"}) {
    std::error_code ec;
    auto size = fs::file_size(data / list, ec);
    if (!ec) bytes += static_cast<long>(size);
  }
  return bytes;
}

void PlaceUpload(const fs::path& app) {
  std::ofstream(app.parent_path() / "kvrdata/SetValueFile/FileData", std::ios::binary)
      << "warp density=42\r\nweft density=38\r\n";
}

// One save of a file name never saved before, for the listed machine and style, by `program`
// (by default the loomreg measured).
Run Save(const Options& o, const fs::path& app, long serial, const std::string& preload = "",
         const std::string& program = "") {
  PlaceUpload(app);
  std::string file = "NEW-" + std::to_string(getpid()) + "-" + std::to_string(serial);
  return Spawn({"filename_arg=" + file, "style_arg=STYLE-LISTED", "beam_arg=B1",
                "koment_arg=benchmark", "machine_arg=LOOM-LISTED", "top_beam_arg=T1"},
               app, program.empty() ? o.loomreg : program, preload);
}

// An empty store: directories and an empty FileList, made anew before every save into it.
fs::path FreshEmptyStore(const fs::path& root) {
  fs::remove_all(root);
  return MakeStore(root, 0);
}

std::string MachineDescription() {
  utsname u{};
  ::uname(&u);
  std::string cpu = "unknown CPU";
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);) {
    if (line.starts_with("model name")) {
      cpu = line.substr(line.find(':') + 2);
      break;
    }
  }
  return cpu + ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + u.sysname +
         " " + u.release + " " + u.machine;
}

bool ok(const Run& r) { return r.status == 1; }

int Main(const Options& o) {
  std::printf("loomreg performance, %s\n", MachineDescription().c_str());
  std::printf("medians of %d interleaved rounds\n\n", o.rounds);
  long serial = 0;

  // 1 and 2: a save into a store of a million names per list, beside grep and beside the same
  // save into a store whose lists hold only the listed machine and style (the start-up and
  // durability floor), and into an empty store.
  fs::path large = MakeStore(o.work / "store-1000000", 1000000);
  fs::path large_data = large.parent_path() / "kvrdata";
  fs::path minimal = MakeStore(o.work / "store-1", 1);
  // The first save into a store creates the machine's and the style's files; time later ones.
  Save(o, large, ++serial);
  Save(o, minimal, ++serial);
  std::vector<double> large_ms, minimal_ms, empty_ms, grep_ms;
  long large_rss = 0, empty_rss = 0;
  for (int round = 0; round < o.rounds; ++round) {
    Run l = Save(o, large, ++serial);
    Run m = Save(o, minimal, ++serial);
    Run e = Save(o, FreshEmptyStore(o.work / "store-empty"), ++serial);
    Run g =
        Spawn({"grep", "-qxF", "NEW-NOT-LISTED", (large_data / "SetValueFile/FileList").string(),
               (large_data / "MachineList/MachineList").string(),
               (large_data / "StyleList/KindList").string()},
              o.work);
    if (!ok(l) || !ok(m) || !ok(e) || g.status != 1) {
      std::fprintf(stderr, "loomreg_perf: a run failed (%d %d %d %d)\n", l.status, m.status,
                   e.status, g.status);
      return 1;
    }
    large_ms.push_back(l.ms);
    minimal_ms.push_back(m.ms);
    empty_ms.push_back(e.ms);
    grep_ms.push_back(g.ms);
  }
  // Peak memory, measured apart from the timed runs: the largest of a few saves each.
  auto save_words = [&](long n) {
    PlaceUpload(n < 0 ? large : o.work / "store-empty/kvr");
    return std::vector<std::string>{"filename_arg=NEW-RSS-" + std::to_string(++serial),
                                    "style_arg=STYLE-LISTED",
                                    "beam_arg=B1",
                                    "koment_arg=benchmark",
                                    "machine_arg=LOOM-LISTED",
                                    "top_beam_arg=T1"};
  };
  for (int round = 0; round < 5; ++round) {
    large_rss = std::max(large_rss, PeakRssKb(save_words(-1), large, o.loomreg));
    fs::path empty = FreshEmptyStore(o.work / "store-empty");
    empty_rss = std::max(empty_rss, PeakRssKb(save_words(0), empty, o.loomreg));
  }
  double floor_ms = Median(minimal_ms);
  double scan_vs_empty = Median(large_ms) - Median(empty_ms);
  double scan_vs_minimal = Median(large_ms) - floor_ms;
  double grep = Median(grep_ms);
  double list_mb = ListBytes(large) / 1e6;
  std::printf("| measurement | median | target |\n|---|---|---|\n");
  std::printf(
      "| save, 3 lists of 1e6 names (%.1f MB), machine and style listed last | %.2f ms | |\n",
      list_mb, Median(large_ms));
  std::printf("| save, empty store | %.2f ms | |\n", Median(empty_ms));
  std::printf("| save, lists holding only that machine and style | %.2f ms | |\n", floor_ms);
  std::printf("| grep -qxF over the same lists | %.2f ms | |\n", grep);
  std::printf(
      "| scanning cost (large less empty store) / grep | %.2f ms / grep = %.2f | <= 0.40 |\n",
      scan_vs_empty, scan_vs_empty / grep);
  std::printf("| scanning cost (large less one-name lists) / grep | %.2f ms / grep = %.2f | |\n",
              scan_vs_minimal, scan_vs_minimal / grep);
  std::printf("| peak RSS, large / empty store | %ld / %ld KiB (%+ld KiB) | <= +1024 KiB |\n",
              large_rss, empty_rss, large_rss - empty_rss);

  // 3: growth with the size of the lists.
  // The saves here run without their flushes (the no-sync shim): a flush costs a few
  // milliseconds on an idle disk and tens on a busy one, and that noise would swamp the scan.
  // The larger sizes are there for the exponent: it is fitted only where scanning outweighs
  // the fixed cost of a save, which on these machines begins near a million names.
  std::vector<long> sizes = {1000, 10000, 100000, 1000000, 2000000, 4000000};
  std::vector<fs::path> stores;
  for (long n : sizes) {
    stores.push_back(MakeStore(o.work / ("store-" + std::to_string(n)), n));
    Save(o, stores.back(), ++serial, LOOMREG_NOSYNC_SHIM);
  }
  std::vector<std::vector<double>> times(sizes.size());
  std::vector<double> floor_times;
  for (int round = 0; round < o.rounds; ++round) {
    floor_times.push_back(Save(o, minimal, ++serial, LOOMREG_NOSYNC_SHIM).ms);
    for (std::size_t i = 0; i < sizes.size(); ++i)
      times[i].push_back(Save(o, stores[i], ++serial, LOOMREG_NOSYNC_SHIM).ms);
  }
  // Least squares of time against list bytes (the slope), and of the logarithm of the
  // list-dependent time (less the floor) against that of the list bytes (the exponent), over
  // the sizes where that time is at least the floor itself. Below that the difference of two
  // noisy times of similar size dominates the logarithm, and the exponent came out anywhere
  // between 0.5 and 1 from one machine to the next.
  auto fit = [](const std::vector<double>& xs, const std::vector<double>& ys) {
    double n = static_cast<double>(xs.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
      sx += xs[i];
      sy += ys[i];
      sxx += xs[i] * xs[i];
      sxy += xs[i] * ys[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
  };
  std::vector<double> x, y, lx, ly;
  std::vector<long> fitted;  // the sizes the exponent is fitted over
  double growth_floor = Median(floor_times);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    x.push_back(static_cast<double>(ListBytes(stores[i])));
    y.push_back(Median(times[i]));
    if (y[i] - growth_floor >= growth_floor) {
      lx.push_back(std::log(x[i]));
      ly.push_back(std::log(y[i] - growth_floor));
      fitted.push_back(sizes[i]);
    }
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::printf("| save without its flushes, 3 lists of %ld names (%.2f MB) | %.2f ms | |\n",
                sizes[i], x[i] / 1e6, y[i]);
  }
  std::printf("| slope | %.3f ns per list byte | |\n", fit(x, y) * 1e6);
  if (fitted.size() >= 2) {
    std::printf(
        "| fitted exponent of the list-dependent time, over %ld to %ld names per list (%zu sizes "
        "where it is at least the fixed %.2f ms) | %.3f | <= 1.05 |\n",
        fitted.front(), fitted.back(), fitted.size(), growth_floor, fit(lx, ly));
  } else {
    std::printf(
        "| fitted exponent of the list-dependent time | not fitted: fewer than two sizes where "
        "it is at least the fixed %.2f ms | <= 1.05 |\n",
        growth_floor);
  }
  if (!o.plot_data.empty()) {
    std::ofstream plot(o.plot_data);
    plot << "# names_per_list list_bytes median_save_ms list_dependent_ms\n";
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      plot << sizes[i] << ' ' << x[i] << ' ' << y[i] << ' ' << y[i] - growth_floor << '\n';
    }
  }

  // 4: start-up beside /bin/true, and the whole cost of a save into an empty store.
  std::vector<double> version_ms, true_ms;
  for (int round = 0; round < o.rounds * 3; ++round) {
    version_ms.push_back(Spawn({"loomreg", "--version"}, o.work, o.loomreg).ms);
    true_ms.push_back(Spawn({"/bin/true"}, o.work).ms);
  }
  std::printf("| loomreg --version | %.3f ms | |\n", Median(version_ms));
  std::printf("| /bin/true | %.3f ms | |\n", Median(true_ms));
  std::printf("| start-up ratio | %.2f | <= 1.20 |\n", Median(version_ms) / Median(true_ms));
  // What durability costs: the same saves with every flush turned into a no-op.
  std::vector<double> synced_ms, unsynced_ms;
  for (int round = 0; round < o.rounds; ++round) {
    synced_ms.push_back(Save(o, FreshEmptyStore(o.work / "store-empty"), ++serial).ms);
    unsynced_ms.push_back(
        Save(o, FreshEmptyStore(o.work / "store-empty"), ++serial, LOOMREG_NOSYNC_SHIM).ms);
  }
  std::printf(
      "| whole save into an empty store, flushed / without flushes | %.2f / %.2f ms "
      "(durability %.2f ms) | |\n",
      Median(synced_ms), Median(unsynced_ms), Median(synced_ms) - Median(unsynced_ms));

  // 5: what a save costs beside another build of loomreg, on the same stores, interleaved.
  if (!o.baseline.empty()) {
    std::vector<double> new_small, old_small, new_empty, old_empty;
    for (int round = 0; round < o.rounds * 3; ++round) {
      new_small.push_back(Save(o, minimal, ++serial).ms);
      old_small.push_back(Save(o, minimal, ++serial, "", o.baseline).ms);
      new_empty.push_back(Save(o, FreshEmptyStore(o.work / "store-empty"), ++serial).ms);
      old_empty.push_back(
          Save(o, FreshEmptyStore(o.work / "store-empty"), ++serial, "", o.baseline).ms);
    }
    std::printf(
        "| save, lists holding only that machine and style: this / baseline | %.3f / "
        "%.3f ms (%+.3f ms) | |\n",
        Median(new_small), Median(old_small), Median(new_small) - Median(old_small));
    std::printf("| save into an empty store: this / baseline | %.3f / %.3f ms (%+.3f ms) | |\n",
                Median(new_empty), Median(old_empty), Median(new_empty) - Median(old_empty));
  }

  if (!o.checker.empty()) {
    std::vector<double> check_ms;
    for (int round = 0; round < std::max(3, o.rounds / 5); ++round) {
      check_ms.push_back(Spawn({"loomreg-check"}, large, o.checker).ms);
    }
    std::printf("| loomreg-check, 3 lists of 1e6 names | %.1f ms | a few seconds |\n",
                Median(check_ms));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--loomreg")
      o.loomreg = value();
    else if (arg == "--checker")
      o.checker = value();
    else if (arg == "--baseline")
      o.baseline = value();
    else if (arg == "--work")
      o.work = value();
    else if (arg == "--rounds")
      o.rounds = std::max(1, std::atoi(value().c_str()));
    else if (arg == "--plot-data")
      o.plot_data = value();
    else
      o.work.clear(), i = argc;  // an unknown word: show the usage below
  }
  if (o.loomreg.empty() || o.work.empty()) {
    std::fprintf(stderr,
                 "usage: loomreg_perf --loomreg PATH --work DIR [--checker PATH] "
                 "[--baseline PATH] [--rounds N] [--plot-data FILE]\n");
    return 2;
  }
  o.loomreg = fs::absolute(o.loomreg);
  if (!o.checker.empty()) o.checker = fs::absolute(o.checker);
  if (!o.baseline.empty()) o.baseline = fs::absolute(o.baseline);
  o.work = fs::absolute(o.work);
  fs::create_directories(o.work);
  return Main(o);
}
