#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>

namespace quorbit::platform {

// An error object: a domain, an integer code, a user-information dictionary of texts and
// the error it wraps, if any. The readable message is the "NSLocalizedDescription" entry.
struct Error {
    static constexpr const char* kDescriptionKey = "NSLocalizedDescription";

    std::string domain;
    long code = 0;
    std::map<std::string, std::string> userInfo;
    std::shared_ptr<const Error> underlying;

    static Error make(std::string domain, long code, std::string description) {
        Error error{std::move(domain), code, {}, nullptr};
        error.userInfo[kDescriptionKey] = std::move(description);
        return error;
    }

    std::string localizedDescription() const {
        auto it = userInfo.find(kDescriptionKey);
        return it == userInfo.end() ? domain + " error " + std::to_string(code) : it->second;
    }
};

// Value-or-error result of a fallible platform call.
template <typename T>
class Result {
  public:
    Result(T value) : _state(std::move(value)) {}
    Result(Error error) : _state(std::move(error)) {}

    bool ok() const { return _state.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(_state); }
    const T& value() const& { return std::get<0>(_state); }
    T&& value() && { return std::get<0>(std::move(_state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const Error& error() const { return std::get<1>(_state); }

  private:
    std::variant<T, Error> _state;
};

template <>
class Result<void> {
  public:
    Result() = default;
    Result(Error error) : _error(std::make_shared<Error>(std::move(error))) {}

    bool ok() const { return !_error; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *_error; }

  private:
    std::shared_ptr<Error> _error;
};

}  // namespace quorbit::platform
