#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/IncomingUrl.h"
#include "app/RenderCommands.h"
#include "app/quorbitAppDelegate.h"
#include "capture/Camera.h"
#include "capture/CameraCommandLine.h"
#include "facebook/FBConfiguration.h"
#include "json/JsonLog.h"
#include "platform/core/CommandLineParser.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Translate.h"
#include "platform/core/UserDefaults.h"
#include "platform/host/RunApplication.h"
#include "platform/host/ScriptRunner.h"
#include "screens/camera/quorbitViewController.h"
#include "screens/picker/FilterPickerController.h"

namespace {

using namespace quorbit;

int usage(std::FILE* out = stderr) {
    std::fprintf(
        out,
        "usage: quorbit [--camera SOURCE] [--scale N] [--size WxH] [--new-instance]\n"
        "       quorbit --headless [--script FILE] [--camera SOURCE] [--size WxH]\n"
        "       quorbit --list-cameras\n"
        "       quorbit render --filter NAME|SLOT --input IMAGE --output PNG "
        "[--camera back|front] [--center X,Y] [--rotation N]\n"
        "       quorbit contact-sheet [--input IMAGE] --output PNG [--camera back|front] "
        "[--rotation N]\n"
        "       quorbit URL            hand an incoming URL to the running instance\n"
        "       quorbit --version\n"
        "A launch with a window while Flurio runs brings that one to the front and ends;\n"
        "--new-instance starts another all the same (--headless runs never hand over).\n"
        "SOURCE: pipewire[:NAME], v4l2[:/dev/videoN],\n"
        "        synthetic[:front|:back][:rotation=N][:size=WxH] (stills up to WxH, at most\n"
        "        4000x3000) or image:PATH; QUORBIT_CAMERA_ROTATION=N replaces every camera's\n"
        "        rotation\n"
        "N (a rotation): 0, 90, 180 or 270, the clockwise turn that shows a camera's\n"
        "        frames upright; render and contact-sheet take their input as upright (0)\n");
    return app::kExitUsage;
}

constexpr const char* kKeysHelp =
    "keys:\n"
    "  Space, Return                  the shutter (starts the self-timer when one is set)\n"
    "  F                              opens the filters\n"
    "  1 ... 9, 0                     in the filters: the first ... tenth preview of the page\n"
    "  Left, Right, Page Up/Down      in the filters: the page before or after (so does the "
    "wheel)\n"
    "  Escape                         closes the filters, the share and settings screens, an\n"
    "                                 alert (its cancel button) and the sign-in dialog\n"
    "  T                              the self-timer: off, 3 s, 10 s\n"
    "  C                              switches the camera (with a front and a back camera)\n"
    "  F11                            full screen on and off\n"
    "  Ctrl+Q                         quits\n";

// The application: the camera screen on the chosen camera, under the application delegate.
// Incoming URLs (the sign-in's return) come through the hand-off socket and go to the
// application's openURL, as does pendingUrl once launched.
int runApplication(const platform::HostOptions& options,
                   std::unique_ptr<app::IncomingUrl> incoming = nullptr,
                   std::optional<std::string> pendingUrl = std::nullopt) {
    if (!incoming) {
        auto listener =
            app::IncomingUrl::listen(facebook::FBConfiguration::fromEnvironment().callbackScheme());
        if (listener) {
            incoming = std::move(listener.value());
        } else {
            platform::Log::info("incoming URLs go elsewhere: " +
                                listener.error().localizedDescription());
        }
    }
    app::quorbitAppDelegate delegate;
    delegate.setLaunchedHandler([&incoming, &pendingUrl] {
        auto handOver = [](const std::string& url) {
            return platform::Application::shared().openURL(url);
        };
        if (incoming)
            incoming->start(handOver,
                            [] { return platform::Application::shared().bringToFront(); });
        if (pendingUrl) {
            platform::RunLoop::main().post([url = *pendingUrl, handOver] {
                bool taken = handOver(url);
                platform::Log::info(std::string("handed the URL this run started with to the "
                                                "application") +
                                    (taken ? "" : ", which did not take it"));
            });
        }
    });
    return platform::runApplication(
        options,
        [&delegate]() -> std::shared_ptr<platform::ViewController> {
            auto context = platform::GLContext::create();
            if (!context) {
                std::fprintf(stderr, "quorbit: %s\n",
                             context.error().localizedDescription().c_str());
                return nullptr;
            }
            auto camera = std::make_shared<capture::Camera>();
            auto made = std::make_shared<camera_screen::quorbitViewController>(
                context.value(), camera, &platform::UserDefaults::standard());
            // A camera that is not available is a note on the live view, never an alert.
            std::weak_ptr<camera_screen::quorbitViewController> weak = made;
            auto show = [weak](const capture::CameraAvailability& availability) {
                if (auto s = weak.lock())
                    s->showCameraAvailability(availability.available, availability.reason);
            };
            camera->setAvailabilityHandler(show);
            show(camera->availability());
            auto picker = std::make_shared<picker::FilterPickerController>(*made);
            made->setFilterPicker(picker, picker.get());
            delegate.setViewController(made);
            return made;
        },
        &delegate.callbacks());
}

}  // namespace

