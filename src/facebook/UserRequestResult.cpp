#include "facebook/UserRequestResult.h"

#include "platform/core/Log.h"

namespace quorbit::facebook {

UserRequestResult::UserRequestResult(UserRequestDelegate* delegate)
    : _userRequestDelegate(delegate), _requestDelegate(std::make_shared<FBRequestDelegate>()) {
    _requestDelegate->didLoad = [this](FBRequest&, const FBResult& result) {
        _userRequestDelegate->userRequestCompleteWithResult(result);
    };
    _requestDelegate->didFailWithError = [this](FBRequest&, const platform::Error& error) {
        platform::Log::info(error.localizedDescription());
        _userRequestDelegate->userRequestFailed(error);
    };
}

UserRequestResult::~UserRequestResult() {
    platform::Log::debug("dealloc UserRequestResult begin");
    _requestDelegate.reset();
    platform::Log::debug("dealloc UserRequestResult end");
}

}  // namespace quorbit::facebook
