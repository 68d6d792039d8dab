#pragma once

#include <concepts>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorbit::platform {

// The domain of the system's errno values, which errors carry as their underlying cause.
inline constexpr const char* kPosixErrorDomain = "quorbit.posix";

// The codes of an error domain: an enum class named after its area (FileError, UrlError),
// with a function errorDomain(Code) beside it (found by argument-dependent lookup) that names
// the domain, spelt "quorbit.AREA".
template <typename Code>
concept ErrorCode = std::is_enum_v<Code> && requires(Code code) {
    { errorDomain(code) } -> std::convertible_to<const char*>;
};

// An error object: a domain, an integer code, the readable message, texts that callers look
// up by name (the Facebook service's error fields, the URL that failed) and the error it
// wraps, if any.
struct Error {
    std::string domain;
    long code = 0;
    std::string message;
    std::map<std::string, std::string> userInfo;
    std::shared_ptr<const Error> underlying;

    static Error make(std::string domain, long code, std::string message) {
        return Error{std::move(domain), code, std::move(message), {}, nullptr};
    }

    // An error of a domain's own code.
    template <ErrorCode Code>
    static Error make(Code code, std::string description) {
        return make(errorDomain(code), static_cast<long>(code), std::move(description));
    }

    // An error of a domain's own code caused by a failed system call's errno (none when
    // errnum is 0).
    template <ErrorCode Code>
    static Error make(Code code, std::string description, int errnum) {
        Error error = make(code, std::move(description));
        if (errnum != 0) error.underlying = std::make_shared<const Error>(posix(errnum));
        return error;
    }

    // The system's own error for an errno value.
    static Error posix(int errnum) {
        return make(kPosixErrorDomain, errnum, std::strerror(errnum));
    }

    // Whether this is the error of that code (domain and number).
    template <ErrorCode Code>
    bool is(Code c) const {
        return code == static_cast<long>(c) && domain == errorDomain(c);
    }

    // The errno beneath this error, or 0 where no system call failed.
    int systemError() const {
        for (const Error* e = this; e; e = e->underlying.get()) {
            if (e->domain == kPosixErrorDomain) return static_cast<int>(e->code);
        }
        return 0;
    }

    // The message, or the domain and code where there is none.
    std::string localizedDescription() const {
        return message.empty() ? domain + " error " + std::to_string(code) : message;
    }
};

// Value-or-error result of a fallible call. Ignoring one ignores a failure, so the compiler
// warns where a result is dropped.
template <typename T>
class [[nodiscard]] Result {
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
class [[nodiscard]] Result<void> {
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
