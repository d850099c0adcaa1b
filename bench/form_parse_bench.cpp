// ParseFormData beside two form parsers that do the same work (decode, split at '&' and the
// first '=', a heap copy of every name and value): uriparser's uriDissectQueryMallocExA with '+'
// as space, and GNU cgicc. Two inputs: 1 MiB of form text encoded as a browser encodes a form,
// and one save form parsed again and again. Before anything is timed, the three results are
// compared pair by pair (the peers keep an escaped carriage return, which ParseFormData drops,
// so theirs are compared without it); a difference ends the program.
#include <benchmark/benchmark.h>
#include <cgicc/CgiInput.h>
#include <cgicc/Cgicc.h>
#include <uriparser/Uri.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formdata.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// application/x-www-form-urlencoded as browsers write it: line breaks as CR LF, space as '+',
// letters, digits and "*-._" as they are, every other byte (UTF-8 included) as an upper-case
// escape.
std::string BrowserEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' && (i == 0 || text[i - 1] != '\r')) {
      out += "%0D%0A";
    } else if (c == ' ') {
      out += '+';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("*-._").find(static_cast<char>(c)) != std::string_view::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string EncodeForm(const Pairs& pairs) {
  std::string form;
  for (const auto& [name, value] : pairs) {
    if (!form.empty()) form += '&';
    form += BrowserEncode(name) + '=' + BrowserEncode(value);
  }
  return form;
}

// A settings page of many fields: short names, values of one to six words, some of them
// non-ASCII, a few with line breaks and punctuation. Whole pairs up to 1 MiB.
const std::string& BrowserForm() {
  static const std::string form = [] {
    std::mt19937 random(22);
    const char* words[] = {"warp",  "weft",     "12.5",  "Loom01", "twill", "Größe",
                           "café",  "tension",  "3/1",   "Köper",  "reed",  "40°C",
                           "satin", "Kettbaum", "TOP-3", "½",      "pick",  "density",
                           "a&b",   "x=y",      "ärmel", "100%",   "beam",  "plain"};
    const char* names[] = {"warp", "weft", "beam", "speed", "tension", "reed", "pick", "note"};
    std::string text;
    for (int field = 0;; ++field) {
      std::string value;
      for (int w = 0, n = 1 + static_cast<int>(random() % 6); w < n; ++w) {
        if (w > 0) value += random() % 16 == 0 ? "\n" : " ";
        value += words[random() % std::size(words)];
      }
      std::string pair = BrowserEncode(std::string(names[random() % std::size(names)]) + '_' +
                                       std::to_string(field)) +
                         '=' + BrowserEncode(value);
      if (text.size() + 1 + pair.size() > (1u << 20)) break;
      if (!text.empty()) text += '&';
      text += pair;
    }
    return text;
  }();
  return form;
}

// What the web front sends for one save: six short fields and a 2 KiB textarea of settings.
const std::string& SaveForm() {
  static const std::string form = [] {
    std::string settings;
    for (int line = 0; settings.size() < 2048; ++line) {
      settings += "zone " + std::to_string(line) + ": tension = " + std::to_string(100 + line) +
                  " cN, speed = " + std::to_string(400 + 3 * line) + " rpm; Temp. 40°C\n";
    }
    settings.resize(2048);
    return EncodeForm({{"filename", "Twill Cotton 2024-03"},
                       {"style", "TWILL-3"},
                       {"beam", "B12"},
                       {"comment", "Re-reed after the warp change, see log"},
                       {"machine", "Loom01"},
                       {"top_beam", "TB-7"},
                       {"settings", settings}});
  }();
  return form;
}

struct ParsedList {
  PairList list;
  ParsedList() { InitPairList(&list); }
  ~ParsedList() { FreePairList(&list); }
  ParsedList(const ParsedList&) = delete;
  ParsedList& operator=(const ParsedList&) = delete;
};

struct UriList {
  UriQueryListA* list = nullptr;
  ~UriList() { uriFreeQueryListA(list); }
};

// cgicc reads its request through this: a GET whose query string is the form.
class FormInput : public cgicc::CgiInput {
 public:
  explicit FormInput(const std::string& form) : form_(form) {}
  std::size_t read(char*, std::size_t) override { return 0; }
  std::string getenv(const char* name) override {
    if (std::strcmp(name, "REQUEST_METHOD") == 0) return "GET";
    if (std::strcmp(name, "QUERY_STRING") == 0) return form_;
    return {};
  }

 private:
  const std::string& form_;
};

Pairs OursOf(const std::string& form) {
  std::string buffer = form;
  ParsedList parsed;
  ParseFormData(buffer.data(), &parsed.list);
  Pairs pairs;
  for (int i = 0; i < parsed.list.pairCount; ++i)
    pairs.emplace_back(parsed.list.pairs[i].name, parsed.list.pairs[i].value);
  return pairs;
}

std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

Pairs UriparserOf(const std::string& form) {
  UriList parsed;
  int count = 0;
  uriDissectQueryMallocExA(&parsed.list, &count, form.data(), form.data() + form.size(), URI_TRUE,
                           URI_BR_DONT_TOUCH);
  Pairs pairs;
  for (const UriQueryListA* item = parsed.list; item != nullptr; item = item->next)
    pairs.emplace_back(WithoutCr(item->key), WithoutCr(item->value ? item->value : ""));
  return pairs;
}

Pairs CgiccOf(const std::string& form) {
  FormInput input(form);
  cgicc::Cgicc cgi(&input);
  Pairs pairs;
  for (const cgicc::FormEntry& entry : *cgi)
    pairs.emplace_back(WithoutCr(entry.getName()), WithoutCr(entry.getValue()));
  return pairs;
}

void Compare(const char* input, const Pairs& ours, const Pairs& theirs, const char* peer) {
  if (ours.empty()) {
    std::fprintf(stderr, "%s: ParseFormData found no pairs\n", input);
    std::exit(1);
  }
  if (ours == theirs) return;
  std::fprintf(stderr, "%s: ParseFormData gives %zu pairs, %s %zu\n", input, ours.size(), peer,
               theirs.size());
  for (std::size_t i = 0; i < ours.size() && i < theirs.size(); ++i) {
    if (ours[i] != theirs[i]) {
      std::fprintf(stderr, "first difference at pair %zu: '%s'='%s' against '%s'='%s'\n", i,
                   ours[i].first.c_str(), ours[i].second.c_str(), theirs[i].first.c_str(),
                   theirs[i].second.c_str());
      break;
    }
  }
  std::exit(1);
}

void CountPairs(benchmark::State& state, const std::string& form, int pairs) {
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(form.size()));
  state.counters["pairs"] = pairs;
}

