#include "support/JpegFile.h"

#include <cstdio>
#include <sstream>

#include "platform/core/Bundle.h"

namespace quorbit::testing {

std::map<std::string, std::string> exifTags(const std::filesystem::path& path) {
    std::map<std::string, std::string> tags;
    FILE* pipe = popen(("exiv2 -q -PEkyv '" + path.string() + "' 2>&1").c_str(), "r");
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe)) {
        // "Exif.Image.Model        Ascii      text"
        std::istringstream in(line);
        std::string key, type, value;
        std::getline(in >> key >> type >> std::ws, value);
        tags[key] = type + " " + value;
    }
    if (pipe) pclose(pipe);
    return tags;
}

std::optional<JpegFacts> inspectJpeg(const std::filesystem::path& path) {
    std::string bytes = platform::readFile(path).value_or("");
    auto byte = [&](size_t at) { return std::uint8_t(bytes[at]); };
    if (bytes.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return std::nullopt;
    JpegFacts facts;
    for (size_t at = 2; at + 4 <= bytes.size();
         at += 2 + (size_t(byte(at + 2)) << 8 | byte(at + 3))) {
        size_t length = size_t(byte(at + 2)) << 8 | byte(at + 3);
        if (byte(at) != 0xFF || length < 2 || at + 2 + length > bytes.size()) return std::nullopt;
        if (byte(at + 1) == 0xE1 && bytes.compare(at + 4, 6, std::string("Exif\0\0", 6)) == 0)
            facts.exifFirst = at == 2;
        if (byte(at + 1) == 0xDB && length > 3 && (byte(at + 4) & 0x0F) == 0)
            facts.firstLuminanceQuant = byte(at + 5);
        if (byte(at + 1) != 0xDA) continue;
        // The image data follows: the headers are whole.
        auto tags = exifTags(path);
        if (std::string o = tags["Exif.Image.Orientation"]; o.rfind("Short ", 0) == 0)
            facts.orientation = std::stoi(o.substr(6));
        if (std::string d = tags["Exif.Photo.DateTimeOriginal"]; d.rfind("Ascii ", 0) == 0)
            facts.dateTimeOriginal = d.substr(6);
        return facts;
    }
    return std::nullopt;
}

}  // namespace quorbit::testing
