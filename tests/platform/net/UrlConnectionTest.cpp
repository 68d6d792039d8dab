#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
using Req = httplib::Request;
using Res = httplib::Response;

// Everything a connection told its delegate, in order.
struct Recording {
    std::vector<std::string> calls;  // "response", "data", "finish", "fail"
    std::vector<UrlResponse> responses;
    std::string body;
    std::optional<Error> error;

    UrlConnectionDelegate delegate() {
        return {
            .didReceiveResponse =
                [this](auto&, auto& r) { calls.push_back("response"), responses.push_back(r); },
            .didReceiveData = [this](auto&, auto d) { calls.push_back("data"), body.append(d); },
            .didFinishLoading = [this](auto&) { calls.push_back("finish"); },
            .didFailWithError = [this](auto&, auto& e) { calls.push_back("fail"), error = e; }};
    }
    bool waitForEnd() {
        auto ended = [this] { return error || (!calls.empty() && calls.back() == "finish"); };
        return RunLoop::main().runUntil(ended, 5s);
    }
};

// A body of `count` pieces of `piece`, sent in chunks `pause` apart (no length announced).
void inPieces(Res& res, size_t count, std::string piece, std::chrono::milliseconds pause = 0ms) {
    res.set_chunked_content_provider("text/plain", [=](size_t offset, httplib::DataSink& sink) {
        if (offset >= count * piece.size()) return sink.done(), true;
        std::this_thread::sleep_for(pause);
        return sink.write(piece.data(), piece.size());
    });
}

// Answers with the request's credentials and custom header, "|" between them.
void echoCredentials(const Req& req, Res& res) {
    res.set_content(req.get_header_value("Authorization") + "|" + req.get_header_value("Cookie") +
                        "|" + req.get_header_value("X-Token"),
                    "text/plain");
}

class UrlConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CookieStore::shared().deleteAllCookies();
        auto& s = server.server();
        s.Get("/hello", [](const Req&, Res& res) {
            res.set_header("X-Test", "yes");
            res.set_content("hello, world", "text/plain");
        });
        s.Post("/echo", [this](const Req& req, Res& res) {
            std::lock_guard lock(mutex);
            seen = req;
            res.set_content(req.body, "application/octet-stream");
        });
        s.Get("/redirect", [](const Req&, Res& res) {
            res.set_content("the redirect's own body", "text/plain");
            res.set_redirect("/hello");
        });
        s.Get("/slow", [](const Req&, Res& res) {
            std::this_thread::sleep_for(1500ms);
            res.set_content("late", "text/plain");
        });
        // Ten pieces 100 ms apart: slow as a whole, never idle for long.
        s.Get("/trickle", [](const Req&, Res& res) { inPieces(res, 10, "x", 100ms); });
        s.Get("/big",
              [](const Req&, Res& r) { r.set_content(std::string(1000, 'b'), "text/plain"); });
        s.Get("/big-chunked",
              [](const Req&, Res& res) { inPieces(res, 10, std::string(100, 'b')); });
        s.Get("/headers", echoCredentials);
        // "/hops/N" redirects N times before the answer.
        s.Get(R"(/hops/(\d+))", [](const Req& req, Res& res) {
            int left = std::stoi(req.matches[1]);
            if (left == 0) return res.set_content("arrived", "text/plain");
            res.set_redirect("/hops/" + std::to_string(left - 1));
        });
        s.Get("/to",
              [](const Req& req, Res& res) { res.set_redirect(req.get_param_value("url")); });
        s.Get("/set-cookie", [](const Req&, Res& res) {
            res.set_header("Set-Cookie", "session=abc; Path=/");
            res.set_content("set", "text/plain");
        });
        server.start();
    }

    // Loads request to its end with nobody holding the connection, as most callers do.
    std::unique_ptr<Recording> load(const UrlRequest& request) {
        auto r = std::make_unique<Recording>();
        UrlConnection::start(request, r->delegate());
        EXPECT_TRUE(r->waitForEnd());
        return r;
    }
    std::string fetch(const UrlRequest& request) { return load(request)->body; }
    // That r failed with code, and no more than `most` bytes of body came.
    static void expectFailure(const Recording& r, UrlError code, size_t most = 0) {
        ASSERT_TRUE(r.error);
        EXPECT_TRUE(isUrlError(*r.error, code)) << r.error->localizedDescription();
        EXPECT_LE(r.body.size(), most);
    }

    LocalHttpServer server;
    std::mutex mutex;
    Req seen;  // the last request echoed
};

