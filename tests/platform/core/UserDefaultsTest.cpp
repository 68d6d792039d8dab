#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <thread>

#include "json/JsonParser.h"
#include "platform/core/Bundle.h"
#include "platform/core/UserDefaults.h"
#include "support/HostileFiles.h"
#include "support/LogCapture.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using ::testing::HasSubstr;

// The one line a log holds, or how many it holds.
std::string onlyLine(const testing::LogCapture& log) {
    auto lines = log.lines();
    return lines.size() == 1 ? lines[0] : std::to_string(lines.size()) + " lines";
}

class UserDefaultsTest : public ::testing::Test {
  protected:
    std::vector<std::string> filesInDir() {
        std::vector<std::string> names;
        for (auto& entry : fs::directory_iterator(path.parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    testing::ScratchDir scratch{"quorbit-defaults"};
    fs::path dir = scratch.path(), path = dir / "conf" / "defaults.json";
    // What a store that has written leaves in its folder: the file and the writers' lock.
    const std::vector<std::string> written{"defaults.json", "defaults.json.lock"};
};

TEST_F(UserDefaultsTest, TypedValuesSurviveAReloadAndAbsentOnesReadEmpty) {
    auto date = UserDefaults::Date(microseconds(1765054800123456));
    auto old = UserDefaults::Date(microseconds(-86'400'500'000));  // before 1970
    {
        UserDefaults d(path);
        // Values that cannot be written (a date too late would not read back) are refused, and
        // writing goes on.
        for (bool stored : {d.setDouble("x", std::nan("")), d.setDouble("x", INFINITY),
                            d.setString("x", "\xc3("), d.setDate("x", UserDefaults::Date::max())})
            EXPECT_FALSE(stored);
        for (bool stored :
             {d.setBool("oneClickPublish", true), d.setInteger("LastFilterUsed", -1),
              d.setInteger("big", INT64_MAX), d.setDouble("ratio", 0.1),
              d.setString("kFBUserName", "Zoë \"Z\" 東京"), d.setDate("FBSessionExpires", date),
              d.setDate("old", old), d.setString("gone", "x"), d.removeObjectForKey("gone")})
            EXPECT_TRUE(stored);
    }
    UserDefaults d(path);
    EXPECT_EQ(std::tuple(d.boolForKey("oneClickPublish"), d.integerForKey("LastFilterUsed"),
                         d.integerForKey("big"), d.doubleForKey("ratio")),
              std::tuple(true, -1, INT64_MAX, 0.1));
    EXPECT_EQ(d.stringForKey("kFBUserName"), "Zoë \"Z\" 東京");
    EXPECT_EQ(std::tuple(d.dateForKey("FBSessionExpires"), d.dateForKey("old")),
              std::tuple(date, old));
    EXPECT_FALSE(d.contains("gone") || d.contains("x"));
    // Absent, and of another kind (a text that is no bool).
    EXPECT_EQ(std::tuple(d.boolForKey("nothing"), d.integerForKey("nothing"),
                         d.stringForKey("nothing"), d.dateForKey("kFBUserName")),
              std::tuple(false, 0, std::nullopt, std::nullopt));
    EXPECT_EQ(std::tuple(d.boolForKey("LastFilterUsed"), d.stringForKey("LastFilterUsed"),
                         d.boolValueForKey("kFBUserName"), d.boolValueForKey("oneClickPublish")),
              std::tuple(true, "-1", std::nullopt, true));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(filesInDir(), written) << "no temporary left";
    // A folder that cannot be made: the change stays in memory and the call says so.
    UserDefaults blocked(path / "defaults.json");
    EXPECT_FALSE(blocked.setInteger("z", 5));
    EXPECT_EQ(blocked.integerForKey("z"), 5);
    EXPECT_FALSE(blocked.synchronize());
}

// What sits at a path: its type, and the bytes of a regular file or the target of a link.
std::string snapshot(const fs::path& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "absent";
    if (S_ISLNK(st.st_mode)) return "link to " + fs::read_symlink(path).string();
    if (S_ISDIR(st.st_mode))
        return "directory of " + std::to_string(std::distance(fs::directory_iterator(path), {}));
    if (S_ISFIFO(st.st_mode)) return "fifo";
    return "file of " + std::to_string(st.st_size) + ": " + readFile(path).value_or("?");
}

TEST_F(UserDefaultsTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    // Each is what sits at the store's path; the store must say so once, start empty, keep
    // changes in memory and leave the thing as it was. The name is so long that a damaged
    // file cannot be moved aside (its aside name would be too long), while the temporary
    // file of a write still fits: it is the only copy of the user's settings.
    // The larger file is sparse: no disk used.
    // clang-format off
    struct Case { const char* name; std::function<void(const fs::path&)> make; const char* logged; } cases[] = {
        {"directory", [](const fs::path& p) { fs::create_directory(p); }, "is a directory, not a regular file"},
        {"fifo", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, "is a FIFO (named pipe), not a regular file"},
        {"loop of links", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }, "Too many levels of symbolic links"},
        {"larger than the limit", [](const fs::path& p) { std::ofstream(p) << "{\"k\": 1}"; fs::resize_file(p, UserDefaults::kMaxFileBytes + 1); }, "is larger than the limit of 64 MiB"},
        {"no permission to read", [](const fs::path& p) { std::ofstream(p) << "{\"k\": 1}"; chmod(p.c_str(), 0200); }, "Permission denied"},
        {"damaged", [](const fs::path& p) { std::ofstream(p) << "{\"k\": 1,"; }, "could not be moved aside (File name too long)"},
    };
    // clang-format on
    const fs::path file = path.parent_path() / std::string(230, 's');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directories(path.parent_path());
        c.make(file);
        if (std::string(c.name) == "no permission to read" && access(file.c_str(), R_OK) == 0)
            continue;  // root reads it anyway
        std::string before = snapshot(file);
        testing::LogCapture capture;
        {
            testing::FifoRelease release(file);
            auto start = steady_clock::now();
            UserDefaults d(file);
            EXPECT_LT(steady_clock::now() - start, 2s) << "blocked on the file";
            // Refused, yet kept in memory for this session.
            EXPECT_EQ((std::tuple{d.contains("k"), d.setInteger("k", 7), d.integerForKey("k"),
                                  d.synchronize()}),
                      std::tuple(false, false, 7, false));
        }
        EXPECT_THAT(onlyLine(capture), HasSubstr(c.logged));
        EXPECT_EQ(snapshot(file), before);
        EXPECT_EQ(filesInDir(), std::vector{file.filename().string()});
    }
    // A file of exactly the limit is read.
    std::string text = "{\"k\": 1}";
    text.resize(UserDefaults::kMaxFileBytes, ' ');
    scratch.write("conf/defaults.json", text);
    EXPECT_EQ(UserDefaults(path).integerForKey("k"), 1);
}

TEST_F(UserDefaultsTest, AnUnparsableFileIsMovedAsideAndTheNewestFiveCopiesAreKept) {
    // clang-format off
    // logged: how the warning says what is wrong
    struct Bad { std::string text; const char* logged; };
    const Bad bad[] = {
        {"{\r\n  \"a\": 1,\r\n  \"b\": ]\r\n}", " at line 3, column 8 (Unrecognised"},
        {"{\"LastFilterUsed\": 3", " at line 1, column 21 (End of input while parsing object)"},
        {"[1, 2]", "defaults.json does not hold an object;"},
        {"\"text\"", " at line 1, column 1 (Valid fragment, but not JSON)"},
        {"", "defaults.json is not valid JSON"},
        {"\xff\xfe{}", "defaults.json is not valid JSON"},
        {std::string("nul\0l", 5), "defaults.json is not valid JSON"},
    };
    // clang-format on
    fs::create_directories(path.parent_path());
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.text);
        std::ofstream(path, std::ios::binary) << b.text;
        testing::LogCapture capture;
        UserDefaults d(path);
        EXPECT_THAT(onlyLine(capture), HasSubstr(b.logged));
        EXPECT_THAT(onlyLine(capture), HasSubstr("moved to " + path.string() + ".corrupt-"));
        EXPECT_FALSE(d.contains("LastFilterUsed") || fs::exists(path));
        EXPECT_TRUE(d.setInteger("LastFilterUsed", 4) &&
                    UserDefaults(path).integerForKey("LastFilterUsed") == 4);
    }
    // Seven were set aside: the last five remain, oldest first by name.
    std::vector<std::string> kept;
    for (const auto& name : filesInDir())
        if (name.rfind("defaults.json.corrupt-", 0) == 0)
            kept.push_back(readFile(path.parent_path() / name).value_or("?"));
    ASSERT_EQ(kept.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(kept[i], bad[i + 2].text);
}

TEST_F(UserDefaultsTest, ALinkIsWrittenThroughToItsTarget) {
    // As a dotfile manager makes it: a relative link into another folder.
    fs::path dotfiles = dir / "dotfiles";
    scratch.write("dotfiles/quorbit.json", R"({"a": 1})");
    fs::create_directories(path.parent_path());
    fs::create_symlink("../dotfiles/quorbit.json", path);
    {
        UserDefaults d(path);
        EXPECT_TRUE(d.integerForKey("a") == 1 && d.setInteger("b", 2));
    }
    EXPECT_EQ(snapshot(path), "link to ../dotfiles/quorbit.json");
    UserDefaults back(path);
    EXPECT_EQ(std::tuple(back.integerForKey("a"), back.integerForKey("b")), std::tuple(1, 2));
    EXPECT_EQ(std::distance(fs::directory_iterator(dotfiles), {}), 1) << "no temporary left";
    // A corrupt target is moved aside beside itself; the link stays.
    std::ofstream(dotfiles / "quorbit.json") << "{";
    EXPECT_TRUE(UserDefaults(path).setString("d", "y"));
    EXPECT_EQ(snapshot(path), "link to ../dotfiles/quorbit.json");
    EXPECT_EQ(std::distance(fs::directory_iterator(dotfiles), {}), 2);
    EXPECT_EQ(filesInDir(), written);
}

TEST_F(UserDefaultsTest, EveryNumberAFileCanHoldIsReadAndWrittenBack) {
    const std::string fifty = "12345678901234567890123456789012345678901234567890";
    const std::string exact = "0.12345678901234567890123456789";
    scratch.write("conf/defaults.json",
                  R"({"big": 1e200, "tiny": 5e-324, "huge": -1e400, "long": )" + fifty +
                      R"(, "exact": )" + exact + R"(, "n": 3, "s": "x"})");
    testing::LogCapture capture;
    const double longAsDouble = std::strtod(fifty.c_str(), nullptr);
    {
        UserDefaults d(path);
        EXPECT_EQ(std::tuple(d.doubleForKey("big"), d.doubleForKey("tiny"), d.doubleForKey("huge"),
                             d.doubleForKey("long")),
                  std::tuple(1e200, 5e-324, -DBL_MAX, longAsDouble));
        EXPECT_EQ(
            std::tuple(d.integerForKey("long"), d.stringForKey("exact"), d.integerForKey("n")),
            std::tuple(INT64_MAX, "0.12345678901234568", 3));
        // The store writes such numbers too, and reads them back.
        EXPECT_TRUE(d.setDouble("written", 1e200) && d.setDouble("small", -2.5e-310));
    }
    EXPECT_EQ(onlyLine(capture), "0 lines");
    EXPECT_EQ(filesInDir(), written);
    UserDefaults back(path);
    EXPECT_EQ(
        std::tuple(back.doubleForKey("written"), back.doubleForKey("small"),
                   back.doubleForKey("big"), back.doubleForKey("long"), back.stringForKey("s")),
        std::tuple(1e200, -2.5e-310, 1e200, longAsDouble, "x"));
    // In the file, a number a decimal holds keeps every digit, beyond what a double holds.
    EXPECT_THAT(readFile(path).value_or(""), HasSubstr("\"exact\" : " + exact + ",\n"));
}

TEST_F(UserDefaultsTest, OtherKindsAreKeptAndAnUnchangedValueWritesNothing) {
    const char* original =
        R"({"list":[1,{"a":null}],"object":{"x":[]},"nothing":null,"when":{"date":"yesterday"},)"
        R"("late":{"date":"2262-04-12T00:00:00Z"},"LastFilterUsed":3,"ratio":2})";
    scratch.write("conf/defaults.json", original);
    struct stat before = {}, after = {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    UserDefaults d(path);
    EXPECT_TRUE(d.contains("list") && d.contains("nothing"));
    EXPECT_EQ(std::tuple(d.integerForKey("list"), d.stringForKey("object"), d.dateForKey("when")),
              std::tuple(0, std::nullopt, std::nullopt));
    // Read as a bool only where the value is one: other kinds and absent keys are none.
    for (const char* key : {"list", "object", "nothing", "when", "absent"})
        EXPECT_EQ(d.boolValueForKey(key), std::nullopt) << key;
    EXPECT_EQ(d.boolValueForKey("ratio"), true);
    // Setting what is there already, in any form that is written alike, writes nothing.
    EXPECT_TRUE(d.setInteger("LastFilterUsed", 3) && d.setDouble("ratio", 2.0) &&
                d.removeObjectForKey("absent"));
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(readFile(path), std::string(original));
    EXPECT_TRUE(d.setInteger("LastFilterUsed", 4));
    json::JsonParser parser;
    auto was = parser.objectWithString(original);
    auto now = parser.objectWithString(readFile(path).value_or(""));
    ASSERT_TRUE(was && now);
    for (const char* key : {"list", "object", "nothing", "when", "late"})
        EXPECT_TRUE(now->find(key) && *now->find(key) == *was->find(key)) << key;
    EXPECT_EQ((*now)["LastFilterUsed"].asInt64(), 4);
}

TEST_F(UserDefaultsTest, WritersOnSeveralThreadsLoseNothing) {
    UserDefaults d(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&d, t] {
            for (int i = 0; i < 25; ++i)
                d.setInteger(format("t%d.%d", t, i), t * 100 + i);
        });
    for (auto& thread : threads)
        thread.join();
    UserDefaults reloaded(path);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i)
            ASSERT_EQ(reloaded.integerForKey(format("t%d.%d", t, i)), t * 100 + i);
}

// Two processes on one file, as two instances of the application or another program.
TEST_F(UserDefaultsTest, StoresSharingAFileKeepEachOthersKeysAndTheLaterWriteWins) {
    scratch.write("conf/defaults.json", R"({"fromAnotherProgram": [1, 2], "LastFilterUsed": 1})");
    UserDefaults first(path), second(path);
    EXPECT_TRUE(first.setString("token", "abc") && second.setInteger("LastFilterUsed", 5));
    EXPECT_EQ(second.stringForKey("token"), "abc") << "picked up as it wrote";
    // second holds 5 already, but the file holds first's later 7: the value is written. first
    // still holds the token in memory when it writes its flag.
    EXPECT_TRUE(first.setInteger("LastFilterUsed", 7) && second.setInteger("LastFilterUsed", 5) &&
                second.removeObjectForKey("token") && first.setBool("flag", true));
    UserDefaults back(path);  // a removal by another is not undone
    EXPECT_EQ(std::tuple(back.integerForKey("LastFilterUsed"), back.contains("token"),
                         back.boolForKey("flag"), back.contains("fromAnotherProgram")),
              std::tuple(5, false, true, true));
    // Counting: two stores in turn, then pairs of processes counting at once.
    for (int i = 0; i < 3; ++i) {
        first.incrementInteger("uses");
        second.incrementInteger("uses");
    }
    EXPECT_EQ(UserDefaults(path).integerForKey("uses"), 6);
    pid_t children[2];
    for (pid_t& child : children) {
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 40; ++i)
                UserDefaults(path).incrementInteger("uses");
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(UserDefaults(path).integerForKey("uses"), 86);
    EXPECT_TRUE(UserDefaults(path).contains("fromAnotherProgram"));
}

// Writers take the lock; one whose holder never lets go (a process stopped in a debugger)
// holds a write up a few seconds, not for ever, and the write then goes ahead and says so.
TEST_F(UserDefaultsTest, AWriteWaitsForTheLockButNotForEver) {
    UserDefaults d(path);
    ASSERT_TRUE(d.setInteger("a", 1));
    int held = open((path.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    testing::LogCapture capture;
    auto start = steady_clock::now();
    EXPECT_TRUE(d.setInteger("a", 2));
    auto waited = steady_clock::now() - start;
    close(held);
    EXPECT_GE(waited, 4s) << "the lock was not waited for";
    EXPECT_LT(waited, 10s);
    EXPECT_THAT(onlyLine(capture), HasSubstr("is held too long"));
    EXPECT_EQ(UserDefaults(path).integerForKey("a"), 2);
}

// A writer that dies at any step of a save (part of the new file written, written but not
// flushed, flushed but not yet renamed) leaves the last whole file, which reads back.
TEST_F(UserDefaultsTest, AWriterThatDiesAtAnyStepOfASaveLeavesTheLastWholeFile) {
    // clang-format off
    struct Step { const char* name; std::function<void(AtomicWriteCalls&)> dieThere; } steps[] = {
        {"write", [](AtomicWriteCalls& c) { c.write = [](int fd, const void* data, size_t size) -> ssize_t { (void)!::write(fd, data, size / 2); _exit(9); }; }},
        {"flush", [](AtomicWriteCalls& c) { c.fsync = [](int) -> int { _exit(9); }; }},
        {"rename", [](AtomicWriteCalls& c) { c.rename = [](const char*, const char*) -> int { _exit(9); }; }},
    };
    // clang-format on
    {
        UserDefaults d(path);
        ASSERT_TRUE(d.setString("kept", "whole"));
    }
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            UserDefaults d(path);
            step.dieThere(atomicWriteCalls());
            d.setString("lost", std::string(20000, 'x'));
            _exit(0);  // the save did not reach the step: the test fails below
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 9);
        UserDefaults reloaded(path);  // a damaged file would be moved aside, "kept" lost
        EXPECT_EQ(reloaded.stringForKey("kept"), "whole");
        EXPECT_FALSE(reloaded.contains("lost"));
        for (const auto& name : filesInDir())
            EXPECT_EQ(name.find(".corrupt"), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace quorbit::platform
