#include <gtest/gtest.h>

#include "platform/core/Text.h"

namespace quorbit::platform {
namespace {

TEST(Text, TrimAndLowerTouchOnlyWhatTheySay) {
    EXPECT_EQ(trim(" \t\r\n a b \v\f"), "a b");
    EXPECT_EQ(trim("   "), "");
    // ASCII only: a UTF-8 capital (É is C3 89) and every other byte stay as they are.
    EXPECT_EQ(lower("HTTPS://Ex.COM/\xC3\x89-Z@[`"), "https://ex.com/\xC3\x89-z@[`");
}

TEST(Text, PercentEncodingRoundTripsAndRefusesBrokenEscapes) {
    EXPECT_EQ(percentEncode("a-Z_0.~ /&=+%\xC3\xA9"), "a-Z_0.~%20%2F%26%3D%2B%25%C3%A9");
    EXPECT_EQ(percentDecode("a-Z_0.~%20%2f%26%3D+%25%C3%A9"), "a-Z_0.~ /&=+%\xC3\xA9");
    for (const char* broken : {"%", "%4", "ab%4", "%G0", "%0G"})
        EXPECT_FALSE(percentDecode(broken)) << broken;
    // An escape cut off by the end of the text is not completed from the bytes beyond it.
    EXPECT_FALSE(percentDecode(std::string_view("%4142").substr(0, 2)));
    EXPECT_EQ(percentDecode("%41"), "A");
}

}  // namespace
}  // namespace quorbit::platform