// The final answer once, after any redirects (the field's name in any case), then its body,
// then the end.
TEST_F(UrlConnectionTest, ReportsTheFinalAnswerOnceThenItsBodyThenTheEnd) {
    testing::RawHttpServer shouting("HTTP/1.1 302 Found\r\nlocation: " + server.url("/hello") +
                                    "\r\nContent-Length: 0\r\n\r\n");
    for (const std::string& url :
         {server.url("/hello"), server.url("/redirect"), shouting.url("/")}) {
        SCOPED_TRACE(url);
        Recording r;
        auto connection = UrlConnection::start(UrlRequest(url), r.delegate());
        EXPECT_TRUE(connection->isLoading());
        ASSERT_TRUE(r.waitForEnd());
        EXPECT_EQ(r.calls.front(), "response");
        EXPECT_EQ(r.calls.back(), "finish");
        ASSERT_EQ(r.responses.size(), 1u);
        EXPECT_EQ(r.responses[0].statusCode, 200);
        EXPECT_EQ(r.responses[0].url, server.url("/hello"));
        EXPECT_EQ(r.responses[0].valueForHeader("x-test"), "yes");
        EXPECT_EQ(r.body, "hello, world");
        EXPECT_FALSE(connection->isLoading());
    }
}

TEST_F(UrlConnectionTest, PostsTheBodyWithTheHeadersGivenAndNoExpectRoundTrip) {
    UrlRequest request(server.url("/echo"));
    request.httpMethod = "POST";
    request.setValue("FacebookConnect", "User-Agent");
    request.setValue("application/x-test; charset=binary", "Content-Type");
    request.body = std::string(2 << 20, 'p') + std::string("\0\r\n--B--", 8);
    auto r = load(request);
    EXPECT_FALSE(r->error) << r->error->localizedDescription();
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.get_header_value("User-Agent"), "FacebookConnect");
    EXPECT_EQ(seen.get_header_value("Content-Type"), "application/x-test; charset=binary");
    EXPECT_FALSE(seen.has_header("Expect"));
    EXPECT_TRUE(seen.body == request.body);
    EXPECT_TRUE(r->body == request.body);
}

TEST(UrlHeaders, NamesCompareCaseBlindAndTypesAndLengthsAreReadStrictly) {
    using Headers = std::vector<std::pair<std::string, std::string>>;
    const std::tuple<Headers, std::string, long long> cases[] = {
        {{{"Content-Type", "text/plain"}, {"Content-Length", "12"}}, "text/plain", 12},
        {{{"content-TYPE", "Text/HTML ; charset=UTF-8"}, {"CONTENT-LENGTH", "0"}}, "text/html", 0},
        {{{"Content-Length", "-1"}}, "", -1},
        {{{"Content-Length", "1x"}}, "", -1},
        {{{"Content-Length", ""}}, "", -1},
        {{}, "", -1},
    };
    for (const auto& [headers, mimeType, length] : cases) {
        SCOPED_TRACE(::testing::PrintToString(headers));
        UrlResponse response;
        response.headers = headers;
        EXPECT_EQ(response.mimeType(), mimeType);
        EXPECT_EQ(response.expectedContentLength(), length);
    }
    UrlRequest request;
    request.setValue("a", "Content-Type");
    request.setValue("b", "content-type");  // replaces the field, not sent twice
    EXPECT_EQ(request.headers.size(), 1u);
    EXPECT_EQ(request.valueForHeader("CONTENT-TYPE"), "b");
}

// A request's own header fields (credentials above all) are meant for the server it names:
// a redirect to another origin (another host, or another port of the same host) goes there
// without them.
TEST_F(UrlConnectionTest, ARedirectToAnotherOriginCarriesNoneOfTheRequestsHeaders) {
    LocalHttpServer otherPort, otherHost;
    otherPort.server().Get("/headers", echoCredentials);
    otherHost.server().Get("/headers", echoCredentials);
    otherPort.start();
    otherHost.start("127.0.0.2");
    for (const auto& [target, seen] : {std::pair{server.url("/headers"), "Bearer t|c=1|secret"},
                                       {otherPort.url("/headers"), "||"},
                                       {otherHost.url("/headers"), "||"}}) {
        SCOPED_TRACE(target);
        UrlRequest request(server.url("/to?url=" + target));
        request.setValue("Bearer t", "Authorization");
        request.setValue("c=1", "Cookie");
        request.setValue("secret", "X-Token");
        EXPECT_EQ(fetch(request), seen);
    }
}

