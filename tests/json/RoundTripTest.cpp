#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"

namespace quorbit::json {
namespace {

std::string sample(const std::string& name) {
    const char* data = std::getenv("QUORBIT_TEST_DATA");
    std::string path = std::string(data ? data : "tests/data") + "/json/" + name;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SampleDocument : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleDocument, ReadsBackEqualInEveryLayout) {
    std::string text = sample(GetParam());
    ASSERT_FALSE(text.empty()) << "missing sample " << GetParam();
    JsonParser parser;
    std::optional<Value> value = parser.objectWithString(text);
    ASSERT_TRUE(value);
    for (int options = 0; options < 4; ++options) {
        JsonWriter writer;
        writer.setSortKeys(options & 1);
        writer.setHumanReadable(options & 2);
        std::optional<std::string> written = writer.stringWithObject(*value);
        ASSERT_TRUE(written);
        std::optional<Value> back = parser.objectWithString(*written);
        ASSERT_TRUE(back);
        EXPECT_TRUE(*back == *value) << "options " << options;
        // Writing is deterministic: the same tree gives the same text again.
        EXPECT_EQ(writer.stringWithObject(*back), written);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleDocument,
                         ::testing::Values("canada.json", "citm_catalog.json", "twitter.json"));

}  // namespace
}  // namespace quorbit::json
