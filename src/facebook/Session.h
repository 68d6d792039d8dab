#pragma once

#include <memory>
#include <optional>
#include <string>

#include "facebook/FBConfiguration.h"
#include "facebook/Facebook.h"
#include "platform/core/UserDefaults.h"

namespace quorbit::facebook {

// The signed-in session kept across launches: the client's access token and expiry and the
// user's Facebook id, in the user-defaults store; restore() makes a client from them again.
class Session {
  public:
    static constexpr const char* kUserIdKey = "FBUserId";
    static constexpr const char* kAccessTokenKey = "FBAccessToken";
    static constexpr const char* kExpiresKey = "FBSessionExpires";

    // The application's store, and the app identifier and endpoints of the environment.
    Session();
    Session(platform::UserDefaults& store, FBConfiguration configuration);

    const std::shared_ptr<Facebook>& facebook() const { return _facebook; }
    void setFacebook(std::shared_ptr<Facebook> facebook) { _facebook = std::move(facebook); }
    const std::optional<std::string>& uid() const { return _uid; }
    void setUid(std::optional<std::string> uid) { _uid = std::move(uid); }

    void setSessionWithFacebook(std::shared_ptr<Facebook> facebook, std::optional<std::string> uid);
    // Writes what is there and removes what is not: the id and the token when non-empty,
    // the expiry when present.
    void save();
    // A client with the saved token and expiry; none when no id is saved or the saved
    // expiry has passed (the saved values are then left as they are).
    std::shared_ptr<Facebook> restore();
    void unsave();

  private:
    platform::UserDefaults& _store;
    FBConfiguration _configuration;
    std::shared_ptr<Facebook> _facebook;
    std::optional<std::string> _uid;
};

}  // namespace quorbit::facebook
