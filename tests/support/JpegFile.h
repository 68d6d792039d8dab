#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorbit::testing {

// What a JPEG file says about itself, read from its segments directly (not through the
// application's own encoder or decoder).
struct JpegFacts {
    int firstLuminanceQuant = 0;  // the DC entry of quantisation table 0
    bool exifFirst = false;       // the Exif APP1 segment directly follows the start of the image
    std::optional<int> orientation;               // Exif 0x0112
    std::optional<std::string> dateTimeOriginal;  // Exif 0x9003
};

// Nothing when the file cannot be read or is not a well-formed JPEG.
std::optional<JpegFacts> inspectJpeg(const std::filesystem::path& path);

}  // namespace quorbit::testing
