#include "facebook/FriendsRequestResult.h"

#include "json/JsonConveniences.h"
#include "platform/core/Log.h"

namespace quorbit::facebook {

FriendsRequestResult::FriendsRequestResult(FriendsRequestDelegate* delegate)
    : _friendsRequestDelegate(delegate), _requestDelegate(std::make_shared<FBRequestDelegate>()) {
    _requestDelegate->didLoad = [this](FBRequest&, const FBResult& result) {
        if (!result.value || !result.value->isArray()) return;
        std::vector<json::Value> friends;
        for (const json::Value& row : result.value->items()) {
            if (auto f = friendFromRow(row)) friends.push_back(std::move(*f));
        }
        _friendsRequestDelegate->FriendsRequestCompleteWithFriendsInfo(std::move(friends));
    };
}

FriendsRequestResult::~FriendsRequestResult() {
    platform::Log::debug("dealloc FriendsRequestResult begin");
    _requestDelegate.reset();
    platform::Log::debug("dealloc FriendsRequestResult end");
}

std::optional<json::Value> FriendsRequestResult::friendFromRow(const json::Value& row) {
    if (!row.isObject()) return std::nullopt;
    json::Value f = json::Value::object();
    if (const json::Value* uid = row.find("uid")) {
        if (uid->isString()) {
            f.set("uid", *uid);
        } else if (uid->isNumber()) {
            f.set("uid", json::JSONFragment(*uid).value_or(""));
        }
    }
    if (const json::Value* name = row.find("name"); name && name->isString()) f.set("name", *name);
    if (const json::Value* pic = row.find("pic_square"); pic && !pic->isNull()) f.set("pic", *pic);
    if (const json::Value* status = row.find("status")) f.set("status", *status);
    return f;
}

}  // namespace quorbit::facebook