TEST_F(UrlConnectionTest, TimesOutWhenNothingMovesButNotWhileDataTrickles) {
    UrlRequest silent(server.url("/slow"));
    silent.timeoutInterval = std::chrono::duration<double>(0.3);
    auto started = std::chrono::steady_clock::now();
    expectFailure(*load(silent), UrlError::TimedOut);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 1200ms);

    // A whole second of transfer under a 0.3-second timeout: fine, since bytes keep coming.
    UrlRequest trickle(server.url("/trickle"));
    trickle.timeoutInterval = std::chrono::duration<double>(0.3);
    auto t = load(trickle);
    EXPECT_FALSE(t->error) << t->error->localizedDescription();
    EXPECT_EQ(t->body, std::string(10, 'x'));
}

// The body is 1000 bytes, announced or sent in chunks; "/hops/N" redirects N times.
TEST_F(UrlConnectionTest, BodiesAndRedirectsUpToTheirLimitsAndNoMore) {
    const std::string big(1000, 'b');
    const auto tooLarge = UrlError::DataLengthExceedsMaximum;
    // clang-format off
    const std::tuple<const char*, std::size_t, std::optional<UrlError>, std::string> cases[] = {
        {"/big", 999, tooLarge, ""}, {"/big", 1000, {}, big},
        {"/big-chunked", 999, tooLarge, ""}, {"/big-chunked", 1000, {}, big},
        {"/hops/16", 0, {}, "arrived"}, {"/hops/17", 0, UrlError::HttpTooManyRedirects, ""},
    };
    // clang-format on
    for (const auto& [path, limit, error, body] : cases) {
        SCOPED_TRACE(std::string(path) + " under " + std::to_string(limit));
        UrlRequest request(server.url(path));
        request.maximumBodySize = limit;
        auto r = load(request);
        if (error) {
            expectFailure(*r, *error, limit);
        } else {
            EXPECT_FALSE(r->error) << r->error->localizedDescription();
            EXPECT_EQ(r->body, body);
        }
    }
}

TEST_F(UrlConnectionTest, NetworkFailuresEndInTheirOwnCodes) {
    testing::RawHttpServer truncated("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
    auto r = load(UrlRequest(truncated.url()));
    ASSERT_NO_FATAL_FAILURE(expectFailure(*r, UrlError::NetworkConnectionLost, 9));
    EXPECT_EQ(r->body, "only this");
    EXPECT_THAT(r->error->localizedDescription(), ::testing::HasSubstr("cut off after 9 bytes"));
    ASSERT_TRUE(r->error->underlying);
    EXPECT_EQ(r->error->underlying->domain, "quorbit.curl");

    LocalHttpServer secure(QUORBIT_NET_TEST_DATA "/self-signed-cert.pem",
                           QUORBIT_NET_TEST_DATA "/self-signed-key.pem");
    secure.server().Get("/", [](const Req&, Res& res) { res.set_content("secret", "text/plain"); });
    secure.start();
    // A port nobody listens on, a scheme no connection speaks, a certificate nobody vouches for.
    for (const auto& [url, code] :
         {std::pair{std::string("http://127.0.0.1:9/"), UrlError::CannotConnectToHost},
          {"fbconnect://success", UrlError::UnsupportedUrl},
          {secure.url("/"), UrlError::ServerCertificateUntrusted}}) {
        SCOPED_TRACE(url);
        expectFailure(*load(UrlRequest(url)), code);
    }
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

TEST_F(UrlConnectionTest, CookiesGoBackToTheirHostUntilDeleted) {
    fetch(UrlRequest(server.url("/set-cookie")));
    fetch(UrlRequest(server.localhostUrl("/set-cookie")));
    EXPECT_EQ(fetch(UrlRequest(server.url("/headers"))), "|session=abc|");
    ASSERT_EQ(CookieStore::shared().cookiesForHost("127.0.0.1").size(), 1u);

    EXPECT_EQ(CookieStore::shared().deleteCookiesForHost("127.0.0.1"), 1u);
    EXPECT_EQ(fetch(UrlRequest(server.url("/headers"))), "||");
    // Another host's cookie stays.
    EXPECT_EQ(fetch(UrlRequest(server.localhostUrl("/headers"))), "|session=abc|");
}

}  // namespace
}  // namespace quorbit::platform
