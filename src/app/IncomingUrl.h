#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Error.h"
#include "platform/core/FileHandle.h"
#include "platform/core/RunLoop.h"

namespace quorbit::app {

inline constexpr const char* kIncomingUrlErrorDomain = "quorbit.incoming-url";

enum class IncomingUrlError : long {
    UnsafeFolder = 1,    // the socket's folder is not (and cannot be made) private to this user
    AlreadyRunning = 2,  // another instance holds the hand-off
    SocketFailed = 3,    // the socket could not be made, bound or reached
    NotOurUrl = 4,       // the URL is not one of this application's
    NoAnswer = 5,        // the running instance did not answer in time
};
constexpr const char* errorDomain(IncomingUrlError) {
    return kIncomingUrlErrorDomain;
}

// The hand-off of an incoming URL (the sign-in's return to the application, which carries
// an access token): `quorbit URL`, started by the desktop for our URL scheme, gives the URL
// to the running instance over a UNIX socket and exits.
//
// The socket lives in a folder only this user can enter ($XDG_RUNTIME_DIR/quorbit, else
// /tmp/quorbit-UID, mode 0700, owned by the user). The running instance holds a lock in that
// folder for its whole life, accepts only connections from its own user (SO_PEERCRED),
// reads one URL of at most kMaxUrlLength bytes per connection (ended by a newline or the end
// of the stream) within a second, and takes only URLs of its scheme, or kBringToFront. It serves
// connections as they come: sixteen at once, a newcomer taking the place of the one waiting
// longest. A socket left by an instance that died is replaced by the next one.
class IncomingUrl {
  public:
    static constexpr std::size_t kMaxUrlLength = 8192;
    // The message (in place of a URL) of a second launch: the running instance is asked to
    // bring its window to the front, and the launch ends.
    static constexpr const char* kBringToFront = "bring-to-front";
    // Answers whether the application took the URL. Runs on the main thread.
    using Handler = std::function<bool(const std::string& url)>;
    // Answers whether the window came to the front. Runs on the main thread.
    using FrontHandler = std::function<bool()>;

    // The private folder, made when missing and checked: a folder of this user, mode 0700.
    static platform::Result<std::filesystem::path> folder();
    // Whether text has the form of an absolute URL ("scheme:" and more), as `quorbit URL`
    // tells its argument from the others.
    static bool looksLikeUrl(std::string_view text);
    // Whether url is fit to hand over for scheme: bounded, no control characters, and
    // "scheme:" at its start (case-blind).
    static bool accepts(std::string_view url, const std::string& scheme);

    // The running instance's side: takes the lock, replaces a stale socket and listens.
    // AlreadyRunning when another instance holds the lock.
    static platform::Result<std::unique_ptr<IncomingUrl>> listen(std::string scheme);
    ~IncomingUrl();
    IncomingUrl(const IncomingUrl&) = delete;
    IncomingUrl& operator=(const IncomingUrl&) = delete;

    // Starts handing URLs to handler, and requests to come to the front to front, from the
    // main run loop.
    void start(Handler handler, FrontHandler front = {});
    const std::filesystem::path& socketPath() const { return _socketPath; }
    const std::string& scheme() const { return _scheme; }

    // `quorbit URL` (or a second launch, with kBringToFront for url): either the running
    // instance's answer (taken or not), or, when no instance runs, the listener with which
    // this process becomes the instance itself. An instance that closes the connection
    // unanswered or cannot be reached yet is tried again until wait is over (NoAnswer then).
    struct HandOff {
        std::optional<bool> taken;
        std::unique_ptr<IncomingUrl> listener;
    };
    static platform::Result<HandOff> handOff(
        const std::string& url, const std::string& scheme,
        std::chrono::milliseconds wait = std::chrono::seconds(5));

  private:
    struct Client;

    IncomingUrl() = default;
    void acceptClients();
    void readFrom(int fd);
    void finish(int fd, bool taken);

    std::string _scheme;
    std::filesystem::path _socketPath;
    platform::FileHandle _lock;    // holds the instance lock while open
    platform::FileHandle _listen;  // the listening socket, once bound
    platform::RunLoopHandle _watch;
    Handler _handler;
    FrontHandler _front;
    std::map<int, std::unique_ptr<Client>> _clients;
    std::uint64_t _accepted = 0;
};

}  // namespace quorbit::app
