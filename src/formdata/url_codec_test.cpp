#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "formdata.h"
#include "guard_page.h"
#include "test_helpers.h"
#include "url_codec.h"

namespace loomreg::formdata {
namespace {

using testing::TakeText;

std::optional<std::string> Encode(const std::string& text) {
  return TakeText(EncodeUrlText(text.c_str()));
}
std::optional<std::string> Decode(const std::string& text) {
  return TakeText(DecodeUrlText(text.c_str()));
}

std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

TEST(EncodeUrlTextTest, EscapesInLowerCaseHex) {
  EXPECT_EQ(Encode("a b"), "a%20b");
  EXPECT_EQ(Encode("x=1&y"), "x%3d1%26y");
  EXPECT_EQ(Encode("50%"), "50%25");
  EXPECT_EQ(Encode("1+1,2"), "1%2b1%2c2");
  EXPECT_EQ(Encode("<b>"), "%3cb%3e");
  EXPECT_EQ(Encode("\t\r\n"), "%09%0d%0a");
  EXPECT_EQ(Encode("\xe9\xff\x80\x1f"), "%e9%ff%80%1f");
  EXPECT_EQ(Encode("a/b?c#d:e;f'g\"h~\x7f"), "a/b?c#d:e;f'g\"h~\x7f");
  EXPECT_EQ(Encode(""), "");
}

TEST(EncodeUrlTextTest, EscapesExactlyControlsHighBytesAndEightCharacters) {
  for (int c = 1; c < 256; ++c) {
    bool escaped = c < 0x20 || c >= 0x80 || std::strchr("=&% <>+,", c) != nullptr;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02x", c);
    std::string text(1, static_cast<char>(c));
    EXPECT_EQ(Encode(text), escaped ? hex : text) << "byte " << c;
  }
}

TEST(DecodeUrlTextTest, TurnsEscapesAndPlusIntoBytes) {
  EXPECT_EQ(Decode("x%3d1%26y"), "x=1&y");
  EXPECT_EQ(Decode("a+b"), "a b");
  EXPECT_EQ(Decode("%2B%2b"), "++");
  EXPECT_EQ(Decode("%e9%E9%Ff"), "\xe9\xe9\xff");
  EXPECT_EQ(Decode("a&b=c"), "a&b=c");
  EXPECT_EQ(Decode(""), "");
}

TEST(DecodeUrlTextTest, DropsOnlyEscapedCarriageReturns) {
  EXPECT_EQ(Decode("%0d"), "");
  EXPECT_EQ(Decode("line1%0D%0Aline2"), "line1\nline2");
  EXPECT_EQ(Decode("raw\r\n"), "raw\r\n");
}

TEST(DecodeUrlTextTest, MalformedEscapesSpanThreeBytesButStopAtTheEnd) {
  EXPECT_EQ(Decode("%4z!"), "\x04!");  // one digit: its value
  EXPECT_EQ(Decode("a%4"), std::string("a\x04"));
  EXPECT_EQ(Decode("%z12"), "2");  // no digit: no byte
  EXPECT_EQ(Decode("%%41"), "1");
  EXPECT_EQ(Decode("% 41"), "1");
  EXPECT_EQ(Decode("%+1x"), "x");
  EXPECT_EQ(Decode("a%"), "a");
  EXPECT_EQ(Decode("a%z"), "a");
  EXPECT_EQ(Decode("%dz+"), " ");  // 13 from one digit is dropped too
  char* decoded = DecodeUrlText("%0zq");
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(std::string(decoded, 3), std::string("\0q\0", 3));
  std::free(decoded);
}

TEST(DecodeUrlTextTest, ReadsNothingPastTheTerminator) {
  // A buffer holding nothing after the NUL but a digit: a decoder that skipped three bytes
  // from a trailing '%' would decode it (and read beyond the text).
  for (const char* text : {"%", "%4", "ab%", "ab%f"}) {
    std::size_t length = std::strlen(text);
    char buffer[8];
    std::memcpy(buffer, text, length + 1);
    std::memset(buffer + length + 1, '7', sizeof buffer - length - 1);
    auto decoded = TakeText(DecodeUrlText(buffer));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->find('7'), std::string::npos) << text;
    EXPECT_LE(decoded->size(), length);
  }
}

TEST(UrlCodecTest, DecodingAnEncodedTextGivesItBackWithoutCarriageReturns) {
  std::string every_byte;
  for (int c = 1; c < 256; ++c) every_byte.push_back(static_cast<char>(c));
  EXPECT_EQ(Decode(*Encode(every_byte)), WithoutCr(every_byte));

  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 500; ++round) {
    std::string text(length(random), ' ');
    for (char& c : text) c = static_cast<char>(byte(random));
    ASSERT_EQ(Decode(*Encode(text)), WithoutCr(text)) << round;
  }
}

// Byte at a time, as the codec is defined: the oracle for the wide paths of the decoder.
std::string ReferenceDecode(const std::string& text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '%') {
      int high = i + 1 < text.size() ? hex(text[i + 1]) : -1;
      int low = i + 2 < text.size() ? hex(text[i + 2]) : -1;
      if (high >= 0) {
        int value = low >= 0 ? high * 16 + low : high;
        if (value != 13) out.push_back(static_cast<char>(value));
      }
      i += 3;
      continue;
    }
    out.push_back(text[i] == '+' ? ' ' : text[i]);
    ++i;
  }
  return out;
}

