// libFuzzer target for picture reading. The bytes become a file that is read through
// ImageCodec::readFile, the entry render, contact-sheet and the image camera use (signature,
// header, then pixels, straight from the file). Whatever is read must be a whole picture
// within the pixel limit; whatever fails must say why; and the same bytes decoded from memory
// must give the same answer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/gfx/ImageCodec.h"

namespace {

namespace ImageCodec = quorbit::platform::ImageCodec;

void check(bool condition) {
    if (!condition) std::abort();
}

// One file in memory, rewritten for each input.
int memoryFile() {
    static int fd = memfd_create("fuzz-image", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = memoryFile();
    check(fd >= 0);
    check(ftruncate(fd, 0) == 0);
    check(pwrite(fd, data, size, 0) == ssize_t(size));
    auto image = ImageCodec::readFile("/proc/self/fd/" + std::to_string(fd));
    if (image) {
        check(image->width() > 0 && image->height() > 0);
        check(long(image->width()) * long(image->height()) <= ImageCodec::kMaxPixels);
        check(image->pixels().size() == std::size_t(image->width()) * image->height() * 4);
    } else {
        check(!image.error().localizedDescription().empty());
    }
    auto fromMemory = ImageCodec::decode(std::string(reinterpret_cast<const char*>(data), size));
    check(fromMemory.ok() == image.ok());
    if (image) check(fromMemory->pixels() == image->pixels());
    return 0;
}
