// libFuzzer target for the URL with which a sign-in comes back to the application. A URL
// that does not start with this application's prefix changes nothing; a sign-in has a
// non-empty UTF-8 token and an expiry between 1970 and the distant future.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "facebook/FBCallbackUrl.h"
#include "facebook/FBUrl.h"

namespace {

using quorbit::facebook::Date;
using quorbit::facebook::FBCallbackUrl;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view url(reinterpret_cast<const char*>(data), size);
    const Date now = Date(std::chrono::seconds(1'700'000'000));
    FBCallbackUrl callback = FBCallbackUrl::interpret(url, "123", now);
    bool ours = url.substr(0, 17) == "fb123://authorize";
    check(ours == (callback.outcome != FBCallbackUrl::Outcome::NotForThisApp));
    if (callback.outcome == FBCallbackUrl::Outcome::LoggedIn) {
        check(!callback.token.empty());
        check(quorbit::facebook::FBUrl::isValidUtf8(callback.token));
        check(callback.expiry >= Date{} && callback.expiry <= quorbit::facebook::distantFuture());
    } else {
        check(callback.token.empty());
    }
    return 0;
}
