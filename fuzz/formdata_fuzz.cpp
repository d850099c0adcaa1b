// Fuzzes the form-data module's handling of untrusted bytes: ParseFormData, DecodeUrlText and
// each path of the decoder on the input's text, CopyCommaField on a 256-byte record made from it,
// and two round trips over the NUL-separated pieces of the input: decoding an encoded text gives it
// back without its carriage returns, and parsing a built query string gives back its pairs. Every
// text is handed over in a heap block of exactly its size, so that ASan reports any access beyond
// it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formdata.h"
#include "url_codec.h"

namespace {

void Require(bool holds) {
  if (!holds) __builtin_trap();
}

// A heap copy of the text and its NUL, nothing more.
char* HeapText(std::string_view text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  Require(copy != nullptr);
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

std::string WithoutCr(std::string_view text) {
  std::string result(text);
  std::erase(result, '\r');
  return result;
}

bool EscapedByEncoder(unsigned char c) {
  return c < 0x20 || c >= 0x80 ||
         std::string_view("=&% <>+,").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The form decoding written the plain way, to hold the table-driven one to: an escape spans
// three bytes, gives the value of the one or two digits that follow the '%' directly, nothing
// without a digit, and nothing for a carriage return.
std::string ReferenceDecode(std::string_view text, bool split_at_ampersand) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == '%') {
      int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      int low = high >= 0 && i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      int value = low >= 0 ? high * 16 + low : high;
      if (value >= 0 && value != '\r') out.push_back(static_cast<char>(value));
      i += 3;
      continue;
    }
    out.push_back(c == '+' ? ' ' : c == '&' && split_at_ampersand ? '\0' : c);
    ++i;
  }
  return out;
}

void CheckParse(std::string_view text) {
  char* buffer = HeapText(text);  // length + 1 bytes: the parse must fit in them
  PairList list;
  InitPairList(&list);
  int result = ParseFormData(buffer, &list);

  // The walk over the decoded segments: an empty one ends it, one without '=' gives 0.
  std::string decoded = ReferenceDecode(text, true);
  int pairs = 0;
  int expected = -1;
  for (std::size_t start = 0; expected < 0;) {
    std::string_view rest = std::string_view(decoded).substr(std::min(start, decoded.size()));
    std::string_view segment = rest.substr(0, rest.find('\0'));
    std::size_t equals = segment.find('=');
    if (segment.empty()) {
      expected = pairs;
    } else if (equals == std::string_view::npos) {
      expected = 0;
    } else {
      Require(pairs < list.pairCount && segment.substr(0, equals) == list.pairs[pairs].name &&
              segment.substr(equals + 1) == list.pairs[pairs].value);
      ++pairs;
      start += segment.size() + 1;
    }
  }
  Require(result == expected && list.pairCount == pairs);
  FreePairList(&list);
  std::free(buffer);
}

void CheckDecode(std::string_view text) {
  char* source = HeapText(text);
  char* decoded = DecodeUrlText(source);
  std::string expected = ReferenceDecode(text, false);
  Require(decoded != nullptr && decoded == expected.substr(0, expected.find('\0')));
  std::free(decoded);
  std::free(source);

  // Every path of the decoder the processor runs, into a buffer of the text's size and in
  // place, where every byte after the decoded text's end must stay as it came.
  using loomreg::formdata::DecodeWidth;
  const std::string split = ReferenceDecode(text, true);
  for (DecodeWidth width : {DecodeWidth::kBytes, DecodeWidth::kSse2, DecodeWidth::kSsse3}) {
    if (!loomreg::formdata::DecodeWidthAvailable(width)) continue;
    for (bool split_at_ampersand : {false, true}) {
      const std::string& want = split_at_ampersand ? split : expected;
      char* in = HeapText(text);
      char* out = HeapText(text);
      const std::size_t length = text.size();
      Require(loomreg::formdata::DecodeFormTextWith(width, in, length, out, split_at_ampersand) ==
                  want.size() &&
              std::string_view(out, want.size()) == want);
      Require(loomreg::formdata::DecodeFormTextWith(width, in, length, in, split_at_ampersand) ==
                  want.size() &&
              std::string_view(in, want.size()) == want);
      for (std::size_t i = want.size() + 1; i <= length; ++i) {
        Require(i == length ? in[i] == '\0' : in[i] == text[i]);
      }
      std::free(out);
      std::free(in);
    }
  }
}

