// Time and peak memory of loomreg-check on large stores: three lists of a million distinct
// names each, and a FileList of about 500 MB holding 17 million words with heavy repetition,
// checked and repaired. The peak is set beside the bound the checker keeps to: twice the bytes
// of the distinct names it must remember, plus 64 MiB. The stores are generated once and kept
// under the work directory; each repair works on a fresh copy.
//   loomreg_check_bench --checker PATH --work DIR [--rounds N] [--no-repair]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "traced_run.h"

namespace {

namespace fs = std::filesystem;

using Measured = TracedRun;

// Runs the checker in `app`, its output discarded.
Measured Run(const std::string& checker, const fs::path& app, bool repair) {
  std::vector<std::string> argv = {"loomreg-check"};
  if (repair) argv.push_back("--repair");
  return RunTraced(checker, argv, app);
}

// A name of `min` to `min + 14` bytes, distinct for every `i`.
std::string Name(char kind, long i, std::size_t min, std::mt19937& random) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(1, kind);
  name += std::to_string(1000000000L + i).substr(1);
  std::size_t length = min + random() % 15;
  while (name.size() < length) name += kChars[random() % 36];
  return name;
}

// The directories of a store for the default KVR_PATH.inf under `root`, application
// directory root/kvr.
void MakeLayout(const fs::path& root) {
  fs::create_directories(root / "kvr");
  for (const char* dir : {"StyleFile", "SetValueFileList", "MachineF", "MachineList",
                          "SetValueFile", "StyleList", "Machine"}) {
    fs::create_directories(root / "kvrdata" / dir);
  }
}

// Writes `count` distinct names, one per line, and returns their bytes.
long WriteDistinct(const fs::path& path, char kind, long count) {
  std::mt19937 random(static_cast<unsigned>(count) + kind);
  std::ofstream out(path, std::ios::binary);
  long bytes = 0;
  std::string buffer;
  for (long i = 0; i < count; ++i) {
    std::string name = Name(kind, i, 10, random);
    bytes += static_cast<long>(name.size());
    buffer += name;
    buffer += "\r\n";
    if (buffer.size() > (1 << 20)) {
      out << buffer;
      buffer.clear();
    }
  }
  out << buffer;
  return bytes;
}

struct Store {
  fs::path root;
  long distinct_bytes = 0;  // of the names the checker must remember
  long list_bytes = 0;
  long words = 0;
};

// Three lists of a million distinct names of 10 to 24 bytes.
Store ThreeLists(const fs::path& work) {
  Store s{work / "check-3x1e6"};
  fs::path ready = s.root / "ready";
  if (!fs::exists(ready)) {
    fs::remove_all(s.root);
    MakeLayout(s.root);
    long bytes = WriteDistinct(s.root / "kvrdata/SetValueFile/FileList", 'F', 1000000);
    bytes += WriteDistinct(s.root / "kvrdata/StyleList/KindList", 'S', 1000000);
    bytes += WriteDistinct(s.root / "kvrdata/MachineList/MachineList", 'M', 1000000);
    std::ofstream(ready) << bytes << "\n";
  }
  std::ifstream(ready) >> s.distinct_bytes;
  for (const char* list :
       {"SetValueFile/FileList", "StyleList/KindList", "MachineList/MachineList"}) {
    s.list_bytes += static_cast<long>(fs::file_size(s.root / "kvrdata" / list));
  }
  s.words = 3000000;
  return s;
}

