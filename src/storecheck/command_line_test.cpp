#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace loomreg {
namespace {

// Each command line gives its options, or the one reason it is wrong. --hold counts only as the
// first argument, and what follows it (after an optional "--") is the command, options or not.
TEST(CommandLineTest, ParsesEachFormOrSaysWhyNot) {
  struct Case {
    std::vector<const char*> args;  // after the program's name
    std::string wrong;              // empty when the options are right
    bool repair, json;
    int hold_at;  // the index in argv of the held command, or 0
  };
  const std::vector<Case> cases = {
      {{}, "", false, false, 0},
      {{"--repair", "--json"}, "", true, true, 0},
      {{"--json", "--json"}, "", false, true, 0},
      {{"--hold", "ls", "--repair"}, "", false, false, 2},
      {{"--hold", "--", "--json"}, "", false, false, 3},
      {{"--hold"}, "--hold needs a command", false, false, 0},
      {{"--hold", "--"}, "--hold needs a command", false, false, 0},
      {{"--repair", "--hold", "ls"}, "unknown argument \"--hold\"", false, false, 0},
      {{"-r"}, "unknown argument \"-r\"", false, false, 0},
      {{"--json", ""}, "unknown argument \"\"", false, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"loomreg-check"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(argv.size() > 1 ? argv[1] : "(none)");
    const Result<Options> parsed = ParseOptions(static_cast<int>(argv.size()), argv.data());
    if (!c.wrong.empty()) {
      ASSERT_FALSE(parsed.ok());
      EXPECT_EQ(parsed.status().message(), c.wrong);
      continue;
    }
    ASSERT_TRUE(parsed.ok()) << parsed.status().message();
    EXPECT_EQ(parsed->repair, c.repair);
    EXPECT_EQ(parsed->json, c.json);
    EXPECT_EQ(parsed->hold, c.hold_at == 0 ? nullptr : argv.data() + c.hold_at);
    EXPECT_FALSE(parsed->help || parsed->version);
  }
}

}  // namespace
}  // namespace loomreg
