// What opening the album costs on a large folder: the album screen in a window of SDL's
// offscreen driver over a folder of photos of 4000 x 3000 (one JPEG under many names, so
// that each name is a photo of its own to the thumbnail cache), with a thumbnail cache of its
// own. It measures, in one run:
//
//   - cold (an empty cache): the time from opening the album until the thumbnails in view are
//     drawn, then until every photo of the folder has its thumbnail in the cache;
//   - warm (the cache filled): the time from opening the album again until the thumbnails in
//     view are drawn;
//   - throughout, the longest time the main thread did not turn (a frame time): the
//     interface must never stall while thumbnails are made behind it.
//
// usage: bench_album_open [--photos N]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "../BenchSupport.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/Thumbnails.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "screens/album/AlbumViewController.h"

namespace {

using namespace quorbit;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A 4000 x 3000 photo with detail everywhere, as a camera's would be.
std::string bigJpeg() {
    platform::Image image(4000, 3000);
    for (int y = 0; y < 3000; ++y)
        for (int x = 0; x < 4000; ++x) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = std::uint8_t(x * 7 + y), p[1] = std::uint8_t(y * 3 ^ x),
            p[2] = std::uint8_t(x ^ y);
            p[3] = 255;
        }
    return platform::ImageCodec::encodeJpeg(image, 92).value();
}

std::size_t cacheEntries(const fs::path& cache) {
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(cache / "thumbnails" / "normal", ec);
         !ec && it != fs::directory_iterator(); ++it)
        ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    int photos = 1000;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--photos") == 0 && i + 1 < argc) photos = std::atoi(argv[++i]);
    char pattern[] = "/tmp/quorbit-album-bench-XXXXXX";
    fs::path scratch = mkdtemp(pattern);
    fs::path folder = scratch / "photos", cache = scratch / "cache";
    fs::create_directories(folder);
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    {
        std::string jpeg = bigJpeg();
        std::FILE* out = std::fopen((folder / "IMG_00000.jpg").c_str(), "wb");
        std::fwrite(jpeg.data(), 1, jpeg.size(), out);
        std::fclose(out);
        for (int i = 1; i < photos; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%05d.jpg", i);
            fs::create_hard_link(folder / "IMG_00000.jpg", folder / name);
        }
        std::printf("%d photos of 4000 x 3000 (%zu KB each) in %s\n", photos, jpeg.size() / 1024,
                    folder.c_str());
    }

    auto host = bench::headlessHost();
    platform::RunLoop& loop = platform::RunLoop::main();
    auto window = std::make_shared<platform::Window>();
    window->makeKeyAndVisible();
    host->install(loop);

    // The main thread's turns: a timer every 10 ms notes the longest gap between two.
    double longest = 0;
    Clock::time_point last = Clock::now();
    platform::RunLoopHandle ticker = loop.timer(
        std::chrono::milliseconds(10),
        [&] {
            longest = std::max(longest, msSince(last));
            last = Clock::now();
        },
        std::chrono::milliseconds(10));

    // Opens a new album over the folder; the time until the cells in view show thumbnails
    // and the window has been drawn with them.
    auto open = [&](std::shared_ptr<album::AlbumViewController>& album) {
        album = std::make_shared<album::AlbumViewController>(folder);
        album->setClipFolder(folder);
        auto start = Clock::now();
        last = start;
        window->setRootViewController(album);
        auto visibleShown = [&] {
            platform::Rect view = album->grid()->bounds();
            for (const auto& cell : album->cells())
                if (!cell->frame().intersection(view).isEmpty() &&
                    cell->cellState() == album::AlbumCell::State::Loading)
                    return false;
            return true;
        };
        loop.runUntil([&] { return visibleShown(); }, std::chrono::seconds(60));
        std::uint64_t drawn = host->framesDrawn();
        loop.runUntil([&] { return host->framesDrawn() > drawn; }, std::chrono::seconds(5));
        return msSince(start);
    };

    // The compositor's and the fonts' own start (programs compiled, fonts found), which the
    // application has paid before its album opens, come before any measuring.
    {
        auto blank = std::make_shared<platform::ViewController>();
        auto label = std::make_shared<platform::Label>(platform::Rect(0, 0, 200, 40));
        label->setText("Album");
        blank->view()->addSubview(label);
        window->setRootViewController(blank);
        std::uint64_t drawn = host->framesDrawn();
        loop.runUntil([&] { return host->framesDrawn() > drawn; }, std::chrono::seconds(10));
        window->setRootViewController(nullptr);
    }
    std::shared_ptr<album::AlbumViewController> cold, warm;
    double coldVisible = open(cold);
    double coldStall = longest;
    longest = 0;
    auto start = Clock::now();
    loop.runUntil([&] { return cacheEntries(cache) >= std::size_t(photos); },
                  std::chrono::seconds(600));
    double coldAll = msSince(start) + coldVisible;
    double fillStall = longest;
    window->setRootViewController(nullptr);
    cold.reset();
    longest = 0;
    double warmVisible = open(warm);

    std::printf(
        "cold: thumbnails in view drawn after %.0f ms (goal 1500), all %zu in the cache "
        "after %.1f s (goal 60)\n",
        coldVisible, cacheEntries(cache), coldAll / 1000);
    std::printf("warm: thumbnails in view drawn after %.0f ms (goal 300)\n", warmVisible);
    std::printf(
        "longest main-thread turn: %.0f ms while opening cold, %.0f ms while the rest "
        "were made, %.0f ms opening warm (goal under 50)\n",
        coldStall, fillStall, longest);
    window->setRootViewController(nullptr);
    warm.reset();
    fs::remove_all(scratch);
    return 0;
}
