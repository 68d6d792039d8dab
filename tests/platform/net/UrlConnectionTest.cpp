#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/core/RunLoop.h"
#include "platform/net/CookieStore.h"
#include "platform/net/UrlConnection.h"
#include "support/LocalHttpServer.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using testing::LocalHttpServer;

// Everything a connection told its delegate, in order.
struct Recording {
    std::vector<std::string> calls;  // "response", "data", "finish", "fail"
    std::vector<UrlResponse> responses;
    std::string body;
    std::optional<Error> error;
    bool ended = false;

    UrlConnectionDelegate delegate() {
        UrlConnectionDelegate d;
        d.didReceiveResponse = [this](UrlConnection&, const UrlResponse& r) {
            calls.push_back("response");
            responses.push_back(r);
        };
        d.didReceiveData = [this](UrlConnection&, std::string_view data) {
            calls.push_back("data");
            body.append(data);
        };
        d.didFinishLoading = [this](UrlConnection&) {
            calls.push_back("finish");
            ended = true;
        };
        d.didFailWithError = [this](UrlConnection&, const Error& e) {
            calls.push_back("fail");
            error = e;
            ended = true;
        };
        return d;
    }

    bool waitForEnd(std::chrono::milliseconds limit = 5000ms) {
        return RunLoop::main().runUntil([this] { return ended; }, limit);
    }
};

// What the server saw of the last request.
struct Seen {
    std::mutex mutex;
    std::string method, body, userAgent, contentType, expect, cookie;
};

class UrlConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CookieStore::shared().deleteAllCookies();
        auto& s = server.server();
        s.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("X-Test", "yes");
            res.set_content("hello, world", "text/plain");
        });
        s.Post("/echo", [this](const httplib::Request& req, httplib::Response& res) {
            remember(req);
            res.set_content(req.body, "application/octet-stream");
        });
        s.Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("the redirect's own body", "text/plain");
            res.set_redirect("/hello");
        });
        s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(1500ms);
            res.set_content("late", "text/plain");
        });
        // Ten pieces 100 ms apart: slow as a whole, never idle for long.
        s.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain",
                                             [](size_t offset, httplib::DataSink& sink) {
                                                 if (offset >= 10) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 std::this_thread::sleep_for(100ms);
                                                 sink.write("x", 1);
                                                 return true;
                                             });
        });
        s.Get("/big", [](const httplib::Request& req, httplib::Response& res) {
            std::string body(1000, 'b');
            if (req.has_param("chunked")) {
                res.set_chunked_content_provider("text/plain", [body](size_t offset,
                                                                      httplib::DataSink& sink) {
                    if (offset >= body.size()) {
                        sink.done();
                        return true;
                    }
                    sink.write(body.data() + offset, std::min<size_t>(100, body.size() - offset));
                    return true;
                });
            } else {
                res.set_content(body, "text/plain");
            }
        });
        s.Get("/set-cookie", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "session=abc; Path=/");
            res.set_content("set", "text/plain");
        });
        s.Get("/cookie", [this](const httplib::Request& req, httplib::Response& res) {
            remember(req);
            res.set_content(req.get_header_value("Cookie"), "text/plain");
        });
        server.start();
    }

    void remember(const httplib::Request& req) {
        std::lock_guard lock(seen.mutex);
        seen.method = req.method;
        seen.body = req.body;
        seen.userAgent = req.get_header_value("User-Agent");
        seen.contentType = req.get_header_value("Content-Type");
        seen.expect = req.get_header_value("Expect");
        seen.cookie = req.get_header_value("Cookie");
    }

    std::string fetch(const std::string& url) {
        Recording r;
        UrlConnection::start(UrlRequest(url), r.delegate());
        EXPECT_TRUE(r.waitForEnd());
        return r.body;
    }

    LocalHttpServer server;
    Seen seen;
};

