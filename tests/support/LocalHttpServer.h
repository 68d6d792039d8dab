#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

namespace quorbit::testing {

// An HTTP server on 127.0.0.1 (a free port) for network tests, served on its own threads.
// Register handlers on server() before start(); they run off the main thread.
class LocalHttpServer {
  public:
    LocalHttpServer();
    // HTTPS with the given certificate and key files.
    LocalHttpServer(const std::string& certificate, const std::string& key);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& server() { return *_server; }
    void start();
    void stop();
    int port() const { return _port; }
    // "http://127.0.0.1:PORT" followed by path (https for the secure server).
    std::string url(const std::string& path = "/") const;
    // The same with "localhost" as the host: a second host name for the same server.
    std::string localhostUrl(const std::string& path = "/") const;

  private:
    std::unique_ptr<httplib::Server> _server;
    std::thread _thread;
    int _port = 0;
    bool _secure = false;
};

}  // namespace quorbit::testing
