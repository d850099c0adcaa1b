// The form-data codec beside libcurl's escape and unescape, on the same megabyte of form text.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "formdata.h"

namespace {

constexpr std::size_t kFormBytes = 1 << 20;

// What a browser sends for a settings form: mostly plain fields, some spaces as '+', some
// escaped punctuation and non-ASCII bytes.
const std::string& EncodedForm() {
  static const std::string form = [] {
    std::mt19937 random(42);
    const char* words[] = {"warp", "weft", "density", "Loom01", "beam", "twill", "plain",
                           "42",   "3.5",  "tension", "reed",   "pick", "satin", "TOP-3"};
    const char* escapes[] = {"%2C", "%2F", "%3A", "%E9", "%C3%A9", "%26", "%3D", "%0D%0A"};
    std::string text;
    int field = 0;
    while (text.size() < kFormBytes) {
      if (!text.empty()) text += '&';
      text += "field" + std::to_string(field++) + "=";
      for (int w = 0, n = 1 + static_cast<int>(random() % 6); w < n; ++w) {
        if (w > 0) text += '+';
        text += words[random() % std::size(words)];
        if (random() % 8 == 0) text += escapes[random() % std::size(escapes)];
      }
    }
    text.resize(kFormBytes);
    while (text.back() == '%' || text[text.size() - 2] == '%') text.pop_back();
    return text;
  }();
  return form;
}

// The same text decoded: the input of the encoders.
const std::string& PlainText() {
  static const std::string plain = [] {
    char* decoded = DecodeUrlText(EncodedForm().c_str());
    std::string text = decoded;
    std::free(decoded);
    return text;
  }();
  return plain;
}

CURL* Curl() {
  static CURL* curl = curl_easy_init();
  return curl;
}

void BM_DecodeUrlText(benchmark::State& state) {
  const std::string& input = EncodedForm();
  for (auto _ : state) {
    char* out = DecodeUrlText(input.c_str());
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_DecodeUrlText);

void BM_CurlUnescape(benchmark::State& state) {
  const std::string& input = EncodedForm();
  for (auto _ : state) {
    int length = 0;
    char* out = curl_easy_unescape(Curl(), input.c_str(), static_cast<int>(input.size()), &length);
    benchmark::DoNotOptimize(out);
    curl_free(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_CurlUnescape);

void BM_EncodeUrlText(benchmark::State& state) {
  const std::string& input = PlainText();
  for (auto _ : state) {
    char* out = EncodeUrlText(input.c_str());
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_EncodeUrlText);

void BM_CurlEscape(benchmark::State& state) {
  const std::string& input = PlainText();
  for (auto _ : state) {
    char* out = curl_easy_escape(Curl(), input.c_str(), static_cast<int>(input.size()));
    benchmark::DoNotOptimize(out);
    curl_free(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_CurlEscape);

void BM_ParseFormData(benchmark::State& state) {
  const std::string& input = EncodedForm();
  std::string buffer;
  for (auto _ : state) {
    state.PauseTiming();
    buffer = input;
    PairList list;
    InitPairList(&list);
    state.ResumeTiming();
    benchmark::DoNotOptimize(ParseFormData(buffer.data(), &list));
    state.PauseTiming();
    FreePairList(&list);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_ParseFormData);

}  // namespace
