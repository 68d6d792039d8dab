#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "facebook/FBConfiguration.h"
#include "facebook/FBRequest.h"
#include "platform/gfx/ImageCodec.h"
#include "support/FBTestSupport.h"
#include "support/MockFacebookService.h"

namespace quorbit::facebook {
namespace {

using namespace std::chrono_literals;
using testing::MockFacebookService;
using testing::RawHttpServer;
using testing::RequestRecorder;

// A small picture, every pixel opaque and of its own colour.
std::shared_ptr<const platform::Image> checkerImage() {
    std::vector<std::uint8_t> rgba(4 * 3 * 4, 255);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 != 3) rgba[i] = std::uint8_t(i * 21);
    return std::make_shared<platform::Image>(4, 3, rgba);
}

std::shared_ptr<FBRequest> start(const std::string& url, std::shared_ptr<FBParams> params,
                                 const std::string& method, RequestRecorder& recorder) {
    auto request = FBRequest::getRequestWithParams(params, method, recorder.delegate, url);
    request->connect();
    return request;
}

class FBRequestTest : public ::testing::Test {
  protected:
    MockFacebookService service;
};

TEST_F(FBRequestTest, QueryStringsAsTheServerReceivesThem) {
    const std::string escaped = "é!*'();:@&=+$,/?%#[]~-_.";
    const std::string target =
        "/canned/a?message=a%20%26b%3Dc&z_key="
        "%C3%A9%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D~-_.";
    auto withFiles = std::make_shared<FBParams>(FBParams{{"a", "1"}});
    withFiles->set("picture", checkerImage());
    withFiles->set("blob", FBData{"xyz"});
    // No parameters: a lone "?"; a query already there: "&"; values escaped, keys not. A GET
    // cannot carry files: they are left out and the request still goes.
    // clang-format off
    const std::tuple<std::string, std::shared_ptr<FBParams>, const char*, std::string> cases[] = {
        {"/canned/a", std::make_shared<FBParams>(), "GET", "/canned/a?"},
        {"/canned/a?x=1", std::make_shared<FBParams>(FBParams{{"k", "v"}}), "GET", "/canned/a?x=1&k=v"},
        {"/canned/a", std::make_shared<FBParams>(FBParams{{"message", "a &b=c"}, {"z_key", escaped}}),
         "POST", target},
        {"/canned/a", withFiles, "GET", "/canned/a?a=1"},
    };
    // clang-format on
    for (const auto& [path, params, method, sent] : cases) {
        SCOPED_TRACE(sent);
        RequestRecorder recorder;
        start(service.url(path), params, method, recorder);
        ASSERT_TRUE(recorder.wait());
        auto seen = service.last("/canned/a");
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->target, sent);
        EXPECT_EQ(seen->method, method);
        EXPECT_EQ(seen->userAgent, "FacebookConnect");
    }
}

TEST_F(FBRequestTest, MultipartBodyAsAStrictParserReadsIt) {
    auto params = std::make_shared<FBParams>();
    params->set("picture", checkerImage());
    params->set("message", "hello & good\r\nbye");
    params->set("blob", FBData{std::string("\0\x01--\r\n", 6)});
    params->set("access_token", MockFacebookService::kToken);
    RequestRecorder recorder;
    start(service.url("/graph/me/photos"), params, "POST", recorder);
    ASSERT_TRUE(recorder.wait());
    ASSERT_FALSE(recorder.error) << recorder.error->localizedDescription();

    auto seen = service.last("/graph/me/photos");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->contentType,
              "multipart/form-data; boundary=3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f");
    // The text parameters travel in the query too; files do not.
    EXPECT_EQ(
        seen->target,
        "/graph/me/photos?message=hello%20%26%20good%0D%0Abye&access_token=mock%20token%2F1%2B");
    // Text parts first (in order), then the files, each file under a name and a file name.
    using Part = MockFacebookService::Part;
    auto tied = [](const Part& p) { return std::tie(p.name, p.filename, p.contentType); };
    const Part parts[] = {{"message", "", "", "hello & good\r\nbye"},
                          {"access_token", "", "", MockFacebookService::kToken},
                          {"picture", "picture", "image/png", ""},
                          {"blob", "blob", "content/unknown", std::string("\0\x01--\r\n", 6)}};
    ASSERT_EQ(seen->parts.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tied(seen->parts[i]), tied(parts[i])) << i;
        if (i != 2) {
            EXPECT_EQ(seen->parts[i].content, parts[i].content) << i;
        }
    }
    auto decoded = platform::ImageCodec::decodePng(seen->parts[2].content);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixels(), checkerImage()->pixels());
}

