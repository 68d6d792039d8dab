#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "support/Scratch.h"

namespace {

namespace fs = std::filesystem;

// The qjson program of the same build (beside the tests folder of the build tree).
fs::path qjsonPath() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "qjson";
}

class Qjson : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(qjsonPath())) GTEST_SKIP() << "qjson is not built beside the tests";
    }
    // Runs `qjson ARGS < IN > OUT 2> err`, IN a file holding input unless given; its status.
    int run(const std::string& args, const std::string& input, std::string out = "",
            std::string in = "") {
        if (in.empty()) in = scratch.write("in", input).string();
        if (out.empty()) out = (scratch / "out").string();
        std::string command = qjsonPath().string() + " " + args + " < " + in + " > " + out +
                              " 2> " + (scratch / "err").string();
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string err() const { return scratch.read("err"); }

    quorbit::testing::ScratchDir scratch{"qjson-test"};
};

TEST_F(Qjson, PrintsTheTraceWithLinesAndColumnsOnFailure) {
    EXPECT_EQ(run("", "[\"\\u12\"]"), 1);
    EXPECT_EQ(scratch.read("out"), "");
    EXPECT_EQ(err(),
              "1:7: 6 Missing hex digit in quad\n1:7: 6 Missing hex quad\n"
              "1:7: 6 Broken unicode character\n1:7: 3 Expected value while parsing array\n");
}

TEST_F(Qjson, ExitStatuses) {
    EXPECT_EQ(run("", "{ \"b\" : [1, 2.50], \"a\" : null }"), 0);
    EXPECT_EQ(scratch.read("out"), "{\"b\":[1,2.5],\"a\":null}\n");
    EXPECT_EQ(run("--pretty --quiet --pretty", "[1]"), 2);
    EXPECT_NE(err().find("--pretty is given more than once"), std::string::npos) << err();
    EXPECT_EQ(run((scratch / "missing.json").string(), ""), 2);
    // An endless device on standard input is refused before anything is read.
    EXPECT_EQ(run("", "", "", "/dev/zero"), 2);
    EXPECT_EQ(err(),
              "qjson: standard input is a character device, not a file, a pipe or a "
              "terminal\n");
    // Output that cannot be written, far beyond any buffer, so the writes fail part way.
    EXPECT_EQ(run("", "[\"" + std::string(300000, 'x') + "\"]", "/dev/full"), 1);
    EXPECT_EQ(err(), "qjson: cannot write the output: No space left on device\n");
}

}  // namespace
