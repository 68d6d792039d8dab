#pragma once

#include <memory>

#include "facebook/FBRequest.h"

namespace quorbit::facebook {

// Hears how the "me" request ended.
class UserRequestDelegate {
  public:
    virtual ~UserRequestDelegate() = default;
    virtual void userRequestCompleteWithResult(const FBResult& result) = 0;
    virtual void userRequestFailed(const platform::Error& error) = 0;
};

// The request delegate of the "me" request: passes the result on, and on failure logs the
// error's description and reports the failure.
class UserRequestResult {
  public:
    // delegate is not owned and must outlive this object.
    explicit UserRequestResult(UserRequestDelegate* delegate);
    ~UserRequestResult();
    UserRequestResult(const UserRequestResult&) = delete;
    UserRequestResult& operator=(const UserRequestResult&) = delete;

    // What to give the request as its delegate (it hears nothing once this object is gone).
    std::weak_ptr<FBRequestDelegate> requestDelegate() const { return _requestDelegate; }

  private:
    UserRequestDelegate* _userRequestDelegate;
    std::shared_ptr<FBRequestDelegate> _requestDelegate;
};

}  // namespace quorbit::facebook
