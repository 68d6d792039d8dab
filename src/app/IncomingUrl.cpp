#include "app/IncomingUrl.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/core/Log.h"
#include "platform/core/Text.h"

namespace quorbit::app {

namespace fs = std::filesystem;
using platform::Error;
using platform::Log;

namespace {

// A connection that has not sent its URL within this is closed.
constexpr auto kReadDeadline = std::chrono::seconds(1);
// Connections served at once; one more takes the place of the longest-waiting.
constexpr size_t kMaxClients = 16;
constexpr int kBacklog = 64;
constexpr const char* kSocketName = "incoming.sock";
constexpr const char* kLockName = "instance.lock";

Error failure(IncomingUrlError code, std::string description) {
    return Error::make(code, std::move(description));
}

Error failure(IncomingUrlError code, const std::string& what, int error) {
    return Error::make(code, what + ": " + std::strerror(error), error);
}

bool fillAddress(const fs::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

// Writes all of text, waiting at most until deadline; false when it could not.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

struct IncomingUrl::Client {
    platform::FileHandle socket;
    std::string buffer;
    platform::RunLoopHandle watch;
    platform::RunLoopHandle deadline;
    std::uint64_t serial = 0;  // the order of arrival
};

platform::Result<fs::path> IncomingUrl::folder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    fs::path path = runtime && *runtime == '/'
                        ? fs::path(runtime) / "quorbit"
                        : fs::path("/tmp") / ("quorbit-" + std::to_string(geteuid()));
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return failure(IncomingUrlError::UnsafeFolder, "cannot make " + path.native(), errno);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return failure(IncomingUrlError::UnsafeFolder, "cannot look at " + path.native(), errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        return failure(
            IncomingUrlError::UnsafeFolder,
            path.native() + " is not a folder of this user; not handing URLs over through it");
    }
    if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0)
        return failure(IncomingUrlError::UnsafeFolder, "cannot make " + path.native() + " private",
                       errno);
    return path;
}

bool IncomingUrl::looksLikeUrl(std::string_view text) {
    size_t colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon + 1 == text.size()) return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

bool IncomingUrl::accepts(std::string_view url, const std::string& scheme) {
    if (url.size() > kMaxUrlLength || scheme.empty() || url.size() <= scheme.size()) return false;
    for (char c : url) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return false;
    }
    if (url[scheme.size()] != ':') return false;
    return platform::lower(url.substr(0, scheme.size())) == platform::lower(scheme);
}

