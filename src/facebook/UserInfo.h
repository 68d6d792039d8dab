#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "facebook/Facebook.h"
#include "facebook/FriendsRequestResult.h"
#include "facebook/UserRequestResult.h"
#include "json/Value.h"

namespace quorbit::facebook {

// Hears whether the user's information arrived.
class UserInfoLoadDelegate {
  public:
    virtual ~UserInfoLoadDelegate() = default;
    virtual void userInfoDidLoad() = 0;
    virtual void userInfoFailToLoad() = 0;
};

// Who the signed-in user is (Graph "me": name and id), and on request the user's friends
// (an FQL query). After requestAllInfo() exactly one of userInfoDidLoad or
// userInfoFailToLoad follows when the "me" request ends.
class UserInfo : public UserRequestDelegate, public FriendsRequestDelegate {
  public:
    UserInfo(std::shared_ptr<Facebook> facebook, std::weak_ptr<UserInfoLoadDelegate> delegate);
    ~UserInfo() override;
    UserInfo(const UserInfo&) = delete;
    UserInfo& operator=(const UserInfo&) = delete;

    void requestAllInfo();
    void requestUid();
    // Needs uid.
    void requestFriendsDetail();

    const std::optional<std::string>& name() const { return _name; }
    const std::optional<std::string>& uid() const { return _uid; }
    const std::vector<json::Value>& friendsList() const { return _friendsList; }
    const std::vector<json::Value>& friendsInfo() const { return _friendsInfo; }
    const std::shared_ptr<Facebook>& facebook() const { return _facebook; }
    std::weak_ptr<UserInfoLoadDelegate> userInfoDelegate() const { return _userInfoDelegate; }
    void setUserInfoDelegate(std::weak_ptr<UserInfoLoadDelegate> d) {
        _userInfoDelegate = std::move(d);
    }

    // The "me" answer: name and id; an answer that is not an object counts as a failure.
    void userRequestCompleteWithResult(const FBResult& result) override;
    void userRequestFailed(const platform::Error& error) override;
    // Whether the last "me" request failed because the service turned the sign-in down
    // (isSignInRejected); a network failure, a time-out or a server fault is not that.
    bool signInRejected() const { return _signInRejected; }
    void FriendsRequestCompleteWithFriendsInfo(std::vector<json::Value> friends) override;

  private:
    std::optional<std::string> _name;
    std::optional<std::string> _uid;
    bool _signInRejected = false;
    std::vector<json::Value> _friendsList;
    std::vector<json::Value> _friendsInfo;
    std::shared_ptr<Facebook> _facebook;
    std::unique_ptr<UserRequestResult> userRequestResult;
    std::unique_ptr<FriendsRequestResult> friendsRequestResult;
    std::weak_ptr<UserInfoLoadDelegate> _userInfoDelegate;
};

}  // namespace quorbit::facebook
