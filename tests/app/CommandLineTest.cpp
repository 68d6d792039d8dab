#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Outcome;
using testing::RunOptions;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CommandLine : public testing::ScratchFolderTest {
  protected:
    CommandLine() : ScratchFolderTest("quorbit-cli-") {}
    // A small PNG in dir, as in.png.
    std::string picture(int width, int height) {
        auto png = platform::ImageCodec::encodePng(testing::quadrantPicture(width, height));
        return file("in.png", png.value());
    }
    Outcome run(const std::vector<std::string>& args, RunOptions options = {}) {
        options.limit = std::min(options.limit, std::chrono::seconds(30));
        return testing::runQuorbit(args, dir, options);
    }
};

TEST_F(CommandLine, UsageErrorsHelpAndVersionHaveTheirExitStatus) {
    std::string input = picture(8, 8);
    std::string out = (dir / "out.png").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        bool onStdout;  // else on standard error
        std::string message;
    };
    // clang-format off
    const Case cases[] = {
        {{"--version"}, 0, true, "quorbit 0."},
        {{"--help"}, 0, true, "  tap-control NAME "},  // the script commands too
        {{"--headless", "-h"}, 0, true, "usage: quorbit [--camera SOURCE]"},
        {{"render", "--filter", "Normal", "--help"}, 0, true, "usage: quorbit render --filter"},
        {{"contact-sheet", "-h"}, 0, true, "usage: quorbit contact-sheet"},
        {{"--bogus"}, 2, false, "unknown argument '--bogus'"},
        {{"--scale"}, 2, false, "--scale needs a value"},
        {{"--scale", "2", "--scale", "2"}, 2, false, "--scale is given more than once"},
        {{"render", "--filter", "Normal", "--input", input, "--output", out, "--output", out}, 2, false, "--output is given more than once"},
        {{"render", "--filter", "Bulge", "--input", input, "--output", out, "--center", "0.5"}, 2, false, "--center takes X,Y"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_TRUE(contains(c.onStdout ? outcome.out : outcome.err, c.message))
            << "out: " << outcome.out << "\nerr: " << outcome.err;
        if (c.status == 2) {
            EXPECT_TRUE(contains(outcome.err, "usage: quorbit")) << outcome.err;
        }
        EXPECT_EQ(namesBut({"in.png"}), std::set<std::string>{}) << "nothing is written";
    }
}

// Which targets may be written is the file writer's own test; here each command shows that
// it writes through it: a FIFO refused and left alone, a link followed to the regular file.
TEST_F(CommandLine, OutputsGoOnlyWhereNothingOrARegularFileIs) {
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::string fifo = (dir / "fifo").string(), script = file("shot.script", "");
    auto render = [&](const std::string& out) {
        return std::vector<std::string>{"render",        "--filter", "Sepia", "--input",
                                        picture(32, 24), "--output", out};
    };
    const std::vector<std::string> commands[] = {
        render(fifo),
        {"contact-sheet", "--output", fifo},
        {"--headless", "--camera", "synthetic", "--script", script}};
    file("shot.script", "screenshot " + fifo + "\nquit\n");
    const std::set<std::string> made = {"fifo", "to-old", "old.png", "in.png", "shot.script"};
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0]);
        Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 1) << outcome.err;
        EXPECT_TRUE(contains(outcome.err, "fifo is a FIFO (named pipe), not a regular file"))
            << outcome.err;
        EXPECT_EQ(namesBut(made), std::set<std::string>{}) << "a temporary file is left";
        EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    }
    file("old.png", "old");
    fs::create_symlink("old.png", dir / "to-old");
    Outcome linked = run(render((dir / "to-old").string()));
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(platform::ImageCodec::readFile(dir / "old.png"));
    EXPECT_EQ(fs::read_symlink(dir / "to-old"), "old.png");
    EXPECT_EQ(namesBut(made), std::set<std::string>{}) << "a temporary file is left";
}

