// quorbit-artwork: renders the application's drawn artwork.
//
//   quorbit-artwork icons DIR         the application icon: DIR/hicolor/scalable/apps/quorbit.svg
//                                     and DIR/hicolor/NxN/apps/quorbit.png for N = 48 64 128 256
//   quorbit-artwork sheet PNG [SCALE] every control glyph in every state, the control bar and
//                                     the thumbnail, and the icon, on one sheet to look at
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/AppIcon.h"
#include "app/RenderCommands.h"
#include "platform/gfx/Canvas.h"
#include "platform/gfx/ImageCodec.h"
#include "screens/camera/ControlArt.h"

namespace {

using namespace quorbit;
using namespace quorbit::camera_screen;
using platform::Canvas;
using platform::Color;
using platform::Rect;
namespace fs = std::filesystem;

constexpr int kIconSizes[] = {48, 64, 128, 256};

int writeIcons(const fs::path& dir) {
    fs::path scalable = dir / "hicolor" / "scalable" / "apps";
    std::error_code ec;
    fs::create_directories(scalable, ec);
    if (auto svg = app::AppIcon::writeSvg(scalable / "quorbit.svg"); !svg) {
        std::fprintf(stderr, "%s\n", svg.error().localizedDescription().c_str());
        return 1;
    }
    for (int size : kIconSizes) {
        std::string folder = std::to_string(size) + "x" + std::to_string(size);
        fs::path apps = dir / "hicolor" / folder / "apps";
        fs::create_directories(apps, ec);
        if (auto png =
                platform::ImageCodec::writePng(app::AppIcon::render(size), apps / "quorbit.png");
            !png) {
            std::fprintf(stderr, "%s\n", png.error().localizedDescription().c_str());
            return 1;
        }
    }
    std::printf("%s\n", dir.c_str());
    return 0;
}

const char* glyphName(ControlArt::Glyph glyph) {
    static const char* names[] = {"shutter", "filters",  "switch",    "settings", "timer off",
                                  "timer 3", "timer 10", "flash off", "flash on", "photo"};
    return names[static_cast<int>(glyph)];
}

// A camera screen's control bar as it might be laid out, 320 x 53 points.
void drawBarMock(Canvas& canvas, double x, double y, const platform::Image& photo) {
    Rect bar(x, y, 320, 53);
    ControlArt::drawBar(canvas, bar);
    double mid = bar.midY();
    ControlArt::drawThumbnail(canvas, Rect(x + 12, mid - 18, 36, 36), &photo);
    ControlArt::drawGlyph(canvas, ControlArt::Glyph::Filters, Rect(x + 70, mid - 12, 24, 24));
    ControlArt::drawGlyph(canvas, ControlArt::Glyph::Shutter, Rect(x + 137, mid - 23, 46, 46));
    ControlArt::drawGlyph(canvas, ControlArt::Glyph::SwitchCamera, Rect(x + 226, mid - 12, 24, 24));
    ControlArt::drawGlyph(canvas, ControlArt::Glyph::Settings, Rect(x + 280, mid - 12, 24, 24));
}

int writeSheet(const fs::path& out, double scale) {
    const double width = 720, height = 880;
    Canvas canvas(int(width * scale), int(height * scale), scale);
    canvas.clear(Color{0.30, 0.31, 0.34, 1});
    platform::Font label = platform::Font::system(10);
    Color ink{0.9, 0.9, 0.9, 1};

    // The bar over a strip of "live view", and again with the thumbnail empty.
    platform::Image frame = app::builtinTestFrame();
    canvas.drawImage(frame, Rect(20, 10, 320, 40));
    drawBarMock(canvas, 20, 50, frame);
    ControlArt::drawBar(canvas, Rect(380, 50, 320, 53));
    ControlArt::drawThumbnail(canvas, Rect(392, 58.5, 36, 36), nullptr);
    ControlArt::drawThumbnail(canvas, Rect(450, 58.5, 36, 36), &frame,
                              ControlArt::ControlState::Pressed);
    ControlArt::drawGlyph(canvas, ControlArt::Glyph::Shutter, Rect(517, 53.5, 46, 46),
                          ControlArt::ControlState::Pressed);
    ControlArt::drawGlyph(canvas, ControlArt::Glyph::Shutter, Rect(590, 53.5, 46, 46),
                          ControlArt::ControlState::Disabled);

    // Every glyph: normal, pressed, disabled at 24 points, then 48 points, on the bar.
    double y = 130;
    int column = 0;
    for (auto glyph : ControlArt::kAllGlyphs) {
        double x = 20 + (column % 2) * 350;
        ControlArt::drawBar(canvas, Rect(x, y, 330, 80));
        canvas.drawText(glyphName(glyph), platform::Point{x + 6, y + 4}, label, ink);
        double gx = x + 12;
        for (auto state : {ControlArt::ControlState::Normal, ControlArt::ControlState::Pressed,
                           ControlArt::ControlState::Disabled}) {
            ControlArt::drawGlyph(canvas, glyph, Rect(gx, y + 36, 24, 24), state);
            gx += 34;
        }
        ControlArt::drawGlyph(canvas, glyph, Rect(gx + 6, y + 22, 48, 48));
        ControlArt::drawGlyph(canvas, glyph, Rect(gx + 70, y + 14, 64, 64));
        // Over a bright picture, as over the live view.
        canvas.drawImage(frame, Rect(gx + 150, y + 14, 64, 64));
        ControlArt::drawGlyph(canvas, glyph, Rect(gx + 158, y + 22, 48, 48));
        if (++column % 2 == 0) y += 90;
    }

    // The icon at its installed sizes.
    double x = 20;
    for (int size : kIconSizes) {
        canvas.drawImage(app::AppIcon::render(int(size * scale)),
                         Rect(x, height - 10 - size, size, size));
        x += size + 12;
    }
    auto written = platform::ImageCodec::writePng(canvas.toImage(), out);
    if (!written) {
        std::fprintf(stderr, "%s\n", written.error().localizedDescription().c_str());
        return 1;
    }
    std::printf("%s\n", out.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "icons" && argc == 3) return writeIcons(argv[2]);
    if (command == "sheet" && (argc == 3 || argc == 4))
        return writeSheet(argv[2], argc == 4 ? std::atof(argv[3]) : 2);
    std::fprintf(stderr,
                 "usage: quorbit-artwork icons DIR\n"
                 "       quorbit-artwork sheet PNG [SCALE]\n");
    return 2;
}