// A FileList of 17 million words, drawn from a million names of 20 to 34 bytes, one to three
// words a line: about 500 MB.
Store RepeatedList(const fs::path& work) {
  Store s{work / "check-17e6-words"};
  fs::path ready = s.root / "ready";
  if (!fs::exists(ready)) {
    fs::remove_all(s.root);
    MakeLayout(s.root);
    std::mt19937 random(17);
    std::vector<std::string> names;
    for (long i = 0; i < 1000000; ++i) names.push_back(Name('F', i, 20, random));
    std::unordered_set<long> used;
    std::ofstream out(s.root / "kvrdata/SetValueFile/FileList", std::ios::binary);
    std::string buffer;
    long bytes = 0;
    for (long word = 0; word < 17000000;) {
      for (int w = 0, n = 1 + static_cast<int>(random() % 3); w < n; ++w, ++word) {
        long i = static_cast<long>(random() % names.size());
        if (used.insert(i).second) bytes += static_cast<long>(names[i].size());
        buffer += (w > 0 ? " " : "") + names[i];
      }
      buffer += "\r\n";
      if (buffer.size() > (1 << 20)) {
        out << buffer;
        buffer.clear();
      }
    }
    out << buffer;
    std::ofstream(s.root / "kvrdata/StyleList/KindList") << "S1\r\n";
    std::ofstream(s.root / "kvrdata/MachineList/MachineList") << "M1\r\n";
    std::ofstream(ready) << bytes << "\n";
  }
  std::ifstream(ready) >> s.distinct_bytes;
  s.list_bytes = static_cast<long>(fs::file_size(s.root / "kvrdata/SetValueFile/FileList"));
  s.words = 17000000;
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Report(const char* what, const Store& s, const std::vector<Measured>& runs) {
  std::vector<double> seconds, peaks;
  for (const Measured& m : runs) {
    seconds.push_back(m.seconds);
    peaks.push_back(static_cast<double>(m.peak_kib));
  }
  const double bound_mib = 2.0 * static_cast<double>(s.distinct_bytes) / (1 << 20) + 64;
  const double peak_mib = Median(peaks) / 1024;
  std::printf("| %s | %.0f MB | %.2f s | %.1f ns | %.0f MiB | %.0f MiB | %s | %d |\n", what,
              static_cast<double>(s.list_bytes) / 1e6, Median(seconds),
              Median(seconds) * 1e9 / static_cast<double>(s.list_bytes), peak_mib, bound_mib,
              peak_mib <= bound_mib ? "yes" : "NO", runs.back().status);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string checker;
  fs::path work;
  int rounds = 3;
  bool repair = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--no-repair") {
      repair = false;
      continue;
    }
    if (i + 1 == argc) break;
    ++i;
    if (arg == "--checker") {
      checker = fs::absolute(argv[i]);
    } else if (arg == "--work") {
      work = argv[i];
    } else if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i]));
    }
  }
  if (checker.empty() || work.empty()) {
    std::fprintf(stderr,
                 "usage: loomreg_check_bench --checker PATH --work DIR [--rounds N] "
                 "[--no-repair]\n");
    return 2;
  }
  fs::create_directories(work);
  const Store three = ThreeLists(work);
  const Store repeated = RepeatedList(work);
  std::printf(
      "loomreg-check on generated stores, medians of %d runs; bound: twice the bytes of\n"
      "the distinct names plus 64 MiB\n\n",
      rounds);
  std::printf("| Run | lists | time | per list byte | peak RSS | bound | within | exit |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  std::vector<Measured> runs;
  for (int r = 0; r < rounds; ++r) runs.push_back(Run(checker, three.root / "kvr", false));
  Report("check, 3 lists of 1e6 names", three, runs);
  runs.clear();
  for (int r = 0; r < rounds; ++r) runs.push_back(Run(checker, repeated.root / "kvr", false));
  Report("check, 17e6 words, 1e6 distinct", repeated, runs);
  if (!repair) return 0;
  // The repair rewrites the list: each run gets a fresh copy of the store.
  runs.clear();
  const fs::path copy = work / "check-repair";
  for (int r = 0; r < rounds; ++r) {
    fs::remove_all(copy);
    fs::copy(repeated.root, copy, fs::copy_options::recursive);
    runs.push_back(Run(checker, copy / "kvr", true));
  }
  fs::remove_all(copy);
  Report("--repair, 17e6 words, 1e6 distinct", repeated, runs);
  return 0;
}
