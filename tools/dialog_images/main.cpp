// quorbit-dialog-images DIR: renders the web dialog's two pictures into DIR as fbicon.png and
// close.png (the resources folder's FBDialog.bundle/images holds the result).
#include <cstdio>
#include <filesystem>

#include "facebook/FBDialogArt.h"
#include "platform/gfx/ImageCodec.h"

int main(int argc, char** argv) {
    using namespace quorbit;
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorbit-dialog-images DIR\n");
        return 2;
    }
    std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (auto [name, image] : {std::pair{"fbicon.png", facebook::FBDialogArt::renderIcon()},
                               std::pair{"close.png", facebook::FBDialogArt::renderClose()}}) {
        if (auto written = platform::ImageCodec::writePng(image, dir / name); !written) {
            std::fprintf(stderr, "quorbit-dialog-images: %s\n",
                         written.error().localizedDescription().c_str());
            return 1;
        }
        std::printf("%s\n", (dir / name).c_str());
    }
    return 0;
}
