#include "support/JpegFile.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace quorbit::testing {
namespace {

// A TIFF block in either byte order.
struct Tiff {
    std::string data;
    bool big = true;

    bool has(size_t at, size_t n) const { return at + n <= data.size(); }
    std::uint32_t u16(size_t at) const {
        auto b0 = std::uint8_t(data[at]), b1 = std::uint8_t(data[at + 1]);
        return big ? (b0 << 8 | b1) : (b1 << 8 | b0);
    }
    std::uint32_t u32(size_t at) const {
        return big ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at));
    }
    // The offset of the 12-byte entry of tag in the directory at ifd.
    std::optional<size_t> find(size_t ifd, std::uint32_t tag) const {
        if (!has(ifd, 2)) return std::nullopt;
        std::uint32_t count = u16(ifd);
        for (std::uint32_t i = 0; i < count; ++i) {
            size_t entry = ifd + 2 + 12 * i;
            if (!has(entry, 12)) return std::nullopt;
            if (u16(entry) == tag) return entry;
        }
        return std::nullopt;
    }
};

void readExif(const std::string& payload, JpegFacts& facts) {
    if (payload.compare(0, 6, std::string("Exif\0\0", 6)) != 0) return;
    Tiff tiff{payload.substr(6)};
    if (!tiff.has(0, 8)) return;
    if (tiff.data.compare(0, 2, "II") == 0)
        tiff.big = false;
    else if (tiff.data.compare(0, 2, "MM") != 0)
        return;
    if (tiff.u16(2) != 42) return;
    size_t ifd0 = tiff.u32(4);
    if (auto e = tiff.find(ifd0, 0x0112); e && tiff.u16(*e + 2) == 3)
        facts.orientation = tiff.u16(*e + 8);
    auto pointer = tiff.find(ifd0, 0x8769);
    if (!pointer) return;
    auto e = tiff.find(tiff.u32(*pointer + 8), 0x9003);
    if (!e || tiff.u16(*e + 2) != 2) return;
    std::uint32_t count = tiff.u32(*e + 4);
    size_t at = tiff.u32(*e + 8);  // the date is longer than four bytes: kept elsewhere
    if (count == 0 || !tiff.has(at, count)) return;
    facts.dateTimeOriginal = tiff.data.substr(at, count - 1);
}

}  // namespace

std::optional<JpegFacts> inspectJpeg(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto byte = [&](size_t at) { return std::uint8_t(bytes[at]); };
    if (bytes.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return std::nullopt;
    JpegFacts facts;
    size_t at = 2;
    bool first = true;
    while (at + 4 <= bytes.size()) {
        if (byte(at) != 0xFF) return std::nullopt;
        int marker = byte(at + 1);
        size_t length = size_t(byte(at + 2)) << 8 | byte(at + 3);
        if (length < 2 || at + 2 + length > bytes.size()) return std::nullopt;
        std::string payload = bytes.substr(at + 4, length - 2);
        if (marker == 0xE1 && payload.compare(0, 6, std::string("Exif\0\0", 6)) == 0) {
            facts.exifFirst = first;
            readExif(payload, facts);
        }
        if (marker == 0xDB && !payload.empty() && (payload[0] & 0x0F) == 0)
            facts.firstLuminanceQuant = std::uint8_t(payload[1]);
        if (marker == 0xDA) return facts;  // image data follows
        at += 2 + length;
        first = false;
    }
    return std::nullopt;
}

}  // namespace quorbit::testing
