#include <gmock/gmock.h>
#include <sys/stat.h>

#include <csignal>
#include <future>
#include <regex>

#include "app/RenderCommands.h"
#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/Pixels.h"
#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

using namespace quorbit::testing;  // with std::filesystem as fs, and the chrono literals
using namespace platform::ImageCodec;
using platform::Image;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Args = std::vector<std::string>;

class CommandLine : public ScratchFolderTest {
  protected:
    CommandLine() : ScratchFolderTest("quorbit-cli-") {}
    // A small PNG in dir, as in.png.
    std::string picture(int width, int height) {
        return file("in.png", encodePng(quadrantPicture(width, height)).value());
    }
    Outcome run(const Args& args, const RunOptions& o = {}) { return runQuorbit(args, dir, o); }
    // The render command's arguments, written to out unless another output is named.
    Args render(const std::string& input, std::string filter = "Normal", std::string to = "") {
        return {"render", "--filter", filter, "--input", input, "--output", to.empty() ? out : to};
    }
    const std::string out = (dir / "out.png").string();
};

TEST_F(CommandLine, UsageErrorsHelpAndVersionHaveTheirExitStatus) {
    std::string in = picture(8, 8);
    // The message is on standard output with status 0, else on standard error with the usage.
    // clang-format off
    const std::tuple<Args, int, std::string> cases[] = {
        {{"--version"}, 0, "quorbit 0."},
        {{"--help"}, 0, "  tap-control NAME "},  // the script commands too
        {{"--headless", "-h"}, 0, "usage: quorbit [--camera SOURCE]"},
        {{"render", "--filter", "Normal", "--help"}, 0, "usage: quorbit render --filter"},
        {{"contact-sheet", "-h"}, 0, "usage: quorbit contact-sheet"},
        {{"--bogus"}, 2, "unknown argument '--bogus'"},
        {{"--scale"}, 2, "--scale needs a value"},
        {{"--scale", "2", "--scale", "2"}, 2, "--scale is given more than once"},
        {{"render", "--filter", "Normal", "--input", in, "--output", out, "--output", out}, 2, "--output is given more than once"},
        {{"render", "--filter", "Bulge", "--input", in, "--output", out, "--center", "0.5"}, 2, "--center takes X,Y"},
    };
    // clang-format on
    for (const auto& [args, status, message] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, status);
        EXPECT_THAT(status ? outcome.err : outcome.out, HasSubstr(message));
        EXPECT_THAT(outcome.err, HasSubstr(status ? "usage: quorbit" : ""));
        EXPECT_THAT(namesBut({"in.png"}), IsEmpty()) << "nothing is written";
    }
}

// Which targets may be written is the file writer's own test; here each command shows that
// it writes through it: a FIFO refused and left alone, a link followed to the regular file.
TEST_F(CommandLine, OutputsGoOnlyWhereNothingOrARegularFileIs) {
    std::string fifo = (dir / "fifo").string(), input = picture(32, 24);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Args commands[] = {render(input, "Sepia", fifo),
                             {"contact-sheet", "--output", fifo},
                             {"--headless", "--camera", "synthetic", "--script",
                              file("shot.script", "screenshot " + fifo + "\nquit\n")}};
    const std::set<std::string> made = {"fifo", "to-old", "old.png", "in.png", "shot.script"};
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0]);
        Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 1) << outcome.err;
        EXPECT_THAT(outcome.err, HasSubstr("fifo is a FIFO (named pipe), not a regular file"));
        EXPECT_THAT(namesBut(made), IsEmpty()) << "a temporary file is left";
        EXPECT_TRUE(fs::is_fifo(fifo));
    }
    file("old.png", "old");
    fs::create_symlink("old.png", dir / "to-old");
    EXPECT_EQ(run(render(input, "Sepia", (dir / "to-old").string())).status, 0);
    EXPECT_TRUE(readFile(dir / "old.png"));
    EXPECT_EQ(fs::read_symlink(dir / "to-old"), "old.png");
    EXPECT_THAT(namesBut(made), IsEmpty()) << "a temporary file is left";
}

