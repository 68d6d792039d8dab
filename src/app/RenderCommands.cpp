#include "app/RenderCommands.h"

#include <SDL2/SDL.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <span>

#include "capture/ImageDevice.h"
#include "gpu/FrameDrawing.h"
#include "platform/core/CommandLineParser.h"
#include "platform/gfx/ImageCodec.h"
#include "screens/camera/quorbitViewController.h"
#include "screens/picker/PreviewGrid.h"

namespace quorbit::app {
namespace {

using platform::Image;

constexpr int kFrameWidth = capture::CaptureDevice::kFrameWidth;
constexpr int kFrameHeight = capture::CaptureDevice::kFrameHeight;

struct UsageError {
    std::string message;
};

// --help (or -h) anywhere among the arguments; carries the command's options, one a line.
struct HelpWanted {
    std::string options;
};

// An option of the tools: each takes one value and may be given once.
struct ToolOption {
    const char* name;
    const char* value;  // its name in the help
    const char* help;
};

constexpr ToolOption kInput = {"--input", "IMAGE", "the picture (PNG or JPEG), taken as upright"};
constexpr ToolOption kOutput = {"--output", "PNG", "where the picture made is written"};
constexpr ToolOption kCamera = {"--camera", "back|front",
                                "the camera the input stands for (back unless given)"};
constexpr ToolOption kRotation = {
    "--rotation", "N", "takes the input as a camera frame of rotation 0, 90, 180 or 270"};
constexpr ToolOption kRenderOptions[] = {
    {"--filter", "NAME|SLOT", "the filter, by its name or its slot from 0 to 15"},
    kInput,
    kOutput,
    kCamera,
    {"--center", "X,Y",
     "the distortions' centre, across and down, each 0 to 1 (0.5,0.5 unless given)"},
    kRotation,
};
constexpr ToolOption kContactSheetOptions[] = {
    {"--input", "IMAGE",
     "the picture (PNG or JPEG), taken as upright (the test frame unless given)"},
    kOutput,
    kCamera,
    kRotation,
};

// The options' values by name.
std::map<std::string, std::string> parseOptions(const std::vector<std::string>& args,
                                                std::span<const ToolOption> known) {
    std::map<std::string, std::string> options;
    platform::CommandLineParser parser;
    for (const ToolOption& option : known) {
        parser.add({option.name, option.value, option.help,
                    [&options, name = option.name](const std::string& value) {
                        options[name] = value;
                        return std::optional<std::string>();
                    }});
    }
    if (platform::CommandLineParser::asksForHelp(args)) throw HelpWanted{parser.help()};
    auto operands = parser.parse(args);
    if (!operands) throw UsageError{operands.error().localizedDescription()};
    if (!operands->empty())
        throw UsageError{
            platform::CommandLineParser::unknownArgument(operands->front()).localizedDescription()};
    return options;
}

std::string required(const std::map<std::string, std::string>& options, const char* name) {
    auto it = options.find(name);
    if (it == options.end() || it->second.empty()) throw UsageError{std::string("missing ") + name};
    return it->second;
}

int cameraTypeOption(const std::map<std::string, std::string>& options) {
    auto it = options.find("--camera");
    if (it == options.end() || it->second == "back") return capture::kCameraBack;
    if (it->second == "front") return capture::kCameraFront;
    throw UsageError{"--camera takes back or front, not '" + it->second + "'"};
}

// --center X,Y: the distortion centre in the view's normalised coordinates (x across, y down),
// each from 0 to 1; the middle without the option.
platform::Point centreOption(const std::map<std::string, std::string>& options) {
    auto it = options.find("--center");
    if (it == options.end()) return gpu::kViewCentre;
    const std::string& text = it->second;
    auto bad = [&] {
        return UsageError{"--center takes X,Y with each from 0 to 1, not '" + text + "'"};
    };
    auto comma = text.find(',');
    if (comma == std::string::npos) throw bad();
    auto number = [&](const std::string& part) {
        if (part.empty() || part.size() > 32) throw bad();
        std::size_t used = 0;
        double value = 0;
        try {
            value = std::stod(part, &used);
        } catch (const std::exception&) {
            throw bad();
        }
        if (used != part.size() || !(value >= 0 && value <= 1)) throw bad();
        return value;
    };
    return {number(text.substr(0, comma)), number(text.substr(comma + 1))};
}

// --rotation N: how the input is mounted, as a sensor's frame (0, 90, 180 or 270); 0, an
// upright picture, without the option.
int rotationOption(const std::map<std::string, std::string>& options) {
    auto it = options.find("--rotation");
    if (it == options.end()) return 0;
    if (auto rotation = capture::parseRotation(it->second)) return *rotation;
    throw UsageError{"--rotation takes 0, 90, 180 or 270, not '" + it->second + "'"};
}

// The input as a camera frame of the given rotation: 640 x 480, or 480 x 640 for a portrait
// picture, so that the picture is cropped no more than a camera's 4:3 frame needs.
struct InputFrame {
    std::vector<std::uint8_t> pixels;
    int width = 0, height = 0;

