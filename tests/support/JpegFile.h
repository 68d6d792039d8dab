#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace quorbit::testing {

// What a JPEG file says about itself, read from its segments and by a photo tool (exiv2), not
// through the application's own encoder or decoder.
struct JpegFacts {
    int firstLuminanceQuant = 0;  // the DC entry of quantisation table 0
    bool exifFirst = false;       // the Exif APP1 segment directly follows the start of the image
    std::optional<int> orientation;               // Exif 0x0112, a SHORT
    std::optional<std::string> dateTimeOriginal;  // Exif 0x9003, ASCII
};

// Nothing when the file cannot be read or is not a well-formed JPEG.
std::optional<JpegFacts> inspectJpeg(const std::filesystem::path& path);

// The Exif tags as exiv2 reads them: each tag's key and its type and value ("Short 1").
std::map<std::string, std::string> exifTags(const std::filesystem::path& path);

}  // namespace quorbit::testing
