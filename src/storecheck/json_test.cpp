#include "json.h"

#include <gtest/gtest.h>

#include <string>

namespace loomreg {
namespace {

std::string Json(std::string_view bytes) {
  std::string out;
  AppendJsonString(out, bytes);
  return out;
}

// Decodes a JSON string as the document promises: each code point, U+0000 to U+00FF, is one
// byte. Fails on anything a JSON parser would refuse in a string.
bool Decode(std::string_view json, std::string& bytes) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return false;
  json = json.substr(1, json.size() - 2);
  bytes.clear();
  for (std::size_t i = 0; i < json.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(json[i]);
    if (c < 0x20 || c >= 0x80 || c == '"') return false;  // must have been escaped
    if (c != '\\') {
      bytes += static_cast<char>(c);
      continue;
    }
    if (++i == json.size()) return false;
    switch (json[i]) {
      case '"':
      case '\\':
      case '/':
        bytes += json[i];
        break;
      case 'b':
        bytes += '\b';
        break;
      case 'f':
        bytes += '\f';
        break;
      case 'n':
        bytes += '\n';
        break;
      case 'r':
        bytes += '\r';
        break;
      case 't':
        bytes += '\t';
        break;
      case 'u': {
        if (i + 4 >= json.size()) return false;
        unsigned code = std::stoul(std::string(json.substr(i + 1, 4)), nullptr, 16);
        if (code > 0xff) return false;
        bytes += static_cast<char>(code);
        i += 4;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

TEST(JsonStringTest, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(Json("F1"), "\"F1\"");
  EXPECT_EQ(Json("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
  EXPECT_EQ(Json("\b\f\n\r\t"), "\"\\b\\f\\n\\r\\t\"");
  EXPECT_EQ(Json(std::string("\0\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\\u007f\"");
}

TEST(JsonStringTest, WritesEachHighByteAsItsOwnCodePoint) {
  // Not UTF-8, and UTF-8: each byte stands alone either way.
  EXPECT_EQ(Json("caf\xe9"), "\"caf\\u00e9\"");
  EXPECT_EQ(Json("\xc3\xa9"), "\"\\u00c3\\u00a9\"");
  EXPECT_EQ(Json("\x80\xff"), "\"\\u0080\\u00ff\"");
}

TEST(JsonStringTest, EveryByteComesBackAfterDecoding) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (std::string_view bytes : {std::string_view(all), std::string_view("")}) {
    std::string json = Json(bytes);
    std::string back;
    ASSERT_TRUE(Decode(json, back)) << json;
    EXPECT_EQ(back, bytes);
  }
}

TEST(JsonReportTest, IsOneAsciiDocumentWithEveryFinding) {
  CheckResult result;
  result.findings.push_back({FindingKind::kRepeatedName, "../kvrdata/SetValueFile/FileList", 7,
                             "F\xe9\n", "is listed again (first on line 2)"});
  result.findings.push_back({FindingKind::kWaitingUpload, "../kvrdata/SetValueFile/FileData", 0,
                             std::nullopt, "an upload has been waiting for 5 s", 0, 5});
  std::vector<Repair> repairs = {
      {RepairAction::kAddedName, "../kvrdata/StyleList/KindList", 0, "S2", "added"}};
  CheckReport report;
  report.check = &result;
  report.repairs = &repairs;
  Output out;
  WriteJson(report, "9.8.7", out);
  const std::string& doc = out.text();
  for (char c : doc) {
    unsigned char byte = static_cast<unsigned char>(c);
    ASSERT_TRUE(byte == '\n' || (byte >= 0x20 && byte < 0x7f)) << doc;
  }
  EXPECT_TRUE(
      doc.starts_with("{\"program\":\"loomreg-check\",\"version\":\"9.8.7\","
                      "\"status\":\"problems\",\"exit_status\":1,\"problems\":1,"
                      "\"notes\":1,\"errors\":[],"))
      << doc;
  EXPECT_NE(doc.find("{\"severity\":\"problem\",\"kind\":\"repeated-name\",\"file\":\"../kvrdata/"
                     "SetValueFile/FileList\",\"line\":7,\"name\":\"F\\u00e9\\n\",\"detail\":"
                     "\"is listed again (first on line 2)\"}"),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find("\"line\":null,\"name\":null,\"detail\":\"an upload has been waiting for 5 "
                     "s\",\"age_seconds\":5}"),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find("{\"action\":\"added-name\",\"file\":\"../kvrdata/StyleList/KindList\","
                     "\"line\":null,\"name\":\"S2\",\"detail\":\"added\"}"),
            std::string::npos)
      << doc;
  EXPECT_TRUE(doc.ends_with("]}\n")) << doc;
}

}  // namespace
}  // namespace loomreg
