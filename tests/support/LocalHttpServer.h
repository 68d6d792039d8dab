#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorbit::testing {

// An HTTP server on 127.0.0.1 (a free port) for network tests, served on its own threads.
// Register handlers on server() before start(); they run off the main thread.
class LocalHttpServer {
  public:
    // HTTPS when given certificate and key files.
    explicit LocalHttpServer(const std::string& certificate = "", const std::string& key = "");
    ~LocalHttpServer() { stop(); }

    httplib::Server& server() { return *_server; }
    // Listens on host (a loopback address: 127.0.0.2 stands for a second machine).
    void start(const std::string& host = "127.0.0.1");
    void stop();
    // "http://127.0.0.1:PORT" followed by path (https for the secure server); the same with
    // "localhost" as the host: a second host name for the same server.
    std::string url(const std::string& path = "/") const { return url(_host, path); }
    std::string localhostUrl(const std::string& path = "/") const { return url("localhost", path); }

  private:
    std::string url(const std::string& host, const std::string& path) const;
    std::unique_ptr<httplib::Server> _server;
    std::thread _thread;
    std::string _host = "127.0.0.1";
    int _port = 0;
    bool _secure = false;
};

// A server that speaks whatever bytes the test writes: for answers no well-behaved HTTP
// library sends (a short Content-Length, a body cut off, a trickle). Each connection's
// request (header and a Content-Length body) is read, then handed to the answer on the
// server's one thread; the connection is closed when it returns.
class RawHttpServer {
  public:
    // Writes to the connection's socket; `stopping` turns true when the server stops.
    using Answer = std::function<void(int socket, const std::string& request,
                                      const std::atomic<bool>& stopping)>;
    explicit RawHttpServer(Answer answer, const std::string& host = "127.0.0.1");
    // Answers every request with these bytes.
    explicit RawHttpServer(std::string bytes, const std::string& host = "127.0.0.1");
    ~RawHttpServer();

    std::string url(const std::string& path = "/") const;
    // Every request received so far, as sent.
    std::vector<std::string> requests() const;
    static void send(int socket, const std::string& bytes);

  private:
    Answer _answer;
    std::string _host;
    int _fd = -1;
    int _port = 0;
    std::atomic<bool> _stopping{false};
    mutable std::mutex _mutex;
    std::vector<std::string> _requests;
    std::thread _thread;
};

}  // namespace quorbit::testing