// ParseFormData needs a writable copy of the form, which a CGI program has anyway (it reads
// the request into a buffer), and which the peers do without. Its copy is left out of the time
// where the form is large; on the save form pausing the clock would cost more than the copy
// (2.3 KB), which is timed there, to ParseFormData's disadvantage.
void ParseWithParseFormData(benchmark::State& state, const std::string& form) {
  std::string buffer(form.size() + 1, '\0');
  const bool pause = form.size() > 65536;
  int pairs = 0;
  for (auto _ : state) {
    if (pause) state.PauseTiming();
    std::memcpy(buffer.data(), form.c_str(), form.size() + 1);
    if (pause) state.ResumeTiming();
    ParsedList parsed;
    pairs = ParseFormData(buffer.data(), &parsed.list);
    benchmark::DoNotOptimize(parsed.list.pairs);
  }
  CountPairs(state, form, pairs);
}

void ParseWithUriparser(benchmark::State& state, const std::string& form) {
  int pairs = 0;
  for (auto _ : state) {
    UriList parsed;
    uriDissectQueryMallocExA(&parsed.list, &pairs, form.data(), form.data() + form.size(), URI_TRUE,
                             URI_BR_DONT_TOUCH);
    benchmark::DoNotOptimize(parsed.list);
  }
  CountPairs(state, form, pairs);
}

void ParseWithCgicc(benchmark::State& state, const std::string& form) {
  int pairs = 0;
  for (auto _ : state) {
    FormInput input(form);
    cgicc::Cgicc cgi(&input);
    pairs = static_cast<int>(cgi.getElements().size());
    benchmark::DoNotOptimize(cgi.getElements().data());
  }
  CountPairs(state, form, pairs);
}

void Register(const char* input, const std::string& form, benchmark::IterationCount iterations) {
  const Pairs ours = OursOf(form);
  Compare(input, ours, UriparserOf(form), "uriparser");
  Compare(input, ours, CgiccOf(form), "cgicc");
  const std::pair<const char*, void (*)(benchmark::State&, const std::string&)> parsers[] = {
      {"ParseFormData", ParseWithParseFormData},
      {"uriDissectQueryMallocExA", ParseWithUriparser},
      {"cgicc", ParseWithCgicc}};
  for (const auto& [name, parse] : parsers) {
    auto* bench = benchmark::RegisterBenchmark(
        (std::string(input) + "/" + name).c_str(),
        [&form, parse = parse](benchmark::State& state) { parse(state, form); });
    if (iterations > 0) bench->Iterations(iterations);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register("BrowserForm1MiB", BrowserForm(), 0);
  Register("SaveForm", SaveForm(), 100000);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
