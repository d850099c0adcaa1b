#include "message_text.h"

#include <gtest/gtest.h>

namespace loomreg {
namespace {

TEST(QuoteForMessageTest, KeepsMessagesOnOneLine) {
  EXPECT_EQ(QuoteForMessage("a\r\nb\x7f\"\\\xe9"), "\"a\\x0d\\x0ab\\x7f\\\"\\\\\xe9\"");
}

}  // namespace
}  // namespace loomreg