TEST_F(UrlConnectionTest, ReportsTheAnswerOnceThenItsBodyThenTheEnd) {
    Recording r;
    auto connection = UrlConnection::start(UrlRequest(server.url("/hello")), r.delegate());
    EXPECT_TRUE(connection->isLoading());
    ASSERT_TRUE(r.waitForEnd());
    ASSERT_GE(r.calls.size(), 3u);
    EXPECT_EQ(r.calls.front(), "response");
    EXPECT_EQ(r.calls.back(), "finish");
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "response"), 1);
    ASSERT_EQ(r.responses.size(), 1u);
    EXPECT_EQ(r.responses[0].statusCode, 200);
    EXPECT_EQ(r.responses[0].valueForHeader("x-test"), "yes");
    EXPECT_EQ(r.responses[0].mimeType(), "text/plain");
    EXPECT_EQ(r.responses[0].expectedContentLength(), 12);
    EXPECT_EQ(r.body, "hello, world");
    EXPECT_FALSE(connection->isLoading());
}

TEST_F(UrlConnectionTest, PostsTheBodyWithTheHeadersGivenAndNoExpectRoundTrip) {
    UrlRequest request(server.url("/echo"));
    request.httpMethod = "POST";
    request.setValue("FacebookConnect", "User-Agent");
    request.setValue("application/x-test; charset=binary", "Content-Type");
    request.body = std::string(2 << 20, 'p') + std::string("\0\r\n--B--", 8);
    Recording r;
    UrlConnection::start(request, r.delegate());
    ASSERT_TRUE(r.waitForEnd());
    EXPECT_FALSE(r.error) << r.error->localizedDescription();
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.userAgent, "FacebookConnect");
    EXPECT_EQ(seen.contentType, "application/x-test; charset=binary");
    EXPECT_EQ(seen.expect, "");
    EXPECT_TRUE(seen.body == request.body);
    EXPECT_TRUE(r.body == request.body);
}

TEST_F(UrlConnectionTest, FollowsRedirectsAndReportsOnlyTheFinalAnswer) {
    Recording r;
    UrlConnection::start(UrlRequest(server.url("/redirect")), r.delegate());
    ASSERT_TRUE(r.waitForEnd());
    ASSERT_EQ(r.responses.size(), 1u);
    EXPECT_EQ(r.responses[0].statusCode, 200);
    EXPECT_EQ(r.responses[0].url, server.url("/hello"));
    EXPECT_EQ(r.body, "hello, world");
}

TEST_F(UrlConnectionTest, TimesOutWhenNothingMovesButNotWhileDataTrickles) {
    UrlRequest silent(server.url("/slow"));
    silent.timeoutInterval = std::chrono::duration<double>(0.3);
    Recording r;
    auto started = std::chrono::steady_clock::now();
    UrlConnection::start(silent, r.delegate());
    ASSERT_TRUE(r.waitForEnd());
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(isUrlError(*r.error, UrlError::TimedOut)) << r.error->localizedDescription();
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 1200ms);

    // A whole second of transfer under a 0.3-second timeout: fine, since bytes keep coming.
    UrlRequest trickle(server.url("/trickle"));
    trickle.timeoutInterval = std::chrono::duration<double>(0.3);
    Recording t;
    UrlConnection::start(trickle, t.delegate());
    ASSERT_TRUE(t.waitForEnd());
    EXPECT_FALSE(t.error) << t.error->localizedDescription();
    EXPECT_EQ(t.body, std::string(10, 'x'));
}

TEST_F(UrlConnectionTest, RefusesBodiesOverTheLimitWhetherAnnouncedOrNot) {
    for (const char* path : {"/big", "/big?chunked=1"}) {
        SCOPED_TRACE(path);
        UrlRequest request(server.url(path));
        request.maximumBodySize = 999;
        Recording r;
        UrlConnection::start(request, r.delegate());
        ASSERT_TRUE(r.waitForEnd());
        ASSERT_TRUE(r.error);
        EXPECT_TRUE(isUrlError(*r.error, UrlError::DataLengthExceedsMaximum))
            << r.error->localizedDescription();
        EXPECT_LE(r.body.size(), 999u);

        request.maximumBodySize = 1000;
        Recording fits;
        UrlConnection::start(request, fits.delegate());
        ASSERT_TRUE(fits.waitForEnd());
        EXPECT_FALSE(fits.error);
        EXPECT_EQ(fits.body.size(), 1000u);
    }
}

