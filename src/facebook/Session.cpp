#include "facebook/Session.h"

namespace quorbit::facebook {

Session::Session()
    : Session(platform::UserDefaults::standard(), FBConfiguration::fromEnvironment()) {}

Session::Session(platform::UserDefaults& store, FBConfiguration configuration)
    : _store(store), _configuration(std::move(configuration)) {}

void Session::setSessionWithFacebook(std::shared_ptr<Facebook> facebook,
                                     std::optional<std::string> uid) {
    setFacebook(std::move(facebook));
    setUid(std::move(uid));
}

void Session::save() {
    if (_uid && !_uid->empty()) {
        _store.setString(kUserIdKey, *_uid);
    } else {
        _store.removeObjectForKey(kUserIdKey);
    }
    const std::optional<std::string> token =
        _facebook ? _facebook->accessToken() : std::optional<std::string>();
    if (token && !token->empty()) {
        _store.setString(kAccessTokenKey, *token);
    } else {
        _store.removeObjectForKey(kAccessTokenKey);
    }
    const std::optional<Date> expiry =
        _facebook ? _facebook->expirationDate() : std::optional<Date>();
    if (expiry) {
        _store.setDate(kExpiresKey, *expiry);
    } else {
        _store.removeObjectForKey(kExpiresKey);
    }
    _store.synchronize();
}

std::shared_ptr<Facebook> Session::restore() {
    std::optional<std::string> uid = _store.stringForKey(kUserIdKey);
    if (!uid) return nullptr;
    std::optional<Date> expiry = _store.dateForKey(kExpiresKey);
    if (expiry && *expiry <= std::chrono::system_clock::now()) return nullptr;
    _uid = uid;
    _facebook = Facebook::create(_configuration.appId, _configuration);
    _facebook->setAccessToken(_store.stringForKey(kAccessTokenKey));
    _facebook->setExpirationDate(expiry);
    return _facebook;
}

void Session::unsave() {
    _store.removeObjectForKey(kUserIdKey);
    _store.removeObjectForKey(kAccessTokenKey);
    _store.removeObjectForKey(kExpiresKey);
    _store.synchronize();
}

}  // namespace quorbit::facebook