TEST_F(CommandLine, AFilterThatCannotBeBuiltFailsTheToolsAndIsLogged) {
    const char* resources = std::getenv("QUORBIT_RESOURCES");
    ASSERT_TRUE(resources);
    std::string input = picture(32, 24);
    struct Case {
        std::string filter;
        std::string breakage;  // "missing", or the shader's text
        std::string reason;    // what the message says after the filter's name
    };
    // clang-format off
    const Case cases[] = {
        {"Sepia", "missing", "Sepia.fsh is missing or unreadable in "},
        {"Thermal", "void main() { gl_FragColor = vec4(1.0) }", "Thermal.fsh does not compile: 0:1"},
    };
    // clang-format on
    const std::map<std::string, int> slots = {{"Sepia", 5}, {"Thermal", 6}};
    std::string out = (dir / "out.png").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter + ": " + c.breakage);
        fs::path copy = dir / "resources";
        fs::remove_all(copy);
        fs::create_directories(copy);
        fs::copy(fs::path(resources) / "shaders", copy / "shaders");
        if (c.breakage == "missing")
            fs::remove(copy / "shaders" / (c.filter + ".fsh"));
        else
            std::ofstream(copy / "shaders" / (c.filter + ".fsh")) << c.breakage;
        RunOptions options;
        options.env = {{"QUORBIT_RESOURCES", copy.string()}};
        // Said as the command's error and logged as a warning.
        std::string named = "filter " + c.filter + " (slot " + std::to_string(slots.at(c.filter)) +
                            ") cannot be used: " + c.reason;
        for (const auto& args : {std::vector<std::string>{"render", "--filter", c.filter, "--input",
                                                          input, "--output", out},
                                 std::vector<std::string>{"contact-sheet", "--output", out}}) {
            Outcome outcome = run(args, options);
            EXPECT_EQ(outcome.status, 1) << args[0];
            EXPECT_TRUE(contains(outcome.err, "the " + named)) << outcome.err;
            EXPECT_TRUE(contains(outcome.err, "warning: " + named)) << outcome.err;
            EXPECT_FALSE(fs::exists(out)) << args[0];
        }
        // Another filter still renders with those resources.
        Outcome other = run({"render", "--filter", c.filter == "Sepia" ? "Grayscale" : "Sepia",
                             "--input", input, "--output", out},
                            options);
        EXPECT_EQ(other.status, 0) << other.err;
        fs::remove(out);
    }
}

TEST_F(CommandLine, SignalsEndAHeadlessRunPromptlyWithTheirStatusAndLeaveNothingBehind) {
    // The signal comes while the script waits for a control that never shows.
    std::string script =
        file("long.script", "screenshot " + (dir / "shot.png").string() +
                                "\nexpect-control nothing-of-that-name\nwait 30000\n");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "tmp");
    struct Case {
        int signal;
        std::string camera;
    };
    // With cameras that would never deliver, or never end a read, too.
    // clang-format off
    const Case cases[] = {
        {SIGTERM, "synthetic"}, {SIGINT, "synthetic"}, {SIGHUP, "synthetic"},
        {SIGTERM, "image:" + (dir / "fifo").string()}, {SIGTERM, "image:/dev/zero"}, {SIGINT, "v4l2:/dev/null"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + " with " + c.camera);
        RunOptions options;
        // The scratch settings folder is made in TMPDIR when no settings folder is named.
        options.env = {{"QUORBIT_CONFIG_DIR", std::nullopt}, {"TMPDIR", (dir / "tmp").string()}};
        options.signal = c.signal;
        options.signalWhen = "screenshot written to";
        Outcome outcome = run({"--headless", "--camera", c.camera, "--script", script}, options);
        EXPECT_EQ(outcome.status, 128 + c.signal) << outcome.err;
        EXPECT_FALSE(contains(outcome.err, "no visible control")) << outcome.err;
        EXPECT_GE(outcome.afterSignal.count(), 0) << "never signalled: " << outcome.err;
        EXPECT_LT(outcome.afterSignal, 1000ms);
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the scratch settings folder is left";
        EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    }
}

TEST_F(CommandLine, ListsOnlyCamerasThatOpen) {
    std::string input = picture(32, 24);
    std::string corrupt = file("corrupt.png", "\x89PNG\r\n\x1a\nnot really");
    struct Case {
        std::string source;
        std::vector<std::string> listed;  // lines of the listing
        std::string refused;              // on standard error; empty: nothing refused
    };
    // clang-format off
    const Case cases[] = {
        {"image:" + input, {"image:" + input + "\tfront\t", "image:" + input + "\tback\t"}, ""},
        {"image:" + corrupt, {"no camera found"}, "(front) cannot be used: "},
        {"image:/dev/zero", {"no camera found"}, "is a character device"},
        {"v4l2:/dev/null", {"no camera found"}, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        Outcome outcome = run({"--list-cameras", "--camera", c.source});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        for (const auto& line : c.listed)
            EXPECT_TRUE(contains(outcome.out, line)) << outcome.out;
        if (c.listed.front() == "no camera found") {
            EXPECT_FALSE(contains(outcome.out, "front\t")) << outcome.out;
            EXPECT_FALSE(contains(outcome.out, "back\t")) << outcome.out;
        }
        if (!c.refused.empty()) {
            EXPECT_TRUE(contains(outcome.err, c.refused)) << outcome.err;
        }
    }

    // The application on such a source shows its note on the live view and keeps working.
    std::string script = file("nocamera.script",
                              "expect-control picker-close\ntap-control picker-close\n"
                              "expect-control camera-unavailable\ntap 160 200\nwait 100\n"
                              "screenshot " +
                                  (dir / "shot.png").string() + "\nquit\n");
    Outcome app = run({"--headless", "--camera", "image:" + corrupt, "--script", script});
    EXPECT_EQ(app.status, 0) << app.err;
    EXPECT_TRUE(platform::ImageCodec::readFile(dir / "shot.png"));
}

}  // namespace
}  // namespace quorbit::app
