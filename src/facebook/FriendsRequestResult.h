#pragma once

#include <memory>
#include <vector>

#include "facebook/FBRequest.h"
#include "json/Value.h"

namespace quorbit::facebook {

// Hears the friends the FQL query found.
class FriendsRequestDelegate {
  public:
    virtual ~FriendsRequestDelegate() = default;
    virtual void FriendsRequestCompleteWithFriendsInfo(std::vector<json::Value> friends) = 0;
};

// The request delegate of the friends query: turns each row of the answer into a friend
// dictionary {"uid" (text), "name", "pic", "status"} and passes the list on. A failed
// query, or an answer that is not an array, ends silently.
class FriendsRequestResult {
  public:
    // delegate is not owned and must outlive this object.
    explicit FriendsRequestResult(FriendsRequestDelegate* delegate);
    ~FriendsRequestResult();
    FriendsRequestResult(const FriendsRequestResult&) = delete;
    FriendsRequestResult& operator=(const FriendsRequestResult&) = delete;

    std::weak_ptr<FBRequestDelegate> requestDelegate() const { return _requestDelegate; }

    // One friend dictionary from one row: "uid" as decimal text (a text uid as it is),
    // "name" unless null, "pic" from "pic_square", "status" as delivered; each only when
    // present. Rows that are not objects give nothing.
    static std::optional<json::Value> friendFromRow(const json::Value& row);

  private:
    FriendsRequestDelegate* _friendsRequestDelegate;
    std::shared_ptr<FBRequestDelegate> _requestDelegate;
};

}  // namespace quorbit::facebook
