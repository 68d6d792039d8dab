#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"

namespace quorbit::platform {

// Why a picture could not be read or written; the codes of the "quorbit.image" domain.
enum class ImageError : long {
    NotAnImage = 1,      // neither a PNG nor a JPEG signature
    OutOfMemory = 2,     // the pixels (or the decoder's working memory) could not be had
    CorruptPng = 3,      // a PNG that is damaged or cut short
    CorruptJpeg = 4,     // a JPEG that is damaged or cut short
    Unreadable = 5,      // the file could not be opened or read (see platform/core/Files.h)
    EmptyImage = 6,      // there is no picture to encode
    PngEncoding = 7,     // the PNG encoder failed
    JpegEncoding = 8,    // the JPEG encoder failed (or the Exif block is too long)
    WriteFailed = 9,     // the encoded file could not be written
    TooManyPixels = 10,  // more than ImageCodec::kMaxPixels
};
constexpr const char* errorDomain(ImageError) {
    return "quorbit.image";
}

// PNG (libpng) and JPEG (libjpeg-turbo) reading and writing. Errors are readable texts in the
// "quorbit.image" domain; nothing throws and corrupt input never crashes.
//
// Reading is bounded: a picture's size is checked from its header before any pixel memory
// is taken, and pictures of more than kMaxPixels are refused; so is a JPEG whose decoding
// needs more than kMaxJpegWorkingMemory (a multi-scan file keeps all its coefficients). A
// picture that is damaged or cut short (a truncated PNG or JPEG, a JPEG whose scan data is
// corrupt or missing) is an error, never a partly grey picture. CMYK and YCCK JPEGs are
// converted to RGB. Running out of memory is an error, not an exception.
namespace ImageCodec {

inline constexpr long kMaxPixels = 4096L * 4096L;  // 16.8 megapixels
inline constexpr std::uint64_t kMaxJpegWorkingMemory = std::uint64_t(112) << 20;
// Files: only regular files (see platform/core/Files.h) of at most this size.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t(128) << 20;

Result<Image> decode(const std::string& bytes);  // PNG or JPEG, told apart by signature
Result<Image> decodePng(const std::string& bytes);
Result<Image> decodeJpeg(const std::string& bytes);
// Reads the signature first, then the header, then the pixels, straight from the file.
Result<Image> readFile(const std::filesystem::path& path);
// readFile for a picture that is to be shown, small or not: a JPEG comes upright (turned and
// mirrored as its Exif orientation says) and is decoded at the smallest of
// libjpeg's scales n/8 (n = 1..8) whose longer side is still at least minSide pixels, so
// that a 4000 x 3000 photo asked for at 128 comes out 500 x 375 without the full picture
// ever being made; the pixel limit applies to the size decoded. A PNG comes whole.
// minSide <= 0 decodes at the full size.
Result<Image> readFileScaled(const std::filesystem::path& path, int minSide);

Result<std::string> encodePng(const Image& image);
// A PNG text chunk (tEXt): its keyword (1 to 79 bytes) and its text.
using PngText = std::pair<std::string, std::string>;
// With the text chunks given, before the pixels.
Result<std::string> encodePng(const Image& image, const std::vector<PngText>& text);
// The tEXt chunks that come before a PNG's pixels, in file order; none for bytes that are
// not a PNG. Reads no pixels.
std::vector<PngText> pngTextChunks(std::string_view bytes);
// JPEG drops alpha; quality 1..100. A non-empty app1 (at most 65533 bytes, an Exif block for
// instance) is written as the APP1 segment right after the start of the image, in place of
// the JFIF header.
Result<std::string> encodeJpeg(const Image& image, int quality = 90, const std::string& app1 = {});

// Encodes and writes through a temporary file and a rename: never a partial file. The path
// must be absent or a regular file; a symbolic link is followed and its target replaced (the
// link stays); anything else (a device, a FIFO, a directory) is refused untouched.
Result<void> writePng(const Image& image, const std::filesystem::path& path);

}  // namespace ImageCodec
}  // namespace quorbit::platform