platform::Result<std::unique_ptr<IncomingUrl>> IncomingUrl::listen(std::string scheme) {
    auto dir = folder();
    if (!dir) return dir.error();
    std::unique_ptr<IncomingUrl> listener(new IncomingUrl());
    listener->_scheme = std::move(scheme);
    listener->_socketPath = dir.value() / kSocketName;

    fs::path lockPath = dir.value() / kLockName;
    listener->_lock.reset(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!listener->_lock)
        return failure(IncomingUrlError::SocketFailed, "cannot open " + lockPath.native(), errno);
    if (flock(listener->_lock.fd(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return failure(IncomingUrlError::AlreadyRunning, "another instance is running");
        return failure(IncomingUrlError::SocketFailed, "cannot lock " + lockPath.native(), errno);
    }

    sockaddr_un address;
    if (!fillAddress(listener->_socketPath, address))
        return failure(IncomingUrlError::SocketFailed,
                       listener->_socketPath.native() + " is too long for a socket");
    // Holding the lock, whatever sits at the socket's name was left by an instance that died.
    struct stat st {};
    if (lstat(listener->_socketPath.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return failure(IncomingUrlError::SocketFailed,
                           listener->_socketPath.native() + " is a folder");
        unlink(listener->_socketPath.c_str());
        Log::info("replaced the hand-off socket left by an earlier run");
    }
    platform::FileHandle listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listening) return failure(IncomingUrlError::SocketFailed, "cannot make a socket", errno);
    if (bind(listening.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return failure(IncomingUrlError::SocketFailed,
                       "cannot bind " + listener->_socketPath.native(), errno);
    // Bound: the socket's name is this instance's now, and goes with it.
    listener->_listen = std::move(listening);
    chmod(listener->_socketPath.c_str(), 0600);
    if (::listen(listener->_listen.fd(), kBacklog) != 0)
        return failure(IncomingUrlError::SocketFailed,
                       "cannot listen on " + listener->_socketPath.native(), errno);
    return listener;
}

IncomingUrl::~IncomingUrl() {
    _clients.clear();
    _watch.reset();
    // The name goes before the socket closes and the lock is let go (the members, in that
    // order), so that it never names the socket of an instance started meanwhile.
    if (_listen) unlink(_socketPath.c_str());
}

void IncomingUrl::start(Handler handler, FrontHandler front) {
    _handler = std::move(handler);
    _front = std::move(front);
    if (_watch) return;
    _watch = platform::RunLoop::main().watch(_listen.fd(), platform::RunLoop::Readable,
                                             [this](short) { acceptClients(); });
}

void IncomingUrl::acceptClients() {
    for (;;) {
        platform::FileHandle peerSocket(
            accept4(_listen.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!peerSocket) {
            if (errno == EINTR) continue;
            return;  // EAGAIN: nobody else waiting
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(peerSocket.fd(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != geteuid()) {
            Log::warn("refused a hand-off connection from another user");
            continue;
        }
        if (_clients.size() >= kMaxClients) {
            // Every place is taken (by peers that send nothing, most likely): the one that has
            // waited longest makes way, so that a newcomer is always served.
            auto oldest = _clients.begin();
            for (auto it = _clients.begin(); it != _clients.end(); ++it) {
                if (it->second->serial < oldest->second->serial) oldest = it;
            }
            Log::warn("too many hand-off connections at once; closed the one waiting longest");
            finish(oldest->first, false);
        }
        int fd = peerSocket.fd();
        auto client = std::make_unique<Client>();
        client->socket = std::move(peerSocket);
        client->serial = ++_accepted;
        platform::RunLoop& loop = platform::RunLoop::main();
        client->watch =
            loop.watch(fd, platform::RunLoop::Readable, [this, fd](short) { readFrom(fd); });
        client->deadline = loop.timer(kReadDeadline, [this, fd] {
            Log::warn("a hand-off connection sent no URL in time");
            finish(fd, false);
        });
        _clients[fd] = std::move(client);
    }
}

void IncomingUrl::readFrom(int fd) {
    auto it = _clients.find(fd);
    if (it == _clients.end()) return;
    Client& client = *it->second;
    char chunk[2048];
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    bool ended = n <= 0;
    if (n > 0) client.buffer.append(chunk, static_cast<size_t>(n));
    size_t newline = client.buffer.find('\n');
    if (newline == std::string::npos && !ended) {
        if (client.buffer.size() > kMaxUrlLength) {
            Log::warn("refused a hand-off longer than a URL may be");
            finish(fd, false);
        }
        return;
    }
    std::string url = client.buffer.substr(0, newline);
    if (!url.empty() && url.back() == '\r') url.pop_back();
    if (url == kBringToFront) {
        bool raised = _front && _front();
        Log::info(raised ? "another launch handed over; the window came to the front"
                         : "another launch asked for a window to bring to the front; there is "
                           "none, so it runs on its own");
        finish(fd, raised);
        return;
    }
    if (!accepts(url, _scheme)) {
        Log::info("ignored a handed-over URL that is not for " + _scheme + ":");
        finish(fd, false);
        return;
    }
    bool taken = _handler && _handler(url);
    Log::info(std::string("handed an incoming ") + _scheme + ": URL to the application" +
              (taken ? "" : ", which did not take it"));
    finish(fd, taken);
}

void IncomingUrl::finish(int fd, bool taken) {
    auto it = _clients.find(fd);
    if (it == _clients.end()) return;
    writeAll(fd, taken ? "ok\n" : "no\n");
    _clients.erase(it);  // closes the connection
}

platform::Result<IncomingUrl::HandOff> IncomingUrl::handOff(const std::string& url,
                                                            const std::string& scheme,
                                                            std::chrono::milliseconds wait) {
    if (url != kBringToFront && !accepts(url, scheme))
        return failure(IncomingUrlError::NotOurUrl, "not a URL for " + scheme + ":");
    auto dir = folder();
    if (!dir) return dir.error();
    sockaddr_un address;
    if (!fillAddress(dir.value() / kSocketName, address))
        return failure(IncomingUrlError::SocketFailed, "the socket's path is too long");

    using Clock = std::chrono::steady_clock;
    auto end = Clock::now() + wait;
    for (;;) {
        platform::FileHandle connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int fd = connection.fd();
        if (!connection)
            return failure(IncomingUrlError::SocketFailed, "cannot make a socket", errno);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            // The answer may take what is left of the wait (at least a moment).
            auto left =
                std::max<Clock::duration>(end - Clock::now(), std::chrono::milliseconds(100));
            auto micros = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
            timeval timeout{static_cast<time_t>(micros / 1000000),
                            static_cast<suseconds_t>(micros % 1000000)};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
            bool sent = writeAll(fd, url + "\n");
            shutdown(fd, SHUT_WR);
            char reply[8] = {};
            ssize_t n = sent ? recv(fd, reply, sizeof reply - 1, MSG_WAITALL) : -1;
            connection.reset();
            if (n >= 2) {
                HandOff result;
                result.taken = std::string_view(reply, 3) == "ok\n";
                return result;
            }
            // Closed on without an answer (the instance was busy with other connections):
            // again, until the wait is over.
            if (Clock::now() >= end)
                return failure(IncomingUrlError::NoAnswer, "the running instance did not answer");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        int error = errno;
        connection.reset();
        if (error == EAGAIN && Clock::now() < end) {
            // The instance's queue of connections is full: again in a moment.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (error != ENOENT && error != ECONNREFUSED)
            return failure(IncomingUrlError::SocketFailed, "cannot reach the running instance",
                           error);
        // Nobody listens: become the instance, unless one is just starting.
        auto listener = listen(scheme);
        if (listener) {
            HandOff result;
            result.listener = std::move(listener.value());
            return result;
        }
        if (!listener.error().is(IncomingUrlError::AlreadyRunning)) return listener.error();
        if (std::chrono::steady_clock::now() >= end)
            return failure(IncomingUrlError::NoAnswer, "the running instance does not listen");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace quorbit::app