TEST_F(UrlConnectionTest, NetworkFailuresEndInTheirOwnCodes) {
    testing::RawHttpServer truncated("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
    Recording r;
    UrlConnection::start(UrlRequest(truncated.url()), r.delegate());
    ASSERT_TRUE(r.waitForEnd());
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(isUrlError(*r.error, UrlError::NetworkConnectionLost))
        << r.error->localizedDescription();
    EXPECT_EQ(r.body, "only this");
    EXPECT_NE(r.error->localizedDescription().find("cut off after 9 bytes"), std::string::npos)
        << r.error->localizedDescription();
    ASSERT_TRUE(r.error->underlying);
    EXPECT_EQ(r.error->underlying->domain, "quorbit.curl");

    // A port nobody listens on.
    std::string refusedUrl = server.url("/");
    server.stop();
    Recording refused;
    UrlConnection::start(UrlRequest(refusedUrl), refused.delegate());
    ASSERT_TRUE(refused.waitForEnd());
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(isUrlError(*refused.error, UrlError::CannotConnectToHost))
        << refused.error->localizedDescription();

    Recording bad;
    UrlConnection::start(UrlRequest("fbconnect://success"), bad.delegate());
    ASSERT_TRUE(bad.waitForEnd());
    ASSERT_TRUE(bad.error);
    EXPECT_TRUE(isUrlError(*bad.error, UrlError::UnsupportedUrl))
        << bad.error->localizedDescription();
}

TEST_F(UrlConnectionTest, VerifiesTheServersCertificate) {
    LocalHttpServer secure(QUORBIT_NET_TEST_DATA "/self-signed-cert.pem",
                           QUORBIT_NET_TEST_DATA "/self-signed-key.pem");
    secure.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secret", "text/plain");
    });
    secure.start();
    Recording r;
    UrlConnection::start(UrlRequest(secure.url("/")), r.delegate());
    ASSERT_TRUE(r.waitForEnd());
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(isUrlError(*r.error, UrlError::ServerCertificateUntrusted))
        << r.error->localizedDescription();
    EXPECT_EQ(r.body, "");
}

TEST_F(UrlConnectionTest, CancelStopsEveryCallbackAndLetsTheDelegateGo) {
    auto token = std::make_shared<int>(0);
    Recording r;
    UrlConnectionDelegate delegate = r.delegate();
    delegate.didReceiveResponse = [&r, token](UrlConnection& c, const UrlResponse&) {
        r.calls.push_back("response");
        c.cancel();
    };
    std::weak_ptr<int> watch = token;
    token.reset();
    auto connection = UrlConnection::start(UrlRequest(server.url("/hello")), delegate);
    delegate = {};
    RunLoop::main().runUntil([&] { return !connection->isLoading(); }, 5s);
    RunLoop::main().runFor(100ms);
    EXPECT_EQ(r.calls, std::vector<std::string>{"response"});
    EXPECT_FALSE(connection->isLoading());
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(UrlConnection::activeCount(), 0u);
}

TEST_F(UrlConnectionTest, ALoadRunsToItsEndWithNobodyHoldingTheConnection) {
    Recording r;
    UrlConnection::start(UrlRequest(server.url("/hello")), r.delegate());  // dropped at once
    ASSERT_TRUE(r.waitForEnd());
    EXPECT_EQ(r.body, "hello, world");
}

TEST_F(UrlConnectionTest, CookiesGoBackToTheirHostUntilDeleted) {
    fetch(server.url("/set-cookie"));
    fetch(server.localhostUrl("/set-cookie"));
    EXPECT_EQ(fetch(server.url("/cookie")), "session=abc");
    ASSERT_EQ(CookieStore::shared().cookiesForHost("127.0.0.1").size(), 1u);

    EXPECT_EQ(CookieStore::shared().deleteCookiesForHost("127.0.0.1"), 1u);
    EXPECT_EQ(fetch(server.url("/cookie")), "");
    // Another host's cookie stays.
    EXPECT_EQ(fetch(server.localhostUrl("/cookie")), "session=abc");
}

}  // namespace
}  // namespace quorbit::platform