    explicit InputFrame(const Image& picture) {
        bool portrait = picture.height() > picture.width();
        width = portrait ? kFrameHeight : kFrameWidth;
        height = portrait ? kFrameWidth : kFrameHeight;
        pixels = capture::cameraFrameFromPicture(picture, width, height);
    }
};

// Size fitted into box with the aspect of the frame as shown upright: the box as it stands
// when their shapes agree (both portrait or both landscape), else the box turned, scaled
// down to fit when fit is set.
platform::Size shownSize(const InputFrame& frame, int rotation, platform::Size box, bool fit) {
    platform::Size upright = gpu::uprightSize(frame.width, frame.height, rotation);
    bool landscape = upright.width > upright.height;
    if (landscape == (box.width > box.height)) return box;
    platform::Size turned{box.height, box.width};
    if (!fit) return turned;
    double scale = std::min(box.width / turned.width, box.height / turned.height);
    return {std::round(turned.width * scale), std::round(turned.height * scale)};
}

class FixedCamera : public capture::CameraTypeSource {
  public:
    explicit FixedCamera(int type) : _type(type) {}
    int curCameraType() const override { return _type; }

  private:
    int _type;
};

std::optional<Image> loadInput(const std::map<std::string, std::string>& options, bool optional) {
    auto it = options.find("--input");
    if (it == options.end() && optional) return builtinTestFrame();
    std::string path = required(options, "--input");
    auto image = platform::ImageCodec::readFile(path);
    if (!image) {
        std::fprintf(stderr, "quorbit: %s\n", image.error().localizedDescription().c_str());
        return std::nullopt;
    }
    return std::move(image).value();
}

std::shared_ptr<platform::GLContext> makeOffscreenContext() {
    // The tools draw into textures only: SDL's offscreen driver needs no display.
    if (!SDL_WasInit(SDL_INIT_VIDEO) && !SDL_getenv("SDL_VIDEODRIVER"))
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    auto context = platform::GLContext::create();
    if (!context) {
        std::fprintf(stderr, "quorbit: %s\n", context.error().localizedDescription().c_str());
        return nullptr;
    }
    return context.value();
}

int writeOutput(const Image& image, const std::string& path) {
    auto written = platform::ImageCodec::writePng(image, path);
    if (!written) {
        std::fprintf(stderr, "quorbit: %s\n", written.error().localizedDescription().c_str());
        return kExitFailure;
    }
    std::printf("%s\n", path.c_str());
    return kExitOk;
}

// A filter whose program could not be built would give a picture of the clear colour: the
// tools fail instead, naming the filter and why.
bool filterBuilt(const gpu::ProgramList& programs, size_t slot) {
    if (programs[slot] && programs[slot]->program()) return true;
    std::fprintf(stderr, "quorbit: the filter %s (slot %zu) cannot be used: %s\n",
                 gpu::kFilterSlotNames[slot], slot,
                 programs[slot] ? programs[slot]->buildFailure().c_str() : "no program");
    return false;
}

std::string knownFilters() {
    std::string list;
    for (const auto& name : gpu::distinctFilterNames())
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

int usage(const UsageError& error, const char* synopsis) {
    std::fprintf(stderr, "quorbit: %s\nusage: %s\n", error.message.c_str(), synopsis);
    return kExitUsage;
}

int help(const char* synopsis, const HelpWanted& wanted) {
    std::printf("usage: %s\noptions:\n%s", synopsis, wanted.options.c_str());
    return kExitOk;
}

}  // namespace

Image builtinTestFrame() {
    Image image(kFrameWidth, kFrameHeight);
    const std::uint8_t quadrant[4][3] = {
        {230, 40, 40}, {40, 200, 60}, {40, 70, 230}, {240, 220, 40}};
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            auto* p = image.pixel(x, y);
            int q = (y >= kFrameHeight / 2) * 2 + (x >= kFrameWidth / 2);
            for (int c = 0; c < 3; ++c)
                p[c] = quadrant[q][c];
            p[3] = 255;
            // A grey ramp along the bottom and fine stripes along the top.
            if (y >= 440) {
                std::uint8_t v = std::uint8_t(x * 255 / (kFrameWidth - 1));
                p[0] = p[1] = p[2] = v;
            } else if (y < 24 && (x / 4) % 2 == 0) {
                p[0] = p[1] = p[2] = 16;
            }
            double dx = x - 320.0, dy = y - 240.0;
            double r = std::sqrt(dx * dx + dy * dy);
            if (r < 90) {
                double t = r / 90;
                p[0] = std::uint8_t(255 - 40 * t);
                p[1] = std::uint8_t(245 - 80 * t);
                p[2] = std::uint8_t(230 - 120 * t);
            } else if (r < 96) {
                p[0] = p[1] = p[2] = 20;
            }
        }
    }
    return image;
}

