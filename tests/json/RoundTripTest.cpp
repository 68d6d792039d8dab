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

TEST(SampleDocument, KeepsNumbersAndTextExactly) {
    JsonParser parser;
    std::optional<Value> canada = parser.objectWithString(sample("canada.json"));
    ASSERT_TRUE(canada);
    const Value& ring = (*canada)["features"][0]["geometry"]["coordinates"][0];
    // The first point, digit for digit as in the file.
    EXPECT_EQ(ring[0][0].asDecimal()->toString(), "-65.613616999999977");
    EXPECT_EQ(ring[0][1].asDecimal()->toString(), "43.420273000000009");

    std::optional<Value> twitter = parser.objectWithString(sample("twitter.json"));
    ASSERT_TRUE(twitter);
    EXPECT_EQ((*twitter)["statuses"].size(), 100u);
    const Value& status = (*twitter)["statuses"][0];
    EXPECT_EQ(status["id"].asDecimal()->toString(), "505874924095815700");
    EXPECT_EQ(status["id_str"].asString(), "505874924095815681");
    EXPECT_EQ(status["text"].asString().substr(0, 19), "@aym0566x \n\n\xe5\x90\x8d\xe5\x89\x8d:");
}

}  // namespace
}  // namespace quorbit::json
