#include "facebook/UserInfo.h"

#include "json/JsonConveniences.h"
#include "platform/core/Log.h"

namespace quorbit::facebook {
namespace {

// A text value as it is, a number as its text; nothing for other values.
std::optional<std::string> textOf(const json::Value* value) {
    if (!value) return std::nullopt;
    if (value->isString()) return std::string(value->asString());
    if (value->isNumber()) return json::JSONFragment(*value);
    return std::nullopt;
}

}  // namespace

UserInfo::UserInfo(std::shared_ptr<Facebook> facebook, std::weak_ptr<UserInfoLoadDelegate> delegate)
    : _facebook(std::move(facebook)),
      userRequestResult(std::make_unique<UserRequestResult>(this)),
      friendsRequestResult(std::make_unique<FriendsRequestResult>(this)),
      _userInfoDelegate(std::move(delegate)) {}

UserInfo::~UserInfo() {
    platform::Log::debug("dealloc UserInfo begin");
    userRequestResult.reset();
    friendsRequestResult.reset();
    _facebook.reset();
    platform::Log::debug("dealloc UserInfo end");
}

void UserInfo::requestAllInfo() {
    requestUid();
}

void UserInfo::requestUid() {
    _facebook->requestWithGraphPath("me", userRequestResult->requestDelegate());
}

void UserInfo::requestFriendsDetail() {
    std::string query = "SELECT uid, name, pic_square, status FROM user WHERE uid IN (";
    query += "SELECT uid2 FROM friend WHERE uid1 = " + _uid.value_or("") + ")";
    auto params = std::make_shared<FBParams>(FBParams{{"query", query}});
    _facebook->requestWithMethodName("fql.query", params, "POST",
                                     friendsRequestResult->requestDelegate());
}

void UserInfo::userRequestCompleteWithResult(const FBResult& result) {
    if (!result.value || !result.value->isObject()) {
        platform::Log::info("the user's information is not an object");
        userRequestFailed(platform::makeUrlError(platform::UrlError::BadServerResponse,
                                                 "the user's information is not an object"));
        return;
    }
    _signInRejected = false;
    _name = textOf(result.value->find("name"));
    _uid = textOf(result.value->find("id"));
    if (auto d = _userInfoDelegate.lock()) d->userInfoDidLoad();
}

void UserInfo::userRequestFailed(const platform::Error& error) {
    _signInRejected = isSignInRejected(error);
    if (auto d = _userInfoDelegate.lock()) d->userInfoFailToLoad();
}

void UserInfo::FriendsRequestCompleteWithFriendsInfo(std::vector<json::Value> friends) {
    _friendsInfo = std::move(friends);
    if (auto d = _userInfoDelegate.lock()) d->userInfoDidLoad();
}

}  // namespace quorbit::facebook
