#include "support/LocalHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "platform/core/Text.h"

namespace quorbit::testing {

LocalHttpServer::LocalHttpServer(const std::string& certificate, const std::string& key)
    : _server(certificate.empty()
                  ? std::make_unique<httplib::Server>()
                  : std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str())),
      _secure(!certificate.empty()) {
    // One request per connection: stopping never waits for an idle kept-alive connection.
    _server->set_keep_alive_max_count(1);
}

void LocalHttpServer::start(const std::string& host) {
    _host = host;
    _port = _server->bind_to_any_port(host);
    if (_port <= 0) throw std::runtime_error("cannot bind a test server on " + host);
    _thread = std::thread([this] { _server->listen_after_bind(); });
    // stop() only reaches a server whose loop has begun.
    while (!_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LocalHttpServer::stop() {
    if (!_thread.joinable()) return;
    _server->stop();
    _thread.join();
}

std::string LocalHttpServer::url(const std::string& host, const std::string& path) const {
    return (_secure ? "https://" : "http://") + host + ":" + std::to_string(_port) + path;
}

RawHttpServer::RawHttpServer(std::string bytes, const std::string& host)
    : RawHttpServer([bytes](int socket, const std::string&,
                            const std::atomic<bool>&) { send(socket, bytes); },
                    host) {}

RawHttpServer::RawHttpServer(Answer answer, const std::string& host)
    : _answer(std::move(answer)), _host(host) {
    _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    if (bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(_fd, 16) != 0) {
        close(_fd);
        throw std::runtime_error("cannot bind a raw test server on " + host);
    }
    socklen_t length = sizeof address;
    getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &length);
    _port = ntohs(address.sin_port);
    _thread = std::thread([this] {
        while (!_stopping) {
            pollfd watch{_fd, POLLIN, 0};
            if (poll(&watch, 1, 50) <= 0) continue;
            int client = accept4(_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            // The request: its header, then as many body bytes as it announces.
            pollfd in{client, POLLIN, 0};
            std::string request;
            char buffer[65536];
            ssize_t got;
            while (!_stopping && poll(&in, 1, 2000) > 0 &&
                   (got = read(client, buffer, sizeof buffer)) > 0) {
                request.append(buffer, size_t(got));
                size_t end = request.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                std::string head = platform::lower(request.substr(0, end + 2));
                size_t at = head.find("\r\ncontent-length:");
                size_t want =
                    at == std::string::npos ? 0 : std::strtoul(&head[at + 17], nullptr, 10);
                if (request.size() >= end + 4 + want) break;
            }
            std::unique_lock lock(_mutex);
            _requests.push_back(request);
            lock.unlock();
            _answer(client, request, _stopping);
            shutdown(client, SHUT_RDWR);
            close(client);
        }
    });
}

RawHttpServer::~RawHttpServer() {
    _stopping = true;
    _thread.join();
    close(_fd);
}

std::string RawHttpServer::url(const std::string& path) const {
    return "http://" + _host + ":" + std::to_string(_port) + path;
}

std::vector<std::string> RawHttpServer::requests() const {
    std::lock_guard lock(_mutex);
    return _requests;
}

void RawHttpServer::send(int socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += size_t(n);
    }
}

}  // namespace quorbit::testing
