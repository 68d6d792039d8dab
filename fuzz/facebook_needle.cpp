// libFuzzer target for reading a value out of a dialog's redirect URL. The input is a needle,
// a NUL byte, then the URL. A value is found only where the needle occurs, comes from the
// text between the needle and the next "&", and is UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "facebook/FBUrl.h"

namespace {

namespace FBUrl = quorbit::facebook::FBUrl;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    if (split == std::string_view::npos) return 0;
    std::string_view needle = input.substr(0, split);
    std::string_view url = input.substr(split + 1);
    auto value = FBUrl::valueForNeedle(url, needle);
    if (needle.empty() || url.find(needle) == std::string_view::npos) {
        check(!value);
        return 0;
    }
    if (!value) return 0;
    check(FBUrl::isValidUtf8(*value));
    std::string_view raw = url.substr(url.find(needle) + needle.size());
    raw = raw.substr(0, raw.find('&'));
    check(FBUrl::unescape(raw) == value);
    check(value->size() <= raw.size());
    return 0;
}
