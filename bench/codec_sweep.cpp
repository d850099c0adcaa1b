// The form-data codec beside libcurl over a sweep of escape densities: for each point, 1 MiB of
// form text in which a share of the value bytes is escaped (mixed-case hex), with or without
// '+' for spaces, and with one malformed escape per thousand bytes. Each comparison runs the
// two sides on the same input, alternating round by round, and reports medians, since the
// machines this runs on are shared and noisy. Every output is checked byte for byte against a
// byte-at-a-time reference of its decoder's rules before anything is timed.
//   loomreg_codec_sweep [--rounds N] [--plot-data FILE]
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formdata.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFormBytes = 1 << 20;

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The codec's decoding rules, byte at a time; `split` turns '&' into NUL as the form parser
// does.
std::string ReferenceDecode(std::string_view text, bool split = false) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '%') {
      int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
      int low = high >= 0 && i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
      if (high >= 0) {
        int value = low >= 0 ? high * 16 + low : high;
        if (value != 13) out.push_back(static_cast<char>(value));
      }
      i += 3;
      continue;
    }
    char c = text[i++];
    out.push_back(c == '+' ? ' ' : (split && c == '&') ? '\0' : c);
  }
  return out;
}

// libcurl's: '%' and two digits is the byte, anything else stands as it is.
std::string CurlReferenceDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// Form text "fieldN=value&..." of about 1 MiB. `escaped` is the share of value bytes written
// as escapes; with `plus`, one value byte in ten is a space written as '+'.
std::string MakeForm(double escaped, bool plus, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  const char* kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~/:";
  const std::size_t letters = std::strlen(kLetters);
  std::string text;
  int field = 0;
  while (text.size() < kFormBytes) {
    if (!text.empty()) text += '&';
    text += "field" + std::to_string(field++) + "=";
    for (int n = 8 + static_cast<int>(random() % 40); n > 0; --n) {
      double roll = unit(random);
      if (roll < 0.001) {
        const char* kMalformed[] = {"%G1", "%4z", "%%", "%z", "%g"};
        text += kMalformed[random() % std::size(kMalformed)];
      } else if (roll < 0.001 + escaped) {
        // Mostly bytes from 0x80, as in UTF-8 text; the digits in either case.
        unsigned byte = random() % 4 == 0 ? "=&%<>+,\n"[random() % 8] : 0x80 + random() % 0x80;
        const char* digits = random() % 2 ? "0123456789abcdef" : "0123456789ABCDEF";
        text += '%';
        text += digits[byte >> 4];
        text += digits[byte & 15];
      } else if (plus && roll < 0.101 + escaped) {
        text += '+';
      } else {
        text += kLetters[random() % letters];
      }
    }
  }
  return text;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs `work` often enough to take about 2 ms and returns the bytes per second.
double Rate(std::size_t bytes, const std::function<void()>& work, int repeat) {
  auto start = Clock::now();
  for (int i = 0; i < repeat; ++i) work();
  std::chrono::duration<double> took = Clock::now() - start;
  return static_cast<double>(bytes) * repeat / took.count();
}

// Medians of the two sides of a comparison, timed alternately.
std::pair<double, double> Compare(std::size_t bytes, int rounds, const std::function<void()>& ours,
                                  const std::function<void()>& theirs) {
  std::vector<double> a, b;
  for (int r = 0; r < rounds; ++r) {
    a.push_back(Rate(bytes, ours, 4));
    b.push_back(Rate(bytes, theirs, 4));
  }
  return {Median(a), Median(b)};
}

[[noreturn]] void Fail(const char* what, double escaped, bool plus) {
  std::fprintf(stderr, "loomreg_codec_sweep: %s differs at %.0f%% escaped%s\n", what, escaped * 100,
               plus ? " with '+'" : "");
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 21;
  std::string plot_data;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--plot-data" && i + 1 < argc) {
      plot_data = argv[++i];
    } else {
      std::fprintf(stderr, "usage: loomreg_codec_sweep [--rounds N] [--plot-data FILE]\n");
      return 2;
    }
  }
  CURL* curl = curl_easy_init();
  std::ofstream plot;
  if (!plot_data.empty()) {
    plot.open(plot_data);
    plot << "# escaped% plus decode curl-unescape encode curl-escape parse (GB/s)\n";
  }
  std::printf(
      "Codec against libcurl, 1 MiB of form text per point, %d alternating rounds,\n"
      "medians in GB/s of input (one malformed escape per 1000 value bytes)\n\n",
      rounds);
  std::printf(
      "| Escaped | '+' | DecodeUrlText | curl_easy_unescape | ratio | EncodeUrlText |"
      " curl_easy_escape | ratio | ParseFormData | ratio to unescape |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
  bool all_met = true;
  for (double escaped : {0.0, 0.01, 0.04, 0.10, 0.30}) {
    for (bool plus : {false, true}) {
      const std::string form = MakeForm(escaped, plus, 7 + static_cast<unsigned>(escaped * 100));
      const int size = static_cast<int>(form.size());

      // Every output, byte for byte, before timing.
      char* ours = DecodeUrlText(form.c_str());
      int curl_length = 0;
      char* theirs = curl_easy_unescape(curl, form.c_str(), size, &curl_length);
      const std::string reference = ReferenceDecode(form);
      if (ours == nullptr || std::string(ours) != reference) Fail("DecodeUrlText", escaped, plus);
      if (std::string(theirs, static_cast<std::size_t>(curl_length)) != CurlReferenceDecode(form)) {
        Fail("curl_easy_unescape", escaped, plus);
      }
      const std::string plain = reference;  // the encoders' input: the decoded text
      std::free(ours);
      curl_free(theirs);
      char* encoded = EncodeUrlText(plain.c_str());
      if (encoded == nullptr || ReferenceDecode(encoded) != plain) {
        Fail("EncodeUrlText", escaped, plus);
      }
      std::free(encoded);
      char* curl_encoded = curl_easy_escape(curl, plain.c_str(), static_cast<int>(plain.size()));
      if (CurlReferenceDecode(curl_encoded) != plain) Fail("curl_easy_escape", escaped, plus);
      curl_free(curl_encoded);
      std::string buffer = form;
      PairList list;
      InitPairList(&list);
      if (ParseFormData(buffer.data(), &list) <= 0) Fail("ParseFormData", escaped, plus);
      const std::string split = ReferenceDecode(form, true);
      std::size_t at = 0;
      for (int p = 0; p < list.pairCount; ++p) {
        std::string pair = std::string(list.pairs[p].name) + "=" + list.pairs[p].value;
        if (split.compare(at, pair.size(), pair) != 0) Fail("ParseFormData", escaped, plus);
        at += pair.size() + 1;
      }
      if (at != split.size() + 1) Fail("ParseFormData", escaped, plus);
      FreePairList(&list);

      auto [decode, unescape] = Compare(
          form.size(), rounds, [&] { std::free(DecodeUrlText(form.c_str())); },
          [&] { curl_free(curl_easy_unescape(curl, form.c_str(), size, nullptr)); });
      auto [encode, escape] = Compare(
          plain.size(), rounds, [&] { std::free(EncodeUrlText(plain.c_str())); },
          [&] {
            curl_free(curl_easy_escape(curl, plain.c_str(), static_cast<int>(plain.size())));
          });
      // The parse decodes in place, so each run gets a fresh copy, made outside the timing.
      std::vector<double> parse_rates, unescape_rates;
      for (int r = 0; r < rounds; ++r) {
        double parse_seconds = 0;
        for (int i = 0; i < 4; ++i) {
          buffer = form;
          InitPairList(&list);
          auto start = Clock::now();
          ParseFormData(buffer.data(), &list);
          parse_seconds += std::chrono::duration<double>(Clock::now() - start).count();
          FreePairList(&list);
        }
        parse_rates.push_back(static_cast<double>(form.size()) * 4 / parse_seconds);
        unescape_rates.push_back(Rate(
            form.size(), [&] { curl_free(curl_easy_unescape(curl, form.c_str(), size, nullptr)); },
            4));
      }
      const double parse = Median(parse_rates);
      const double parse_base = Median(unescape_rates);
      all_met = all_met && decode >= 2 * unescape && encode >= 2 * escape && parse >= parse_base;
      std::printf(
          "| %.0f %% | %s | %.2f | %.2f | %.2f x | %.2f | %.2f | %.2f x | %.2f | %.2f x |\n",
          escaped * 100, plus ? "yes" : "no", decode / 1e9, unescape / 1e9, decode / unescape,
          encode / 1e9, escape / 1e9, encode / escape, parse / 1e9, parse / parse_base);
      std::fflush(stdout);
      if (plot.is_open()) {
        plot << escaped * 100 << ' ' << (plus ? 1 : 0) << ' ' << decode / 1e9 << ' '
             << unescape / 1e9 << ' ' << encode / 1e9 << ' ' << escape / 1e9 << ' ' << parse / 1e9
             << '\n';
      }
    }
  }
  curl_easy_cleanup(curl);
  std::printf("\n%s\n", all_met ? "every point: decode and encode at least 2 x libcurl, parse at "
                                  "least 1 x curl_easy_unescape"
                                : "NOT MET at some point: see the ratios above");
  return 0;
}
