#pragma once

#include <chrono>
#include <limits>

namespace quorbit::facebook {

using Date = std::chrono::system_clock::time_point;

// The date that stands for "never expires": 1 January 2200, 00:00 UTC, late enough for any
// token and early enough for every clock and the settings file.
inline Date distantFuture() {
    return Date(std::chrono::seconds(7258118400LL));
}

// now plus a token lifetime in seconds, kept between 1970 and the distant future however
// large the number.
inline Date expiryAfter(Date now, long long lifetime) {
    long long nowSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    long long limit =
        std::chrono::duration_cast<std::chrono::seconds>(distantFuture().time_since_epoch())
            .count();
    if (lifetime >= limit - nowSeconds) return distantFuture();
    if (lifetime <= -nowSeconds) return Date{};
    return now + std::chrono::seconds(lifetime);
}

}  // namespace quorbit::facebook