// Every answer, well-formed or hostile: only a complete 2xx answer whose body is a JSON
// object or array without an error is a success; anything else fails, saying what came.
TEST_F(FBRequestTest, EveryWayAnAnswerIsInterpreted) {
    enum Expect { Loaded, Service, Bad };
    struct Case {
        const char* name;
        std::string body;
        Expect expect;
        int status = 200;
        std::string contentType = "text/plain";
        long code = 0;               // Service: the code
        std::string detail = {};     // Service: the error_msg; else in the description
        std::string rawAnswer = {};  // bytes on the wire in place of the mock's answer
    };
    const std::string notObject = "not a JSON object or array", html = "text/html";
    const std::string json = "application/json";
    // clang-format off
    const std::vector<Case> cases = {
        {"literal true", "true", Loaded},
        {"plain object", R"({"id":"42","name":"Ann"})", Loaded},
        {"array, whatever it holds", R"([{"error":1},2])", Loaded},
        {"created, an object", R"({"id":"1001"})", Loaded, 201},
        {"literal false", "false", Service, 200, "", 10000, "This operation can not be completed"},
        {"error", R"({"error":{"type":"OAuthException","message":"x"}})", Service, 200, "", 10000},
        {"error before error_code", R"({"error":"x","error_code":5})", Service, 200, "", 10000},
        {"error_code", R"({"error_code":190,"error_msg":"gone"})", Service, 200, "", 190, "gone"},
        {"error_code as text", R"({"error_code":"341"})", Service, 200, "", 341},
        {"error_code that is no number", R"({"error_code":null})", Service, 200, "", 10000},
        {"error_msg alone", R"({"error_msg":"nope","id":3})", Service, 200, "", 10000, "nope"},
        {"error_reason alone", R"({"error_reason":"user_denied"})", Service, 200, "", 10000},
        {"400, an error", R"({"error_code":100,"error_msg":"no"})", Service, 400, json, 100, "no"},
        {"true and a newline is not the literal", "true\n", Bad, 200, "", 0, "\"true?\""},
        {"JSON number", "42", Bad, 200, "", 0, notObject},
        {"JSON string", "\"hello\"", Bad, 200, "", 0, notObject},
        {"JSON null", "null", Bad, 200, "", 0, notObject},
        {"not JSON", "<html>oops</html>", Bad, 200, html, 0, "17 bytes: \"<html>oops</html>\""},
        {"truncated JSON", R"({"id": "12)", Bad, 200, "", 0, notObject},
        {"not UTF-8", "{\"name\":\"\xff\xfe\"}", Bad, 200, "", 0, "not UTF-8"},
        {"empty body", "", Bad, 200, "", 0, "an empty body"},
        {"500 with a page", "<html><body>Internal error</body></html>", Bad, 500, html, 0,
         "not a success (HTTP 500, text/html, 40 bytes: \"<html><body>"},
        {"empty 500", "", Bad, 500, "", 0, "HTTP 500"},
        {"500 with a plain object", R"({"id":"1"})", Bad, 500, json, 0, "HTTP 500"},
        {"a long page is cut short in the error", std::string(500, 'x'), Bad, 503, "", 0,
         std::string(64, 'x') + "...\""},
        {"Content-Length short of the body", "", Bad, 200, "", 0, "9 bytes: \"{\"id\": \"1\")",
         "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{\"id\": \"1001\"}"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<RawHttpServer> raw;
        if (!c.rawAnswer.empty()) raw.emplace(c.rawAnswer);
        service.setCanned("answer", c.body, c.status, c.contentType);
        RequestRecorder recorder;
        start(raw ? raw->url("/answer") : service.url("/canned/answer"),
              std::make_shared<FBParams>(), "GET", recorder);
        ASSERT_TRUE(recorder.wait());
        EXPECT_EQ(recorder.result.has_value(), c.expect == Loaded);
        ASSERT_EQ(recorder.error.has_value(), c.expect != Loaded);
        if (c.expect == Loaded) {
            EXPECT_EQ(recorder.raw, c.body);
            ASSERT_TRUE(recorder.result && recorder.result->isJson());
            if (c.body == "true") {
                EXPECT_EQ(*recorder.result->value, json::Value::object({{"result", "true"}}));
            }
        } else if (c.expect == Service) {
            EXPECT_EQ(recorder.error->domain, "quorbit.facebook");
            EXPECT_EQ(recorder.error->code, c.code);
            EXPECT_EQ(recorder.error->userInfo["error_msg"], c.detail);
        } else {
            EXPECT_TRUE(
                platform::isUrlError(*recorder.error, platform::UrlError::BadServerResponse));
            EXPECT_NE(recorder.error->localizedDescription().find(c.detail), std::string::npos)
                << recorder.error->localizedDescription();
        }
    }
}

// The delegate allows it, though no caller does it: the bytes alone.
TEST_F(FBRequestTest, ADelegateWithOnlyTheRawCallbackGetsTheBytes) {
    service.setCanned("answer", "not json at all");
    RequestRecorder recorder;
    recorder.delegate->didLoad = nullptr;
    recorder.delegate->didFailWithError = nullptr;
    start(service.url("/canned/answer"), {}, "GET", recorder);
    EXPECT_TRUE(platform::RunLoop::main().runUntil([&] { return !recorder.raw.empty(); }, 5s));
    EXPECT_EQ(recorder.raw, "not json at all");
}

TEST_F(FBRequestTest, ConnectionFailuresArePassedOnUnchanged) {
    // A request that stands still past its (shortened) timeout.
    RequestRecorder slow;
    auto request = FBRequest::getRequestWithParams({}, "GET", slow.delegate, service.url("/slow"));
    request->setTimeoutInterval(std::chrono::duration<double>(0.3));
    request->connect();
    EXPECT_TRUE(request->loading());
    EXPECT_TRUE(slow.failsWith(platform::UrlError::TimedOut));
    EXPECT_EQ(slow.calls, (std::vector<std::string>{"loading", "fail"}));
    EXPECT_FALSE(request->loading());

    service.setCanned("huge", std::string(FBRequest::kMaxResponseSize + 1, ' '));
    RequestRecorder huge;
    start(service.url("/canned/huge"), {}, "GET", huge);
    EXPECT_TRUE(huge.failsWith(platform::UrlError::DataLengthExceedsMaximum, 20s));
}

// An answer that never ends, a byte every 200 ms: the idle limit never fires, the deadline
// or the low-speed limit does (shortened here).
TEST_F(FBRequestTest, ATricklingAnswerHitsTheDeadlineOrTheLowSpeedLimit) {
    RawHttpServer trickle([](int socket, const std::string&, const std::atomic<bool>& stopping) {
        RawHttpServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n[");
        while (!stopping && ::send(socket, " ", 1, MSG_NOSIGNAL) == 1)
            std::this_thread::sleep_for(200ms);
    });
    const std::tuple<double, long, std::string> cases[] = {
        {1.0, 0, "within the deadline of 1 seconds"},
        {30.0, 1000, "too slow"},
    };
    for (const auto& [deadline, lowSpeed, says] : cases) {
        SCOPED_TRACE(says);
        RequestRecorder recorder;
        auto request =
            FBRequest::getRequestWithParams({}, "GET", recorder.delegate, trickle.url("/me"));
        FBRequest::Limits limits;
        limits.idle = 5s;
        limits.deadlineFloor = std::chrono::duration<double>(deadline);
        limits.lowSpeedBytesPerSecond = lowSpeed;
        limits.lowSpeedWindow = 1s;
        request->setLimits(limits);
        auto started = std::chrono::steady_clock::now();
        request->connect();
        ASSERT_TRUE(recorder.failsWith(platform::UrlError::TimedOut, 6s));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
        EXPECT_NE(recorder.error->localizedDescription().find(says), std::string::npos)
            << recorder.error->localizedDescription();
    }
    // An upload's deadline grows with its body from the floor.
    FBRequest::Limits limits;
    EXPECT_EQ(limits.deadlineFor(0), limits.deadlineFloor);
    EXPECT_EQ(limits.deadlineFor(4096 * 1000).count(), 1000.0);
}

TEST_F(FBRequestTest, PlainHttpIsRefusedExceptOnTheLoopback) {
    RequestRecorder recorder;
    auto request = start("http://graph.example.invalid/me", {}, "GET", recorder);
    EXPECT_FALSE(request->loading());
    EXPECT_TRUE(recorder.failsWith(platform::UrlError::InsecureConnectionRefused));

    // clang-format off
    const std::pair<const char*, bool> cases[] = {
        {"https://graph.facebook.com/", true}, {"http://127.0.0.1:8080/graph/", true},
        {"http://127.1.2.3/graph/", true}, {"http://localhost:99/", true},
        {"http://[::1]:99/", true},
        {"http://graph.facebook.com/", false}, {"http://127.0.0.1.evil.example/", false},
        {"http://localhost.evil.example/", false}, {"http://127.0.0.1@evil.example/", false},
        {"http://evil.example\\@127.0.0.1/", false}, {"http://127.0.0.256/", false},
        {"ftp://127.0.0.1/", false}, {"127.0.0.1/graph/", false},
    };
    // clang-format on
    for (auto [url, allowed] : cases)
        EXPECT_EQ(FBConfiguration::isAllowedEndpoint(url), allowed) << url;
}

// The Graph endpoint redirects the upload elsewhere: the request fails and nothing, the
// token least of all, reaches the other host. A redirect within the host is followed.
TEST_F(FBRequestTest, RedirectsStayOnTheEndpointsHost) {
    std::atomic<int> caught = 0;
    testing::LocalHttpServer catcher;
    auto steal = [&caught](const httplib::Request&, httplib::Response& res) {
        ++caught;
        res.set_content(R"({"id":"stolen"})", "application/json");
    };
    catcher.server().Post(".*", steal);
    catcher.server().Get(".*", steal);
    catcher.start("127.0.0.2");
    // Another host, in plain HTTP; the same host at another port.
    service.setCanned("ok", R"({"id":"1001"})");
    for (const std::string& location : {catcher.url("/steal"), service.url("/canned/ok")}) {
        SCOPED_TRACE(location);
        bool followed = location == service.url("/canned/ok");
        RawHttpServer graph("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + location +
                            "\r\nContent-Length: 0\r\n\r\n");
        auto params = std::make_shared<FBParams>(FBParams{{"access_token", "the token"}});
        RequestRecorder recorder;
        size_t before = service.received().size();
        start(graph.url("/me/photos"), params, "POST", recorder);
        ASSERT_TRUE(recorder.wait());
        EXPECT_EQ(recorder.result.has_value(), followed);
        EXPECT_EQ(service.received().size(), before + (followed ? 1 : 0));
        EXPECT_EQ(recorder.failsWith(platform::UrlError::RedirectRefused), !followed);
    }
    EXPECT_EQ(caught, 0);

    // clang-format off
    const std::tuple<const char*, const char*, bool> rules[] = {
        {"https://graph.example/me", "https://graph.example/v2/me", true},
        {"https://graph.example/me", "https://GRAPH.example:8443/me", true},
        {"http://127.0.0.1:1/me", "https://127.0.0.1:2/me", true},
        {"http://127.0.0.1:1/me", "http://127.0.0.1:2/me", true},
        {"https://graph.example/me", "http://graph.example/me", false},
        {"https://graph.example/me", "https://evil.example/me", false},
        {"https://graph.example/me", "https://graph.example.evil.example/me", false},
        {"http://127.0.0.1/me", "http://127.0.0.2/me", false},
        {"http://127.0.0.1:1/me", "http://localhost:1/me", false},
        {"https://graph.example/me", "ftp://graph.example/me", false},
        {"https://graph.example/me", "not a url", false},
    };
    // clang-format on
    for (auto [from, to, allowed] : rules)
        EXPECT_EQ(platform::UrlConnection::isRedirectWithinHost(from, to), allowed)
            << from << " -> " << to;
}

}  // namespace
}  // namespace quorbit::facebook
