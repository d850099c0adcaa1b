#include "save_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message_text.h"
#include "siteconfig.h"
#include "test_support.h"

namespace loomreg {
namespace {

Command Parse(const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  for (const auto& w : words) argv.push_back(w.c_str());
  argv.push_back(nullptr);
  return ParseCommandLine(static_cast<int>(words.size()), argv.data());
}

const std::vector<std::string> kSix = {"filename_arg=F1", "style_arg=S1",   "beam_arg=B1",
                                       "koment_arg=C 1",  "machine_arg=M1", "top_beam_arg=T1"};

TEST(ParseCommandLineTest, TakesValuesByPositionFromArgvZero) {
  Command c = Parse(kSix);
  ASSERT_TRUE(c.refusal.ok());
  EXPECT_EQ(c.request.file, "F1");
  EXPECT_EQ(c.request.style, "S1");
  EXPECT_EQ(c.request.beam, "B1");
  EXPECT_EQ(c.request.comment, "C 1");
  EXPECT_EQ(c.request.machine, "M1");
  EXPECT_EQ(c.request.top_beam, "T1");

  // Keys are not compared: the value is whatever follows the key's length.
  c = Parse({"filename_arg=F", "STYLE_ARG=S", "0123456789B", "koment_arg=", "machine_arg=M",
             "top_beam_arg=", "ignored"});
  ASSERT_TRUE(c.refusal.ok());
  EXPECT_EQ(c.request.style, "S");
  EXPECT_EQ(c.request.beam, "9B");
  EXPECT_EQ(c.request.comment, "");
}

TEST(ParseCommandLineTest, RecognisesTheProgramNameFirst) {
  std::vector<std::string> words = kSix;
  words.insert(words.begin(), "/usr/bin/loomreg");
  Command c = Parse(words);
  ASSERT_TRUE(c.refusal.ok());
  EXPECT_EQ(c.request.file, "F1");
  EXPECT_EQ(c.request.top_beam, "T1");
  // With only six words, argv[0] is the file-name word whatever it says.
  words.pop_back();
  c = Parse(words);
  ASSERT_TRUE(c.refusal.ok());
  EXPECT_EQ(c.request.file, "reg");
  EXPECT_EQ(c.request.style, "rg=F1");
}

TEST(ParseCommandLineTest, RefusesTooFewOrTooShortWords) {
  EXPECT_FALSE(Parse({}).refusal.ok());
  EXPECT_TRUE(
      Parse({kSix.begin(), kSix.begin() + 5}).refusal.message().ends_with("; see loomreg --help"));
  std::vector<std::string> words = kSix;
  words[2] = "beam_arg";
  EXPECT_NE(Parse(words).refusal.message().find("shorter than its key"), std::string::npos);
  // Led by what looks like the program's name, a refusal counts the words after it.
  const std::string name_first =
      "\"loomreg\" holds no \"=\", so it is taken for the program's name: the six words (file "
      "name, style, beam, comment, machine, top beam) must follow it, the first beginning with "
      "\"filename_arg=\", and ";
  EXPECT_EQ(Parse({"loomreg"}).refusal.message(),
            name_first + "0 words follow it; see loomreg --help");
  words = {kSix.begin(), kSix.begin() + 5};
  words.insert(words.begin(), "loomreg");
  EXPECT_EQ(Parse(words).refusal.message(), name_first + "5 words follow it; see loomreg --help");
  words = {"loomreg", "F1"};
  EXPECT_EQ(Parse(words).refusal.message(), name_first + "1 word follows it; see loomreg --help");
}

TEST(ParseCommandLineTest, ASeventhUploadWordNamesTheUploadInEitherForm) {
  std::vector<std::string> words = kSix;
  EXPECT_EQ(Parse(words).request.upload, std::nullopt);
  words.push_back("upload_arg=up-1");
  EXPECT_EQ(Parse(words).request.upload, "up-1");
  words.insert(words.begin(), "loomreg");
  EXPECT_EQ(Parse(words).request.upload, "up-1");
  words.back() = "upload_arg=";
  EXPECT_EQ(Parse(words).request.upload, "");  // given but empty: refused by the checks
  // Only the word right after the six counts, and only with its key.
  words.back() = "UPLOAD_ARG=up-1";
  EXPECT_EQ(Parse(words).request.upload, std::nullopt);
  words.back() = "x";
  words.push_back("upload_arg=up-1");
  EXPECT_EQ(Parse(words).request.upload, std::nullopt);
}

TEST(ParseCommandLineTest, InformationalOptionsNeedExactlyTwoWords) {
  EXPECT_EQ(Parse({"loomreg", "--help"}).kind, CommandKind::kHelp);
  EXPECT_EQ(Parse({"loomreg", "-h"}).kind, CommandKind::kHelp);
  EXPECT_EQ(Parse({"loomreg", "--version"}).kind, CommandKind::kVersion);
  EXPECT_EQ(Parse({"loomreg", "--paths"}).kind, CommandKind::kPaths);
  EXPECT_EQ(Parse({"loomreg", "--help", "x"}).kind, CommandKind::kSave);
  EXPECT_EQ(Parse({"loomreg", "--verbose"}).kind, CommandKind::kSave);
}

// Why the request is refused, or the empty text when it may go ahead.
std::string CheckSaveRequest(const SaveRequest& r) {
  return CheckRequest(Store::OpenSite(), r).message();
}

class CheckSaveRequestTest : public ::testing::Test {
 protected:
  SaveRequest Good() const { return {"F1", "S1", "B1", "C1", "M1", "T1", std::nullopt}; }
  testing::TempDir dir_;
  testing::ScopedCwd cwd_{dir_.path()};
};

TEST_F(CheckSaveRequestTest, AcceptsOrdinaryAndHighBitNames) {
  EXPECT_EQ(CheckSaveRequest(Good()), "");
  SaveRequest r = Good();
  r.file = "caf\xe9,1\\x";
  r.beam = "b\tc";
  r.comment = std::string(255, 'c');
  EXPECT_EQ(CheckSaveRequest(r), "");
}

TEST_F(CheckSaveRequestTest, RefusesNamesThatAreNotOnePathComponent) {
  for (std::string bad : {"", ".", "..", "a/b", "a b", "a\tb", "a\x7f", "a\x01", "/"}) {
    for (std::string SaveRequest::*field :
         {&SaveRequest::file, &SaveRequest::style, &SaveRequest::machine}) {
      SaveRequest r = Good();
      r.*field = bad;
      EXPECT_NE(CheckSaveRequest(r), "") << QuoteForMessage(bad);
    }
  }
  SaveRequest r = Good();
  r.style = "FileData";
  EXPECT_NE(CheckSaveRequest(r), "");
  r.style = "FileList";
  EXPECT_NE(CheckSaveRequest(r), "");
  r.style = "filelist";
  EXPECT_EQ(CheckSaveRequest(r), "");
  // An upload name follows the file-name rules and never takes the place of FileList.
  for (std::string bad : std::vector<std::string>{"", ".", "..", "a/b", "a b", "a\x01", "FileList",
                                                  std::string(256, 'u')}) {
    r = Good();
    r.upload = bad;
    EXPECT_NE(CheckSaveRequest(r), "") << QuoteForMessage(bad);
  }
  r.upload = "FileData";
  EXPECT_EQ(CheckSaveRequest(r), "");
}

TEST_F(CheckSaveRequestTest, RefusesLineBreaksInHistoryFieldsAndLongValues) {
  SaveRequest r = Good();
  r.beam = "a\rb";
  EXPECT_NE(CheckSaveRequest(r), "");
  r = Good();
  r.comment = "a\nb";
  EXPECT_NE(CheckSaveRequest(r), "");
  r = Good();
  r.top_beam = std::string(256, 't');
  EXPECT_NE(CheckSaveRequest(r), "");
}

TEST_F(CheckSaveRequestTest, RefusesPathsOver255BytesMeasuredWhole) {
  // "../kvrdata/SetValueFile/" is 24 bytes; the stored file adds style, '/' and file name.
  SaveRequest r = Good();
  r.style = std::string(115, 's');
  r.file = std::string(115, 'f');
  EXPECT_EQ(CheckSaveRequest(r), "");
  r.file += 'f';
  EXPECT_NE(CheckSaveRequest(r).find("256 bytes"), std::string::npos);
}

TEST_F(CheckSaveRequestTest, RefusesEverythingWhenTheDataRootIsTooLong) {
  // The history path adds 29 bytes to the data root.
  testing::WriteFile("KVR_PATH.inf", "KVR=/kvr\nKVRDATA=/" + std::string(225, 'd') + "\n");
  EXPECT_EQ(CheckSaveRequest(Good()), "");
  testing::WriteFile("KVR_PATH.inf", "KVR=/kvr\nKVRDATA=/" + std::string(226, 'd') + "\n");
  EXPECT_NE(CheckSaveRequest(Good()), "");
}

}  // namespace
}  // namespace loomreg
