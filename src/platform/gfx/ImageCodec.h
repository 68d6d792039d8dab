#pragma once

#include <filesystem>
#include <string>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"

namespace quorbit::platform {

// PNG (libpng) and JPEG (libjpeg-turbo) reading and writing. Errors are readable texts in the
// "quorbit.image" domain; nothing throws and corrupt input never crashes.
namespace ImageCodec {

Result<Image> decode(const std::string& bytes);  // PNG or JPEG, told apart by signature
Result<Image> decodePng(const std::string& bytes);
Result<Image> decodeJpeg(const std::string& bytes);
Result<Image> readFile(const std::filesystem::path& path);

Result<std::string> encodePng(const Image& image);
// JPEG drops alpha; quality 1..100. A non-empty app1 (at most 65533 bytes, an Exif block for
// instance) is written as the APP1 segment right after the start of the image, in place of
// the JFIF header.
Result<std::string> encodeJpeg(const Image& image, int quality = 90, const std::string& app1 = {});

// Encodes and writes through a temporary file and a rename: never a partial file.
Result<void> writePng(const Image& image, const std::filesystem::path& path);

}  // namespace ImageCodec
}  // namespace quorbit::platform