TEST(DecodeUrlTextTest, EscapesAtEveryOffsetOfLongTexts) {
  for (const std::string special : {"%41", "%4", "%", "%%", "+", "%0D", "%zz", "%2b+%2B"}) {
    for (std::size_t offset = 0; offset < 40; ++offset) {
      std::string text = std::string(offset, 'a') + special + std::string(offset % 7 + 17, 'b') +
                         special + "c+" + special;
      ASSERT_EQ(Decode(text), ReferenceDecode(text)) << text;
      // In place, through the form parser: one pair whose value is the text.
      std::string form = "v=" + text;
      PairList list;
      InitPairList(&list);
      ASSERT_EQ(ParseFormData(form.data(), &list), 1) << text;
      EXPECT_EQ(std::string(list.pairs[0].value), ReferenceDecode(text)) << text;
      FreePairList(&list);
    }
  }
}

// Dense random escapes, well-formed and not, in texts whose NUL is the last readable byte
// before an unmapped page: any read past the text faults. Decoded into a new text and in place
// by the form parser, against the reference, over every length and so every alignment.
TEST(DecodeUrlTextTest, DenseEscapesEndingAtAnUnmappedPage) {
  const loomreg::testing::GuardedPage pages;
  char* end = pages.end();
  // No '&' and no '0' (so no decoded NUL): the form is one pair whose value is the text.
  const std::string alphabet = "%%%%++aZ19fFdDg \r\xe9=";
  std::mt19937 random(31);
  for (std::size_t length = 0; length < 400; ++length) {
    for (int round = 0; round < 8; ++round) {
      std::string text(length, ' ');
      for (char& c : text) c = alphabet[random() % alphabet.size()];
      const std::string expected = ReferenceDecode(text);
      char* at = end - length - 1;
      std::memcpy(at, text.c_str(), length + 1);
      auto decoded = TakeText(DecodeUrlText(at));
      ASSERT_TRUE(decoded);
      ASSERT_EQ(*decoded, expected) << text;

      const std::string form = "v=" + text;
      char* buffer = end - form.size() - 1;
      std::memcpy(buffer, form.c_str(), form.size() + 1);
      PairList list;
      InitPairList(&list);
      ASSERT_EQ(ParseFormData(buffer, &list), 1) << text;
      EXPECT_EQ(std::string(list.pairs[0].value), expected.substr(0, expected.find('\0'))) << text;
      FreePairList(&list);
    }
  }
}

// Every path of the decoder the processor runs, held to the byte-at-a-time reference on texts
// from a few bytes to many blocks: escapes sparse and dense, well-formed and not, runs of escapes
// that give no byte (so that the output falls far behind the input), '&' split or kept. Into a
// separate buffer and in place; in place every byte after the decoded text's end is as it came,
// and the text's NUL is the last readable byte before an unmapped page.
TEST(DecodeFormTextTest, EveryPathMatchesTheReference) {
  const loomreg::testing::GuardedPage pages;
  char* end = pages.end();
  const std::string alphabets[] = {"abcdefghijklmnopqrstuvwxyz", "%%41zZ+&a=\r9fFdDg \xe9",
                                   "%%%%%%0Dd+&", "%0D"};
  std::mt19937 random(47);
  for (const DecodeWidth width : {DecodeWidth::kBytes, DecodeWidth::kSse2, DecodeWidth::kSsse3}) {
    if (!DecodeWidthAvailable(width)) continue;
    for (int round = 0; round < 3000; ++round) {
      const std::size_t length = round < 600 ? round % 300 : random() % 3000;
      // Stretches of each alphabet, so that a text passes from one kind of block to another.
      std::string text;
      while (text.size() < length) {
        const std::string& alphabet = alphabets[random() % std::size(alphabets)];
        for (std::size_t n = 1 + random() % 80; n > 0 && text.size() < length; --n) {
          text += alphabet[random() % alphabet.size()];
        }
      }
      const bool split = round % 2 == 0;
      std::string expected = ReferenceDecode(text);
      if (split) std::replace(expected.begin(), expected.end(), '&', '\0');
      const std::string context = std::to_string(static_cast<int>(width)) + ": " + text;

      std::string out(length + 1, '?');
      const std::size_t decoded =
          DecodeFormTextWith(width, text.c_str(), length, out.data(), split);
      ASSERT_EQ(out.substr(0, decoded), expected) << context;

      char* at = end - length - 1;
      std::memcpy(at, text.c_str(), length + 1);
      ASSERT_EQ(DecodeFormTextWith(width, at, length, at, split), expected.size()) << context;
      ASSERT_EQ(std::string(at, expected.size()), expected) << context;
      if (expected.size() < length) {
        ASSERT_EQ(std::string(at + expected.size() + 1, end),
                  text.substr(expected.size() + 1) + '\0')
            << context;
      }
    }
  }
}

}  // namespace
}  // namespace loomreg::formdata