int runRender(const std::vector<std::string>& args) {
    const char* synopsis =
        "quorbit render --filter NAME|SLOT --input IMAGE --output PNG [--camera back|front] "
        "[--center X,Y] [--rotation 0|90|180|270]";
    std::map<std::string, std::string> options;
    int slot = 0, cameraType = 0, rotation = 0;
    platform::Point centre = gpu::kViewCentre;
    std::string output;
    try {
        options = parseOptions(args, kRenderOptions);
        std::string filter = required(options, "--filter");
        auto found = gpu::slotFromName(filter);
        if (!found) {
            throw UsageError{"unknown filter '" + filter + "'; known filters: " + knownFilters() +
                             ", or a slot number from 0 to 15"};
        }
        slot = *found;
        required(options, "--input");
        output = required(options, "--output");
        cameraType = cameraTypeOption(options);
        centre = centreOption(options);
        rotation = rotationOption(options);
    } catch (const UsageError& error) {
        return usage(error, synopsis);
    } catch (const HelpWanted& wanted) {
        return help(synopsis, wanted);
    }
    auto picture = loadInput(options, false);
    if (!picture) return kExitFailure;
    auto context = makeOffscreenContext();
    if (!context) return kExitFailure;

    InputFrame input(*picture);
    capture::PixelBuffer frame(input.pixels.data(), input.width, input.height, rotation);
    camera_screen::quorbitViewController screen(context, std::make_shared<FixedCamera>(cameraType));
    if (!filterBuilt(screen.programArray(), size_t(slot))) return kExitFailure;
    // The live view turned to the picture's shape, keeping its long side.
    platform::Rect live = screen.glview()->frame();
    screen.glview()->setFrame({live.origin, shownSize(input, rotation, live.size, false)});
    screen.glview()->deleteFramebuffer();
    screen.setFilter(screen.programArray()[size_t(slot)].get());
    screen.setDistortionCentre(centre);
    screen.processNewCameraFrame(frame);
    Image still = gpu::readFramebufferImage(*screen.glview());
    return writeOutput(still, output);
}

int runContactSheet(const std::vector<std::string>& args) {
    const char* synopsis =
        "quorbit contact-sheet [--input IMAGE] --output PNG [--camera back|front] "
        "[--rotation 0|90|180|270]";
    std::map<std::string, std::string> options;
    std::string output;
    int cameraType = 0, rotation = 0;
    try {
        options = parseOptions(args, kContactSheetOptions);
        output = required(options, "--output");
        cameraType = cameraTypeOption(options);
        rotation = rotationOption(options);
    } catch (const UsageError& error) {
        return usage(error, synopsis);
    } catch (const HelpWanted& wanted) {
        return help(synopsis, wanted);
    }
    auto picture = loadInput(options, true);
    if (!picture) return kExitFailure;
    auto context = makeOffscreenContext();
    if (!context) return kExitFailure;

    InputFrame input(*picture);
    capture::PixelBuffer frame(input.pixels.data(), input.width, input.height, rotation);
    gpu::ProgramList programs = gpu::createFilterPrograms();
    for (size_t slot = 0; slot < programs.size(); ++slot) {
        if (!filterBuilt(programs, slot)) return kExitFailure;
    }
    picker::PreviewGrid grid(context, programs, nullptr);
    // Each preview fitted into its place in the picture's shape, centred.
    for (size_t slot = 0; slot < grid.glViews().size(); ++slot) {
        platform::Rect place = picker::previewFrameForSlot(int(slot));
        platform::Size size = shownSize(input, rotation, place.size, true);
        grid.glViews()[slot]->setFrame(
            {{place.x() + std::floor((place.width() - size.width) / 2),
              place.y() + std::floor((place.height() - size.height) / 2)},
             size});
        grid.glViews()[slot]->deleteFramebuffer();
    }
    grid.drawFrame(frame, cameraType);

    int pages = picker::pageCountFor(int(programs.size()));
    Image sheet(int(picker::kPageWidth) * pages, 416);
    for (size_t i = 0; i < sheet.pixels().size(); i += 4)
        sheet.pixels()[i + 3] = 255;
    for (size_t slot = 0; slot < grid.glViews().size(); ++slot) {
        Image preview = gpu::readFramebufferImage(*grid.glViews()[slot]);
        platform::Rect place = grid.glViews()[slot]->frame();
        for (int y = 0; y < preview.height(); ++y) {
            std::copy_n(preview.pixel(0, y), size_t(preview.width()) * 4,
                        sheet.pixel(int(place.x()), int(place.y()) + y));
        }
    }
    return writeOutput(sheet, output);
}

}  // namespace quorbit::app