TEST_F(CommandLine, AFilterThatCannotBeBuiltFailsTheToolsAndIsLogged) {
    const char* resources = std::getenv("QUORBIT_RESOURCES");
    ASSERT_TRUE(resources);
    std::string input = picture(32, 24);
    // The filter, its slot, its shader (none: missing), what is said after the filter's name.
    // clang-format off
    const std::array<std::string, 4> cases[] = {
        {"Sepia", "5", "", "Sepia.fsh is missing or unreadable in "},
        {"Thermal", "6", "void main() { gl_FragColor = vec4(1.0) }", "Thermal.fsh does not compile: 0:1"},
    };
    // clang-format on
    for (const auto& [filter, slot, text, reason] : cases) {
        SCOPED_TRACE(filter);
        fs::path copy = dir / filter, shader = copy / "shaders" / (filter + ".fsh");
        fs::create_directories(copy);
        fs::copy(fs::path(resources) / "shaders", copy / "shaders");
        fs::remove(shader);
        if (!text.empty()) std::ofstream(shader) << text;
        const RunOptions options{.env = {{"QUORBIT_RESOURCES", copy.string()}}};
        // Said as the command's error and logged as a warning.
        std::string said = "filter " + filter + " (slot " + slot + ") cannot be used: " + reason;
        for (const auto& args : {render(input, filter), Args{"contact-sheet", "--output", out}}) {
            Outcome outcome = run(args, options);
            EXPECT_EQ(outcome.status, 1) << args[0];
            for (std::string as : {"the ", "warning: "})
                EXPECT_THAT(outcome.err, HasSubstr(as + said));
            EXPECT_FALSE(fs::exists(out)) << args[0];
        }
        // Another filter still renders with those resources.
        EXPECT_EQ(run(render(input, filter == "Sepia" ? "Grayscale" : "Sepia"), options).status, 0);
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
    // With cameras that would never deliver, or never end a read, too.
    // clang-format off
    const std::pair<int, std::string> cases[] = {
        {SIGTERM, "synthetic"}, {SIGINT, "synthetic"}, {SIGHUP, "synthetic"},
        {SIGTERM, "image:" + (dir / "fifo").string()}, {SIGTERM, "image:/dev/zero"}, {SIGINT, "v4l2:/dev/null"},
    };
    // clang-format on
    for (const auto& [signal, camera] : cases) {
        SCOPED_TRACE(std::string(strsignal(signal)) + " with " + camera);
        // The scratch settings folder is made in TMPDIR when no settings folder is named.
        Outcome outcome =
            run({"--headless", "--camera", camera, "--script", script},
                {.env = {{"QUORBIT_CONFIG_DIR", std::nullopt}, {"TMPDIR", (dir / "tmp").string()}},
                 .signal = signal,
                 .signalWhen = "screenshot written to"});
        EXPECT_EQ(outcome.status, 128 + signal) << outcome.err;
        EXPECT_THAT(outcome.err, Not(HasSubstr("no visible control")));
        EXPECT_GE(outcome.afterSignal.count(), 0) << "never signalled: " << outcome.err;
        EXPECT_LT(outcome.afterSignal, 1000ms);
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the scratch settings folder is left";
        EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    }
}

TEST_F(CommandLine, ListsOnlyCamerasThatOpen) {
    std::string input = picture(32, 24);
    std::string corrupt = file("corrupt.png", "\x89PNG\r\n\x1a\nnot really");
    // Whether the source is listed, as a front and a back camera, and what standard error says.
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"image:" + input, true, ""},
        {"image:" + corrupt, false, "(front) cannot be used: "},
        {"image:/dev/zero", false, "is a character device"},
        {"v4l2:/dev/null", false, ""},
    };
    for (const auto& [source, listed, refused] : cases) {
        SCOPED_TRACE(source);
        Outcome outcome = run({"--list-cameras", "--camera", source});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out.find("no camera found") == std::string::npos, listed);
        for (std::string side : {"front\t", "back\t"})
            EXPECT_EQ(outcome.out.find(listed ? source + "\t" + side : side) != side.npos, listed)
                << outcome.out;
        EXPECT_THAT(outcome.err, HasSubstr(refused));
    }
}

