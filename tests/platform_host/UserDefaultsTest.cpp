#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "json/JsonParser.h"
#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class UserDefaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorbit-defaults-" + std::to_string(getpid()));
        fs::remove_all(dir);
        path = dir / "conf" / "defaults.json";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<std::string> filesInDir() {
        std::vector<std::string> names;
        for (auto& entry : fs::directory_iterator(path.parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir, path;
};

TEST_F(UserDefaultsTest, TypedValuesSurviveAReloadAndAbsentOnesReadEmpty) {
    auto date = UserDefaults::Date(microseconds(1765054800123456));
    auto old = UserDefaults::Date(microseconds(-86'400'500'000));  // before 1970
    {
        UserDefaults d(path);
        EXPECT_TRUE(d.setBool("oneClickPublish", true));
        EXPECT_TRUE(d.setInteger("LastFilterUsed", -1));
        EXPECT_TRUE(d.setInteger("big", INT64_MAX));
        EXPECT_TRUE(d.setDouble("ratio", 0.1));
        EXPECT_TRUE(d.setString("kFBUserName", "Zoë \"Z\" 東京"));
        EXPECT_TRUE(d.setDate("FBSessionExpires", date));
        EXPECT_TRUE(d.setDate("old", old));
        EXPECT_TRUE(d.setString("gone", "x"));
        EXPECT_TRUE(d.removeObjectForKey("gone"));
    }
    UserDefaults d(path);
    EXPECT_TRUE(d.boolForKey("oneClickPublish"));
    EXPECT_EQ(d.integerForKey("LastFilterUsed"), -1);
    EXPECT_EQ(d.integerForKey("big"), INT64_MAX);
    EXPECT_EQ(d.doubleForKey("ratio"), 0.1);
    EXPECT_EQ(d.stringForKey("kFBUserName"), "Zoë \"Z\" 東京");
    EXPECT_EQ(d.dateForKey("FBSessionExpires"), date);
    EXPECT_EQ(d.dateForKey("old"), old);
    EXPECT_FALSE(d.contains("gone"));
    // Absent, and of another kind.
    EXPECT_FALSE(d.boolForKey("nothing"));
    EXPECT_EQ(d.integerForKey("nothing"), 0);
    EXPECT_EQ(d.stringForKey("nothing"), std::nullopt);
    EXPECT_EQ(d.dateForKey("kFBUserName"), std::nullopt);
    EXPECT_TRUE(d.boolForKey("LastFilterUsed"));
    EXPECT_EQ(d.stringForKey("LastFilterUsed"), "-1");

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"defaults.json"})) << "no temporary left";
}

TEST_F(UserDefaultsTest, ABadFileIsKeptAsideAndTheStoreStartsEmpty) {
    const char* bad[] = {"{\"LastFilterUsed\": 3", "[1, 2]", "\"text\"", "", "\xff\xfe{}"};
    for (const char* text : bad) {
        fs::create_directories(path.parent_path());
        fs::remove(path.string() + ".corrupt");
        std::ofstream(path, std::ios::binary) << text;
        std::vector<std::string> lines;
        auto previous = Log::setSink([&](Log::Level, const std::string& l) { lines.push_back(l); });
        UserDefaults d(path);
        Log::setSink(previous);
        EXPECT_EQ(lines.size(), 1u) << text;
        EXPECT_FALSE(d.contains("LastFilterUsed"));
        EXPECT_EQ(readFile(path.string() + ".corrupt"), std::string(text));
        EXPECT_FALSE(fs::exists(path));
        EXPECT_TRUE(d.setInteger("LastFilterUsed", 4));
        EXPECT_EQ(UserDefaults(path).integerForKey("LastFilterUsed"), 4);
    }
    // A member of a kind the store does not hold is left out; the rest is kept.
    std::ofstream(path) << R"({"list": [1], "n": 2, "d": {"date": "yesterday"}})";
    UserDefaults d(path);
    EXPECT_EQ(d.integerForKey("n"), 2);
    EXPECT_FALSE(d.contains("list"));
    EXPECT_FALSE(d.contains("d"));
}

TEST_F(UserDefaultsTest, ValuesThatCannotBeWrittenAreRefusedAndWritingGoesOn) {
    UserDefaults d(path);
    EXPECT_FALSE(d.setDouble("x", std::nan("")));
    EXPECT_FALSE(d.setDouble("x", INFINITY));
    EXPECT_FALSE(d.setString("x", "\xc3("));
    EXPECT_TRUE(d.setInteger("y", 1));
    EXPECT_FALSE(UserDefaults(path).contains("x"));
    EXPECT_EQ(UserDefaults(path).integerForKey("y"), 1);

    // A folder that cannot be made: the change stays in memory and the call says so.
    std::ofstream(dir / "file") << "x";
    UserDefaults blocked(dir / "file" / "defaults.json");
    EXPECT_FALSE(blocked.setInteger("z", 5));
    EXPECT_EQ(blocked.integerForKey("z"), 5);
    EXPECT_FALSE(blocked.synchronize());
}

TEST_F(UserDefaultsTest, WritersOnSeveralThreadsLoseNothing) {
    UserDefaults d(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&d, t] {
            for (int i = 0; i < 25; ++i)
                d.setInteger(format("t%d.%d", t, i), t * 100 + i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    UserDefaults reloaded(path);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i)
            ASSERT_EQ(reloaded.integerForKey(format("t%d.%d", t, i)), t * 100 + i);
}

TEST_F(UserDefaultsTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
    for (int round = 0; round < 6; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            UserDefaults d(path);
            std::string big(20000, 'a' + char(round));
            for (int i = 0;; ++i)
                d.setString(format("k%d", i % 50), big + std::to_string(i));
        }
        usleep(20000 + 15000 * round);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        auto text = readFile(path);
        ASSERT_TRUE(text) << "round " << round;
        json::JsonParser parser;
        auto value = parser.objectWithString(std::string_view(*text));
        ASSERT_TRUE(value && value->isObject()) << "round " << round;
        EXPECT_FALSE(fs::exists(path.string() + ".corrupt"));
    }
}

}  // namespace
}  // namespace quorbit::platform