int main(int argc, char** argv) {
    platform::startTranslations();
    json::JsonLog::setSink([](const std::string& line) { platform::Log::debug(line); });
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty()) {
        const std::string& command = args.front();
        std::vector<std::string> rest(args.begin() + 1, args.end());
        try {
            if (command == "render") return app::runRender(rest);
            if (command == "contact-sheet") return app::runContactSheet(rest);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "quorbit: out of memory\n");
            return app::kExitFailure;
        }
    }
    // The application's options, and beside them those of the camera and of the window.
    platform::CommandLineParser parser;
    bool help = false, version = false, newInstance = false;
    parser.addFlag("--help", "prints this help and ends (so does -h)", help);
    parser.addFlag("--version", "prints the version and ends", version);
    // One instance a session, since one camera serves one program: a launch while one runs
    // hands over to it, unless told otherwise (or headless, below).
    parser.addFlag("--new-instance", "starts another Flurio beside the running one", newInstance);
    capture::CameraCommandLine camera;
    camera.addOptions(parser);
    platform::HostOptions options;
    options.addOptions(parser);

    if (platform::CommandLineParser::asksForHelp(args)) {
        usage(stdout);
        std::printf("options:\n%s", parser.help().c_str());
        std::printf("commands of a --script FILE, one a line:\n%s",
                    platform::ScriptRunner::helpText().c_str());
        std::printf("%s", kKeysHelp);
        return 0;
    }
    auto operands = parser.parse(args);
    if (!operands) {
        std::fprintf(stderr, "quorbit: %s\n", operands.error().localizedDescription().c_str());
        return usage();
    }
    if (version) {
        std::printf("quorbit %s\n", QUORBIT_VERSION);
        return 0;
    }
    // `quorbit [OPTIONS] URL`: an incoming URL for the running instance; with none running,
    // this process becomes the application and takes the URL itself. Any other operand, or a
    // second one, has no place.
    std::optional<std::string> url;
    for (const std::string& operand : operands.value()) {
        if (url || !app::IncomingUrl::looksLikeUrl(operand)) {
            std::fprintf(stderr, "quorbit: %s\n",
                         platform::CommandLineParser::unknownArgument(operand)
                             .localizedDescription()
                             .c_str());
            return usage();
        }
        url = operand;
    }
    std::unique_ptr<app::IncomingUrl> incoming;
    std::optional<std::string> pendingUrl;
    if (url) {
        std::string scheme = facebook::FBConfiguration::fromEnvironment().callbackScheme();
        auto handOff = app::IncomingUrl::handOff(*url, scheme);
        if (!handOff) {
            std::fprintf(stderr, "quorbit: %s\n", handOff.error().localizedDescription().c_str());
            if (handOff.error().is(app::IncomingUrlError::NoAnswer)) {
                // Gave up: the URL (a sign-in coming back) stays with the user to open again.
                std::fprintf(stderr,
                             "quorbit: gave up handing the URL to the running Flurio; "
                             "the URL, to open again:\n");
                std::printf("%s\n", url->c_str());
            }
            return 1;
        }
        if (handOff->taken) {
            if (*handOff->taken) return 0;
            std::fprintf(stderr, "quorbit: the running Flurio did not take the URL\n");
            return 1;
        }
        incoming = std::move(handOff->listener);
        pendingUrl = url;
    }
    if (auto status = camera.finish()) {
        if (*status == app::kExitUsage) return usage();
        if (capture::Camera::abandonedCaptureThreads() > 0) {
            std::fflush(nullptr);
            std::_Exit(*status);
        }
        return *status;
    }
    // A windowed launch while an instance runs brings that one's window to the front and
    // ends. Headless runs (tests, scripts) never hand over, and a headless instance has no
    // window to bring: the launch then runs on its own.
    if (!pendingUrl && !newInstance && !options.headless) {
        std::string scheme = facebook::FBConfiguration::fromEnvironment().callbackScheme();
        auto handOff = app::IncomingUrl::handOff(app::IncomingUrl::kBringToFront, scheme);
        if (handOff && handOff->taken && *handOff->taken) {
            std::fprintf(stderr,
                         "quorbit: Flurio is running already and was brought to the front "
                         "(--new-instance starts another)\n");
            return 0;
        }
        if (handOff && handOff->listener) {
            incoming = std::move(handOff->listener);
        } else if (!handOff) {
            platform::Log::info("starting on its own: " + handOff.error().localizedDescription());
        }
    }
    int status = runApplication(options, std::move(incoming), std::move(pendingUrl));
    if (capture::Camera::abandonedCaptureThreads() > 0) {
        // A capture thread still caught in a device call must not see the process's static
        // objects destroyed under it: the process ends here, everything written already.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