void CheckEncodeRoundTrip(std::string_view text) {
  char* source = HeapText(text);
  char* encoded = EncodeUrlText(source);
  Require(encoded != nullptr);
  std::string_view out(encoded);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '%') {
      Require(i + 2 < out.size() && IsLowerHex(out[i + 1]) && IsLowerHex(out[i + 2]));
      i += 2;
    } else {
      Require(!EscapedByEncoder(static_cast<unsigned char>(out[i])));
    }
  }
  char* decoded = DecodeUrlText(encoded);
  Require(decoded != nullptr && decoded == WithoutCr(text));
  std::free(decoded);
  std::free(encoded);
  std::free(source);
}

// Names and values alternate among the pieces; a name left without a value gets "".
void CheckQueryRoundTrip(const std::vector<std::string_view>& pieces) {
  PairList list;
  InitPairList(&list);
  for (std::size_t i = 0; i < pieces.size(); i += 2) {
    std::string name(pieces[i]);
    std::string value(i + 1 < pieces.size() ? pieces[i + 1] : "");
    AppendPair(name.c_str(), value.c_str(), &list);
  }
  char* query = BuildQueryString(&list);
  Require((query == nullptr) == (list.pairCount == 0));
  if (query != nullptr) {
    Require(query[0] == '?');
    PairList parsed;
    InitPairList(&parsed);
    Require(ParseFormData(query + 1, &parsed) == list.pairCount);
    // Carriage returns are gone, and a name holding '=' is split at its first '='.
    for (int i = 0; i < list.pairCount; ++i) {
      std::string segment = WithoutCr(list.pairs[i].name) + "=" + WithoutCr(list.pairs[i].value);
      std::size_t equals = segment.find('=');
      Require(segment.substr(0, equals) == parsed.pairs[i].name);
      Require(segment.substr(equals + 1) == parsed.pairs[i].value);
    }
    FreePairList(&parsed);
    std::free(query);
  }
  FreePairList(&list);
}

void CheckCommaField(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kRecord = LOOMREG_RECORD_SIZE;
  constexpr unsigned char kUntouched = 0xA5;
  auto* record = static_cast<char*>(std::calloc(kRecord, 1));
  auto* field = static_cast<char*>(std::malloc(kRecord));
  Require(record != nullptr && field != nullptr);
  if (size > 0) std::memcpy(record, data, size < kRecord ? size : kRecord);
  std::memset(field, kUntouched, kRecord);
  int next = CopyCommaField(record, field);
  const auto* comma = static_cast<const char*>(std::memchr(record, ',', kRecord));
  if (comma == nullptr) {
    Require(next == static_cast<int>(kRecord) + 1 && std::memcmp(field, record, kRecord) == 0);
  } else {
    std::size_t length = static_cast<std::size_t>(comma - record);
    Require(next == static_cast<int>(length) + 1);
    Require(std::memcmp(field, record, length) == 0 && field[length] == '\0');
    for (std::size_t i = length + 1; i < kRecord; ++i) {
      Require(static_cast<unsigned char>(field[i]) == kUntouched);
    }
  }
  std::free(field);
  std::free(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string_view text = bytes.substr(0, bytes.find('\0'));
  CheckParse(text);
  CheckDecode(text);
  CheckCommaField(data, size);

  std::vector<std::string_view> pieces;
  for (std::size_t start = 0; start <= bytes.size();) {
    std::size_t end = bytes.find('\0', start);
    if (end == std::string_view::npos) end = bytes.size();
    pieces.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  for (std::string_view piece : pieces) CheckEncodeRoundTrip(piece);
  CheckQueryRoundTrip(pieces);
  return 0;
}
