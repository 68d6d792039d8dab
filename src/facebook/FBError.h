#pragma once

#include <string>

#include "platform/core/Error.h"

namespace quorbit::facebook {

// The domain of errors the Facebook client makes from the service's answers and dialogs.
inline constexpr const char* kFacebookErrorDomain = "quorbit.facebook";

// Codes of the domain. Beside these, an error carries the service's own "error_code"
// number where the service gave one.
enum class FacebookError : long {
    Generic = 10000,  // the service refused or could not complete the operation
};
constexpr const char* errorDomain(FacebookError) {
    return kFacebookErrorDomain;
}

}  // namespace quorbit::facebook
