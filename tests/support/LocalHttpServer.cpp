#include "support/LocalHttpServer.h"

#include <chrono>
#include <stdexcept>

namespace quorbit::testing {

LocalHttpServer::LocalHttpServer() : _server(std::make_unique<httplib::Server>()) {
    // One request per connection: stopping never waits for an idle kept-alive connection.
    _server->set_keep_alive_max_count(1);
}

LocalHttpServer::LocalHttpServer(const std::string& certificate, const std::string& key)
    : _server(std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str())),
      _secure(true) {
    _server->set_keep_alive_max_count(1);
}

LocalHttpServer::~LocalHttpServer() {
    stop();
}

void LocalHttpServer::start() {
    _port = _server->bind_to_any_port("127.0.0.1");
    if (_port <= 0) throw std::runtime_error("cannot bind a test server on 127.0.0.1");
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

std::string LocalHttpServer::url(const std::string& path) const {
    return std::string(_secure ? "https" : "http") + "://127.0.0.1:" + std::to_string(_port) + path;
}

std::string LocalHttpServer::localhostUrl(const std::string& path) const {
    return std::string(_secure ? "https" : "http") + "://localhost:" + std::to_string(_port) + path;
}

}  // namespace quorbit::testing
