// libFuzzer target for the query parsing of the Facebook client's sign-in URLs. Every value
// that comes out is UTF-8, every key is a piece of the input without "&" or "=", and a
// parameter written back with the client's own escaping reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "facebook/FBUrl.h"
#include "platform/core/Text.h"

namespace {

namespace FBUrl = quorbit::facebook::FBUrl;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto params = FBUrl::parseParams(text);
    for (const auto& [key, value] : params) {
        check(FBUrl::isValidUtf8(value));
        check(key.find('&') == std::string::npos && key.find('=') == std::string::npos);
        check(text.find(key + "=") != std::string_view::npos);
        auto again = FBUrl::parseParams(key + "=" + quorbit::platform::percentEncode(value));
        check(again.size() == 1 && again.begin()->second == value);
    }
    // Escaping is undone exactly, for any UTF-8 text.
    if (FBUrl::isValidUtf8(text))
        check(FBUrl::unescape(quorbit::platform::percentEncode(text)) == std::string(text));
    return 0;
}
