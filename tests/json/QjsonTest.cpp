#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/HostileFiles.h"

namespace {

namespace fs = std::filesystem;

// The qjson program of the same build (beside the tests folder of the build tree).
fs::path qjsonPath() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "qjson";
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Qjson : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(qjsonPath())) GTEST_SKIP() << "qjson is not built beside the tests";
        _dir = fs::temp_directory_path() / ("qjson-test-" + std::to_string(getpid()));
        fs::create_directories(_dir);
    }
    void TearDown() override {
        if (!_dir.empty()) fs::remove_all(_dir);
    }

    // Runs qjson with `args`, `input` on standard input.
    Outcome run(const std::string& args, const std::string& input) {
        std::ofstream(_dir / "in", std::ios::binary) << input;
        std::string command = qjsonPath().string() + " " + args + " < " + (_dir / "in").string() +
                              " > " + (_dir / "out").string() + " 2> " + (_dir / "err").string();
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(_dir / "out"),
                readFile(_dir / "err")};
    }

    fs::path _dir;
};

TEST_F(Qjson, WritesCompactPrettyAndSorted) {
    Outcome compact = run("", "{ \"b\" : [1, 2.50], \"a\" : null }");
    EXPECT_EQ(compact.status, 0);
    EXPECT_EQ(compact.out, "{\"b\":[1,2.5],\"a\":null}\n");
    Outcome pretty = run("--pretty --sort-keys -", "{\"b\":[1],\"a\":{}}");
    EXPECT_EQ(pretty.status, 0);
    EXPECT_EQ(pretty.out, "{\n  \"a\" : {},\n  \"b\" : [\n    1\n  ]\n}\n");
}

TEST_F(Qjson, PrintsTheTraceOnFailure) {
    Outcome failed = run("", "[\"\\u12\"]");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err,
              "1:7: 6 Missing hex digit in quad\n1:7: 6 Missing hex quad\n"
              "1:7: 6 Broken unicode character\n1:7: 3 Expected value while parsing array\n");
    // Lines end at CR LF as at LF; columns count characters.
    Outcome lines = run("", "{\r\n\"\xc3\xa9\": [1,\r\n2,]}");
    EXPECT_EQ(lines.err,
              "3:3: 9 Trailing comma disallowed in array\n"
              "3:3: 3 Object value expected for key: \xc3\xa9\n");
}

TEST_F(Qjson, FragmentsQuietAndFiles) {
    EXPECT_EQ(run("", "42").err, "1:1: 4 Valid fragment, but not JSON\n");
    Outcome fragment = run("--fragment", " 42 ");
    EXPECT_EQ(fragment.status, 0);
    EXPECT_EQ(fragment.out, "42\n");
    Outcome quiet = run("--quiet", "[1]");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(run("--quiet", "[1,]").status, 1);
    std::ofstream(_dir / "doc.json") << "[true]";
    EXPECT_EQ(run((_dir / "doc.json").string(), "").out, "[true]\n");
    EXPECT_EQ(run((_dir / "missing.json").string(), "").status, 2);
    EXPECT_EQ(run("--bogus", "").status, 2);
    Outcome twice = run("--pretty --quiet --pretty", "[1]");
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("--pretty is given more than once"), std::string::npos) << twice.err;
    Outcome help = run("--sort-keys --help", "");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: qjson", 0), 0u) << help.out;
}

TEST_F(Qjson, ReadsOnlyBoundedInputAndReportsOutputThatCannotBeWritten) {
    // Output beyond any buffer, so that the writes fail part of the way.
    std::string big = "[\"" + std::string(300000, 'x') + "\"]";
    std::ofstream(_dir / "big.json") << big;
    std::string qjson = qjsonPath().string();
    std::string in = (_dir / "big.json").string(), err = (_dir / "err").string();
    auto shell = [&](const std::string& command) {
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(shell(qjson + " " + in + " > /dev/full 2> " + err), 1);
    EXPECT_EQ(readFile(err), "qjson: cannot write the output: No space left on device\n");
    // A reader that has gone, with SIGPIPE ignored as some launchers leave it.
    std::string status = (_dir / "status").string();
    shell("(trap '' PIPE; " + qjson + " " + in + " 2> " + err + "; echo $? > " + status +
          ") | true");
    EXPECT_EQ(readFile(status), "1\n");
    EXPECT_EQ(readFile(err), "qjson: cannot write the output: Broken pipe\n");

    fs::create_directory(_dir / "folder");
    ASSERT_EQ(mkfifo((_dir / "pipe").c_str(), 0600), 0);
    struct Case {
        std::string command;
        std::string message;
    } cases[] = {
        {qjson + " " + (_dir / "folder").string(),
         (_dir / "folder").string() + " is a directory, not a regular file"},
        {qjson + " " + (_dir / "pipe").string(),
         (_dir / "pipe").string() + " is a FIFO (named pipe), not a regular file"},
        {qjson + " /dev/zero", "/dev/zero is a character device, not a regular file"},
        {qjson + " < /dev/zero",
         "standard input is a character device, not a file, a pipe or a terminal"},
    };
    for (const auto& c : cases) {
        quorbit::testing::FifoRelease release(_dir / "pipe");
        EXPECT_EQ(shell(c.command + " > /dev/null 2> " + err), 2) << c.command;
        EXPECT_EQ(readFile(err), "qjson: " + c.message + "\n");
    }
}

}  // namespace