// A URL for another application is refused at once. With no instance the URL starts the
// application, which takes it; a second launch with a window brings the running one to the
// front and ends; a headless run and one with --new-instance start all the same.
TEST_F(CommandLine, TheUrlStartsTheApplicationAndASecondLaunchHandsOverToIt) {
    const fs::path socket = dir / "quorbit" / "incoming.sock";
    std::string quit = file("quit.script", "wait-frames 2\nquit\n");
    // Each run in a folder of its own, with app identifier 123. A sign-in that is taken loads
    // the user from the Facebook endpoints: nothing listens there, nothing leaves the machine.
    RunOptions options{.env = {{"XDG_RUNTIME_DIR", dir.string()},
                               {"QUORBIT_CONFIG_DIR", (dir / "config").string()},
                               {"QUORBIT_FB_APP_ID", "123"},
                               {"QUORBIT_CAMERA", "synthetic"},
                               {"QUORBIT_LOG", "info"}}};
    for (std::string endpoint : {"GRAPH", "REST", "DIALOG", "LOGIN"})
        options.env.emplace_back("QUORBIT_FB_" + endpoint + "_URL", "http://127.0.0.1:9/");
    auto launch = [&](const std::string& tag, const Args& args) {
        fs::create_directory(dir / tag);
        return runQuorbit(args, dir / tag, options);
    };
    Outcome other = launch("other", {"https://example.invalid/"});
    EXPECT_EQ(other.status, 1);
    EXPECT_THAT(other.err, HasSubstr("not a URL for fb123:"));
    EXPECT_FALSE(fs::exists(socket));
    // A window on SDL's offscreen driver, up long enough for the launches beside it.
    std::string wait = file("wait.script", "wait 6000\nquit\n");
    auto instance = std::async(std::launch::async, [&] {
        return launch("instance", {"--script", wait,
                                   "fb123://authorize#access_token=secret-token&expires_in=60"});
    });
    for (int i = 0; i < 1000 && !fs::exists(socket); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(fs::exists(socket));
    auto start = std::chrono::steady_clock::now();
    // With a script of its own, so that it ends should it not hand over.
    Outcome second = launch("second", {"--script", quit});
    auto took = std::chrono::steady_clock::now() - start;
    Outcome headless = launch("headless", {"--headless", "--script", quit});
    Outcome another = launch("another", {"--new-instance", "--script", quit});
    Outcome first = instance.get();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_THAT(first.err, HasSubstr("handed the URL this run started with to the application"));
    EXPECT_THAT(first.err, Not(HasSubstr("secret-token"))) << "the token reached the log";
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_LT(took, 3s) << "the second launch ran on";
    EXPECT_THAT(second.err, HasSubstr("running already"));
    const std::string front = "the window came to the front";  // once only
    EXPECT_TRUE(first.err.find(front) != front.npos &&
                first.err.find(front) == first.err.rfind(front))
        << first.err;
    for (const Outcome* beside : {&headless, &another}) {
        EXPECT_EQ(beside->status, 0) << beside->err;
        EXPECT_THAT(beside->err, Not(HasSubstr("running already")));
    }
}

// What each reader refuses is the readers' own test; here the commands refuse it in time and
// memory, with a message and status 1, as they do when a picture's memory cannot be had.
TEST_F(CommandLine, CommandsRefuseWhatTheyCannotReadOrHaveNoMemoryFor) {
    std::string jpeg = encodeJpeg(quadrantPicture(64, 48), JpegKind::Baseline);
    std::string pngBomb = file("bomb.png", pngClaiming(16384, 16384));
    std::string jpegBomb = file("bomb.jpg", withoutScanData(withClaimedSize(jpeg, 30000, 30000)));
    // Within the largest size, 4096 x 4096 pixels (64 MiB): the PNG fails where the picture is
    // made, the progressive JPEG where the decoder keeps its coefficients.
    std::string png = file("large.png", pngClaiming(4096, 4096));
    std::string progressive = encodeJpeg(quadrantPicture(64, 64), JpegKind::Progressive444);
    progressive = file("large.jpg", withClaimedSize(progressive, 4096, 4096));
    std::string fifo = (dir / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string longScript = file("long.script", "wait 1\n");
    fs::resize_file(longScript, 2 << 20);
    const std::set<std::string> inputs = namesBut({});
    // 90 MB of address space: enough to start (the program maps about 45 MB; the web engine
    // is not loaded for a render), not enough for such a picture beside the libraries.
    const rlim_t capped = rlim_t(90) << 20;
    const std::string noMemory = "not enough memory for a picture of 4096 x 4096 pixels";
    // The arguments, the message and the address space (0: as much as there is).
    // clang-format off
    const std::tuple<Args, std::string, rlim_t> cases[] = {
        {render(pngBomb), "the picture is 16384 x 16384 pixels", 0},
        {render(jpegBomb), "the picture is 30000 x 30000 pixels", 0},
        {render(fifo), "pipe is a FIFO (named pipe), not a regular file", 0},
        {{"contact-sheet", "--input", fifo, "--output", out}, "is a FIFO", 0},
        {{"--headless", "--script", fifo}, "cannot read the script: " + fifo + " is a FIFO (named pipe), not a regular file", 0},
        {{"--headless", "--script", longScript}, "long.script is larger than the limit of 1 MiB", 0},
        {render(png), noMemory, capped},
        {render(progressive), noMemory, capped},
    };
    // clang-format on
    for (const auto& [args, message, addressSpace] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        // The sanitizers need more address space than the cap.
        if (kSanitized && addressSpace) continue;
        auto start = std::chrono::steady_clock::now();
        Outcome outcome = run(args, {.addressSpace = addressSpace});
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_THAT(outcome.err, HasSubstr(message));
        EXPECT_THAT(namesBut(inputs), IsEmpty()) << "an output or a temporary";
        EXPECT_TRUE(kSanitized || outcome.peakKiB < 200 * 1024) << outcome.peakKiB << " KiB";
    }
    // Nothing read from the FIFO: it is still there and still a FIFO.
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(CommandLine, TheLargestPictureAcceptedRendersWithinTheMemoryBound) {
    // Progressive with full-resolution colour: every coefficient (96 MiB) beside the picture.
    std::string input =
        file("large.jpg", encodeJpeg(quadrantPicture(4096, 4096), JpegKind::Progressive444, 75));
    Outcome outcome = run(render(input));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    auto rendered = readFile(out);
    ASSERT_TRUE(rendered);
    // The picture upright: the red quadrant at the top left.
    EXPECT_NEAR(rendered->pixel(60, 60)[0], 200, 12);
    EXPECT_TRUE(kSanitized || outcome.peakKiB < 200 * 1024) << outcome.peakKiB << " KiB";
}

// "Full" in the settings: the photo is the camera's largest still, upright, through the look
// in use (Grayscale: every pixel grey), with the Exif size; a sensor lying on its side gives a
// portrait photo, an upright one a landscape photo. Such a run, with a tap on the live surface
// and a screenshot (a read-back) too, maps no web engine library and deletes every GL object.
TEST_F(CommandLine, FullSizePhotosAreUprightThroughTheLookAndARunLeavesNoGlObjectBehind) {
    std::string script = file("full.script",
                              "wait-frames 15\ntap 160 200\nwait 100\nscreenshot shot.png\n"
                              "tap-control shutter\nexpect-control saving\n"
                              "wait-gone saving 30000\nwait-frames 5\nquit\n");
    for (auto [rotation, width, height] : {std::tuple{"90", 3000, 4000}, {"0", 4000, 3000}}) {
        SCOPED_TRACE(rotation);
        fs::path run = dir / rotation;
        scratch.write(run / "config/defaults.json",
                      R"({"PhotoSize": "full", "LastFilterUsed": 9})");
        std::string camera = "synthetic:back:rotation=" + std::string(rotation) + ":size=4000x3000";
        // The dynamic loader names every library it maps, the ones loaded later included.
        Outcome outcome = runQuorbit({"--headless", "--camera", camera, "--script", script}, run,
                                     {.limit = 120s,
                                      .env = {{"QUORBIT_CONFIG_DIR", (run / "config").string()},
                                              {"QUORBIT_PICTURES_DIR", (run / "album").string()},
                                              {"LD_DEBUG", "files"},
                                              {"SDL_VIDEODRIVER", "offscreen"}},
                                      .cwd = run});
        ASSERT_EQ(outcome.status, 0) << outcome.err.substr(0, 4000);
        ASSERT_THAT(outcome.err, HasSubstr("file=libstdc++")) << "the loader named no libraries";
        for (const char* library : {"quorbit-webengine", "libWPEWebKit", "libWPEBackend", "libwpe-",
                                    "libsoup", "libjavascriptcore"})
            EXPECT_EQ(outcome.err.find(library), std::string::npos) << library << " was mapped";
        // At exit the count of GL objects is back where it started, else the run names the rest.
        EXPECT_EQ(outcome.err.find("GL objects left at exit"), std::string::npos);
        std::smatch made;
        const std::regex deleted("all ([0-9]+) GL objects made in the run were deleted at exit");
        ASSERT_TRUE(std::regex_search(outcome.err, made, deleted));
        // The compositor's and the filters' programs, the live surface, a texture for each frame.
        EXPECT_GT(std::stoll(made[1]), 20 + 16 + 2);
        EXPECT_TRUE(readFile(run / "shot.png"));
        std::vector<fs::path> photos(fs::directory_iterator(run / "album"), {});
        ASSERT_EQ(photos.size(), 1u);
        auto photo = readFile(photos.front());
        ASSERT_TRUE(photo.ok());
        ASSERT_EQ(std::pair(photo->width(), photo->height()), std::pair(width, height));
        int coloured = 0;
        for (int y = 0; y < height; y += 7)
            for (int x = 0; x < width; x += 7)
                coloured += !isGrey(photo->pixel(x, y), 6);
        EXPECT_EQ(coloured, 0) << "Grayscale leaves no colour";
    }
}

// The colours of quadrantPicture.
const Rgb kRed{200, 40, 40}, kGreen{40, 200, 40}, kBlue{40, 40, 200}, kWhite{230, 230, 230};

// The render commands called in this process, on a 640 x 480 picture of quadrants.
class RenderCommands : public CommandLine {
  protected:
    void SetUp() override {
        CommandLine::SetUp();
        ASSERT_TRUE(writePng(quadrantPicture(640, 480), input));
    }
    // The picture rendered from picture through filter, with the extra arguments given.
    Image rendered(const std::string& picture, const std::string& filter, const Args& extra = {}) {
        Args args = {"--filter", filter, "--input", picture, "--output", out};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(runRender(args), kExitOk) << ::testing::PrintToString(args);
        auto image = readFile(out);
        return image ? std::move(image).value() : Image();
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    const std::string input = path("quadrants.png");
};

TEST_F(RenderCommands, RendersUprightScaledToCoverAndDistortedAroundTheCentreGiven) {
    // The input turned a quarter clockwise, as a portrait picture: blue | red over white | green.
    Image landscape = quadrantPicture(640, 480), portrait(480, 640);
    for (int y = 0; y < 640; ++y)
        for (int x = 0; x < 480; ++x)
            std::copy_n(landscape.pixel(y, 479 - x), 4, portrait.pixel(x, y));
    ASSERT_TRUE(writePng(portrait, path("portrait.png")));
    // The input, the arguments after it, the size, the quadrants' colours in reading order.
    const std::tuple<std::string, Args, int, int, std::array<Rgb, 4>> cases[] = {
        {input, {}, 427, 320, {kRed, kGreen, kBlue, kWhite}},
        {input, {"--rotation", "0"}, 427, 320, {kRed, kGreen, kBlue, kWhite}},
        {path("portrait.png"), {}, 320, 427, {kBlue, kRed, kWhite, kGreen}},
        // A sensor's frame of rotation 90 is turned a quarter clockwise, as in the live view.
        {input, {"--rotation", "90"}, 320, 427, {kBlue, kRed, kWhite, kGreen}},
    };
    for (const auto& [picture, extra, width, height, quadrants] : cases) {
        SCOPED_TRACE(picture + " " + ::testing::PrintToString(extra));
        Image image = rendered(picture, "Normal", extra);
        ASSERT_EQ(std::pair(image.width(), image.height()), std::pair(width, height));
        for (int q = 0; q < 4; ++q)
            EXPECT_TRUE(near(image.pixel(q % 2 ? width - 40 : 40, q / 2 ? height - 40 : 40),
                             quadrants[size_t(q)]))
                << "quadrant " << q;
    }
    // The middle half of a picture twice as wide is what the 640 x 480 one shows.
    Image wide(1280, 480), quadrants = quadrantPicture(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 1280; ++x)
            std::copy_n(quadrants.pixel(std::clamp(x - 320, 0, 639), y), 4, wide.pixel(x, y));
    ASSERT_TRUE(writePng(wide, path("wide.png")));
    EXPECT_EQ(rendered(path("wide.png"), "Normal").pixels(), rendered(input, "Normal").pixels());
    // Bulge magnifies around its centre: in the middle, where the quadrants meet, unless
    // --center moves it away; the middle given as --center is where it is without one.
    Image centred = rendered(input, "Bulge");
    EXPECT_EQ(rendered(input, "Bulge", {"--center", "0.5,0.5"}).pixels(), centred.pixels());
    Image moved = rendered(input, "Bulge", {"--center", "0.2,0.7"});
    long differing = 0;
    for (int y = 0; y < moved.height(); ++y)
        for (int x = 0; x < moved.width(); ++x)
            differing += colourDistance(moved.pixel(x, y), centred.pixel(x, y)) > 30;
    EXPECT_GT(differing, 1000);
}

TEST_F(RenderCommands, BadInputGetsAClearStatusAndNeverAPartialFile) {
    scratch.write("corrupt.png", "\x89PNG\r\n\x1a\n not really");
    fs::create_directories(dir / "locked");
    chmod((dir / "locked").c_str(), 0500);
    const std::string in = input, x = out, corrupt = path("corrupt.png");
    const std::pair<Args, int> cases[] = {
        {{"--filter", "Blur", "--input", in, "--output", x}, kExitUsage},
        {{"--filter", "16", "--input", in, "--output", x}, kExitUsage},
        {{"--input", in, "--output", x}, kExitUsage},
        {{"--filter", "Normal", "--output", x}, kExitUsage},
        {{"--filter", "Normal", "--input", in}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--camera", "side"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--rotation", "45"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--rotation", "-90"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--bogus", "1"}, kExitUsage},
        {{"--filter", "Bulge", "--input", in, "--output", x, "--center", "1.2,0"}, kExitUsage},
        {{"--filter", "Bulge", "--input", in, "--output", x, "--center", "0.5,x"}, kExitUsage},
        {{"--filter", "Normal", "--input", path("missing.png"), "--output", x}, kExitFailure},
        {{"--filter", "Normal", "--input", corrupt, "--output", x}, kExitFailure},
        {{"--filter", "Normal", "--input", in, "--output", path("no/such/x.png")}, kExitFailure},
    };
    for (const auto& [args, status] : cases)
        EXPECT_EQ(runRender(args), status) << ::testing::PrintToString(args);
    // Where writing is refused (root ignores the folder's mode), nothing is left there.
    if (access((dir / "locked").c_str(), W_OK) != 0) {
        std::string locked = path("locked/x.png");
        EXPECT_EQ(runRender({"--filter", "1", "--input", in, "--output", locked}), kExitFailure);
        EXPECT_TRUE(fs::is_empty(dir / "locked"));
    }
    EXPECT_EQ(runContactSheet({"--input", corrupt, "--output", x}), kExitFailure);
    EXPECT_EQ(runContactSheet({"--input", in}), kExitUsage);
    EXPECT_EQ(runContactSheet({"--output", x, "--rotation", "1"}), kExitUsage);
    // Only the inputs are left: no output and no temporary files.
    EXPECT_THAT(namesBut({"quadrants.png", "corrupt.png", "locked"}), IsEmpty());
}

TEST_F(RenderCommands, ContactSheetShowsSixteenPreviewsAtThePickersPlaces) {
    ASSERT_EQ(runContactSheet({"--input", input, "--output", out}), kExitOk);
    auto sheet = readFile(out);
    ASSERT_TRUE(sheet);
    ASSERT_EQ(std::pair(sheet->width(), sheet->height()), std::pair(1280, 416));
    // Every place filled, neither with the clear colour nor mostly black; the landscape picture
    // upright in each (144 x 108, centred), the four Normal slots that open the pages alike.
    for (int slot = 0; slot < 16; ++slot) {
        int x = 320 * (slot / 4) + (slot % 2 ? 165 : 11), y = slot % 4 < 2 ? 11 : 213;
        long cleared = 0, dark = 0;
        for (int dy = 42; dy < 42 + 108; dy += 4)
            for (int dx = 0; dx < 144; dx += 4) {
                cleared += near(sheet->pixel(x + dx, y + dy), {255, 0, 255}, 0);
                dark += near(sheet->pixel(x + dx, y + dy), {0, 0, 0}, 0);
            }
        EXPECT_EQ(cleared, 0) << "slot " << slot;
        EXPECT_LT(dark, 36 * 27 / 2) << "slot " << slot;
    }
    EXPECT_TRUE(near(sheet->pixel(11 + 20, 11 + 42 + 20), kRed));
    EXPECT_TRUE(near(sheet->pixel(11 + 124, 11 + 42 + 20), kGreen));
    EXPECT_TRUE(near(sheet->pixel(11 + 20, 11 + 42 + 88), kBlue));
    for (int page = 1; page < 4; ++page)
        for (int d : {20, 70, 130})
            EXPECT_EQ(colourDistance(sheet->pixel(11 + d, 11 + d),
                                     sheet->pixel(320 * page + 11 + d, 11 + d)),
                      0);
}

}  // namespace
}  // namespace quorbit::app
