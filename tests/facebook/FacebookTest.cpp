// The client against the mock service: requests and what their answers mean, the sign-in's
// answers, logout, the saved session, the user's details, and sharing from the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <limits>
#include <thread>

#include "facebook/FBCallbackUrl.h"
#include "facebook/FBConfiguration.h"
#include "facebook/FBRequest.h"
#include "facebook/FBUrl.h"
#include "facebook/Facebook.h"
#include "facebook/Session.h"
#include "facebook/UserInfo.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/net/CookieStore.h"
#include "support/FBTestSupport.h"
#include "support/MockFacebookService.h"
#include "support/QuorbitProcess.h"

namespace quorbit::facebook {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing::MockFacebookService;
using testing::RawHttpServer;
using testing::RequestRecorder;
using testing::SessionRecorder;
const Date kNow = Date(std::chrono::seconds(1'700'000'000));

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

class FacebookServiceTest : public ::testing::Test {
  protected:
    void SetUp() override { facebook = Facebook::create("123", service.configuration("123")); }
    void signIn() {
        facebook->setAccessToken(MockFacebookService::kToken);
        facebook->setExpirationDate(std::chrono::system_clock::now() + 1h);
    }

    MockFacebookService service;
    std::shared_ptr<Facebook> facebook;
};

// Requests made directly, the client's own unused.
using FBRequestTest = FacebookServiceTest;

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
    ASSERT_EQ(seen->parts.size(), 4u);
    auto decoded = platform::ImageCodec::decodePng(seen->parts[2].content);
    seen->parts[2].content.clear();  // compared as a picture
    auto tied = [](const Part& p) {
        return std::tie(p.name, p.filename, p.contentType, p.content);
    };
    const Part parts[] = {{"message", "", "", "hello & good\r\nbye"},
                          {"access_token", "", "", MockFacebookService::kToken},
                          {"picture", "picture", "image/png", ""},
                          {"blob", "blob", "content/unknown", std::string("\0\x01--\r\n", 6)}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tied(seen->parts[i]), tied(parts[i])) << i;
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
            EXPECT_THAT(recorder.error->localizedDescription(), HasSubstr(c.detail));
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
        EXPECT_THAT(recorder.error->localizedDescription(), HasSubstr(says));
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
    for (auto [from, to, allowed] : rules)
        EXPECT_EQ(platform::UrlConnection::isRedirectWithinHost(from, to), allowed)
            << from << " -> " << to;
}

TEST(FBCallbackUrl, EveryAnswerTheSignInCanComeBackWith) {
    using O = FBCallbackUrl::Outcome;
    struct Case {
        std::string url;
        O outcome;
        std::string token = {};
        std::optional<Date> expiry = {};
        bool cancelled = false;
    };
    const std::string fb = "fb123://authorize";
    // clang-format off
    const std::vector<Case> cases = {
        {fb + "#access_token=T%2F1&expires_in=3600", O::LoggedIn, "T/1", kNow + 3600s},
        {fb + "#access_token=T&expires_in=0", O::LoggedIn, "T", distantFuture()},
        {fb + "#access_token=T", O::LoggedIn, "T", distantFuture()},
        {fb + "#access_token=T&expires_in=99999999999999999999", O::LoggedIn, "T", distantFuture()},
        {fb + "#access_token=T&expires_in=-60", O::LoggedIn, "T", kNow - 60s},
        // Lifetimes are kept between 1970 and the distant future.
        {fb + "#access_token=T&expires_in=5558118399", O::LoggedIn, "T", distantFuture() - 1s},
        {fb + "#access_token=T&expires_in=5558118401", O::LoggedIn, "T", distantFuture()},
        {fb + "#access_token=T&expires_in=-1700000001", O::LoggedIn, "T", Date{}},
        // The query when there is no fragment; only the fragment when there are both.
        {fb + "?access_token=Q&expires_in=60", O::LoggedIn, "Q", kNow + 60s},
        {fb + "?access_token=Q#error=access_denied", O::NotLoggedIn, "", {}, true},
        {fb + "#error=access_denied", O::NotLoggedIn, "", {}, true},
        {fb + "#error=access_denied&error_code=200", O::NotLoggedIn, "", {}, false},
        {fb + "#error=other", O::NotLoggedIn, "", {}, false},
        {fb + "#error_code=1", O::NotLoggedIn, "", {}, false},
        {fb, O::NotLoggedIn, "", {}, true},
        {fb + "#error=service_disabled", O::RetryWithDialog},
        {fb + "#error=service_disabled_use_browser", O::RetryWithBrowser},
        // An empty token is no sign-in; pieces without "=" or with broken escapes are skipped.
        {fb + "#access_token=&expires_in=60", O::NotLoggedIn, "", {}, true},
        {fb + "#access_token&expires_in", O::NotLoggedIn, "", {}, true},
        {fb + "#access_token=%zz&error=x", O::NotLoggedIn, "", {}, false},
        {fb + "#access_token=%C3%28", O::NotLoggedIn, "", {}, true},
        // Not this application's.
        {"fb1234://authorize#access_token=T", O::NotForThisApp}, {"", O::NotForThisApp},
        {"fb12://authorize#access_token=T", O::NotForThisApp},
        {"https://fb123://authorize#access_token=T", O::NotForThisApp},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        FBCallbackUrl got = FBCallbackUrl::interpret(c.url, "123", kNow);
        EXPECT_EQ(got.outcome, c.outcome);
        if (c.outcome == O::LoggedIn) {
            EXPECT_EQ(got.token, c.token);
            EXPECT_EQ(got.expiry, c.expiry);
        }
        if (c.outcome == O::NotLoggedIn) {
            EXPECT_EQ(got.cancelled, c.cancelled);
        }
    }
}

// Escapes decode alike whatever the case of their hex digits, in every parser that takes
// them; one cut short or not UTF-8 leaves the value out.
TEST(FBUrl, EscapesDecodeWhateverTheCaseOfTheirDigits) {
    // clang-format off
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"T%2F1", "T/1"}, {"T%2f1", "T/1"}, {"%3D%3d", "=="}, {"%C3%A9%c3%a9", "\xc3\xa9\xc3\xa9"},
        {"T%2f", "T/"}, {"T%2", std::nullopt}, {"T%g1", std::nullopt}, {"%c3", std::nullopt},
    };
    // clang-format on
    for (const auto& [escaped, value] : cases) {
        SCOPED_TRACE(escaped);
        EXPECT_EQ(FBUrl::unescape(escaped), value);
        auto params = FBUrl::parseParams("a=1&k=" + escaped + "&z=2");
        EXPECT_EQ(params.count("k") ? std::optional(params["k"]) : std::nullopt, value);
        EXPECT_EQ(FBUrl::valueForNeedle("x?k=" + escaped + "&z=2", "k="), value);
        FBCallbackUrl got =
            FBCallbackUrl::interpret("fb123://authorize#access_token=" + escaped, "123", kNow);
        EXPECT_EQ(got.outcome,
                  value ? FBCallbackUrl::Outcome::LoggedIn : FBCallbackUrl::Outcome::NotLoggedIn);
        EXPECT_EQ(got.token, value.value_or(""));
    }
}

TEST(FBUrl, IntegersStopAtTheirLimits) {
    constexpr long long kMax = std::numeric_limits<long long>::max(), kMin = -kMax - 1;
    // clang-format off
    const std::pair<const char*, long long> cases[] = {
        {"60", 60}, {" +7s", 7}, {"-60", -60}, {"", 0}, {"x1", 0},
        {"9223372036854775807", kMax}, {"9223372036854775808", kMax},
        {"-9223372036854775807", -kMax}, {"-9223372036854775808", kMin},
        {"-99999999999999999999", kMin},
    };
    // clang-format on
    for (const auto& [text, value] : cases)
        EXPECT_EQ(FBUrl::integerValue(text), value) << text;
}

TEST_F(FacebookServiceTest, RequestsCarryTheCommonParametersAndTheTokenOnlyWhileValid) {
    const auto now = std::chrono::system_clock::now();
    const std::tuple<std::optional<std::string>, Date, const char*, bool> cases[] = {
        {MockFacebookService::kToken, now + 1h, "GET", true},
        {MockFacebookService::kToken, now + 1h, "POST", true},
        {std::nullopt, now + 1h, "GET", false},
        {"old", now - 1s, "GET", false},
    };
    service.setCanned("me", R"({"ok":1})");
    for (const auto& [token, expiry, method, sent] : cases) {
        SCOPED_TRACE(std::string(method) + " " + token.value_or("(none)"));
        facebook->setAccessToken(token);
        facebook->setExpirationDate(expiry);
        auto params = std::make_shared<FBParams>(FBParams{{"fields", "name"}});
        RequestRecorder recorder;
        facebook->requestWithGraphPath("../canned/me", params, method, recorder.delegate);
        // The caller's own dictionary gets the common parameters.
        EXPECT_EQ(params->text("format"), "json");
        ASSERT_TRUE(recorder.wait());
        auto seen = service.last("/canned/me");
        ASSERT_TRUE(seen);
        for (auto [key, value] : {std::pair{"fields", "name"},
                                  {"format", "json"},
                                  {"sdk", "ios"},
                                  {"sdk_version", "2"}})
            EXPECT_EQ(seen->param(key), value) << key;
        EXPECT_EQ(seen->param("access_token"), sent ? token : std::nullopt);
    }
}

TEST_F(FacebookServiceTest, EachRequestReportsToItsOwnDelegateWhenTheNextOneComes) {
    signIn();
    RequestRecorder first, second;
    auto slow = facebook->requestWithGraphPath("../slow", first.delegate);
    facebook->requestWithGraphPath("me", second.delegate);
    slow.reset();  // only the client's latest request is kept by anyone but the connection
    ASSERT_TRUE(second.wait());
    ASSERT_TRUE(first.wait());
    EXPECT_EQ(first.raw, "true");
    ASSERT_TRUE(second.result && second.result->isJson());
    EXPECT_EQ((*second.result->value)["name"], json::Value("Ann"));
}

TEST_F(FacebookServiceTest, RestRequestsTakeTheMethodFromTheParameters) {
    RequestRecorder recorder;
    EXPECT_EQ(facebook->requestWithParams(std::make_shared<FBParams>(FBParams{{"a", "1"}}),
                                          recorder.delegate),
              nullptr);
    service.setCanned("m", "true");
    auto params = std::make_shared<FBParams>(FBParams{{"method", "../canned/m"}, {"a", "1"}});
    ASSERT_TRUE(facebook->requestWithParams(params, recorder.delegate));
    ASSERT_TRUE(recorder.wait());
    auto seen = service.last("/canned/m");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->method, "GET");
    EXPECT_EQ(seen->param("a"), "1");
    EXPECT_EQ(seen->param("method"), std::nullopt);
}

TEST_F(FacebookServiceTest, LogoutExpiresTheTokenAtTheServiceAndForgetsTheSession) {
    // A cookie of the login host and one of another host.
    auto& cookies = platform::CookieStore::shared();
    for (const char* host : {"127.0.0.1", "localhost"})
        cookies.setCookie({.domain = host, .name = "a", .value = "1"});
    signIn();
    SessionRecorder session;
    facebook->logout(session.delegate);
    EXPECT_EQ(session.events, std::vector<std::string>{"logout"});
    EXPECT_FALSE(facebook->accessToken());
    EXPECT_FALSE(facebook->expirationDate());
    EXPECT_TRUE(cookies.cookiesForHost("127.0.0.1").empty());
    EXPECT_EQ(cookies.cookiesForHost("localhost").size(), 1u);
    cookies.deleteAllCookies();

    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return service.tokenExpired(); }, 5s));
    auto seen = service.last("/method/auth.expireSession");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->param("access_token"), MockFacebookService::kToken);
    EXPECT_EQ(seen->param("format"), "json");
}

TEST_F(FacebookServiceTest, AuthorisationTriesTheFacebookApplicationThenTheBrowser) {
    testing::OpenerStandIn opener(0);
    SessionRecorder session;
    facebook->authorize({"publish_stream", "offline_access"}, session.delegate);
    // Nothing handles fbauth:, so the browser got the sign-in page, set to come back here.
    auto opened = opener.opened();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].rfind(service.url("/dialog/oauth?"), 0), 0u) << opened[0];
    auto query = FBUrl::parseParams(opened[0].substr(opened[0].find('?') + 1));
    for (auto [key, value] : {std::pair{"client_id", "123"},
                              {"type", "user_agent"},
                              {"redirect_uri", "fb123://authorize"},
                              {"display", "touch"},
                              {"sdk", "2"},
                              {"scope", "publish_stream,offline_access"}})
        EXPECT_EQ(query[key], value) << key;
    EXPECT_TRUE(session.events.empty());  // the answer comes through the callback URL
    EXPECT_FALSE(facebook->loginDialog());

    // The service asks for the browser instead of its application: the browser, at once.
    EXPECT_TRUE(facebook->handleOpenURL("fb123://authorize#error=service_disabled_use_browser"));
    EXPECT_EQ(opener.opened(), (std::vector<std::string>{opened[0], opened[0]}));

    // The answer: another application's is not taken; a refusal, then a sign-in.
    EXPECT_FALSE(facebook->handleOpenURL("fb999://authorize#access_token=T"));
    EXPECT_TRUE(facebook->handleOpenURL("fb123://authorize#error=access_denied"));
    EXPECT_TRUE(facebook->handleOpenURL("fb123://authorize#access_token=abc&expires_in=3600"));
    EXPECT_EQ(session.events, (std::vector<std::string>{"cancelled", "login"}));
    EXPECT_EQ(facebook->accessToken(), "abc");
    EXPECT_TRUE(facebook->isSessionValid());
}

struct LoadRecorder : UserInfoLoadDelegate {
    std::vector<std::string> events;
    void userInfoDidLoad() override { events.push_back("loaded"); }
    void userInfoFailToLoad() override { events.push_back("failed"); }
    bool wait(size_t count) {
        return platform::RunLoop::main().runUntil([&] { return events.size() >= count; }, 5s);
    }
};

TEST_F(FacebookServiceTest, UserInfoGivesTheNameAndIdThenTheFriendsFollow) {
    signIn();
    auto recorder = std::make_shared<LoadRecorder>();
    UserInfo info(facebook, recorder);
    info.requestAllInfo();
    ASSERT_TRUE(recorder->wait(1));
    EXPECT_EQ(recorder->events, std::vector<std::string>{"loaded"});
    EXPECT_EQ(info.uid(), "42");
    EXPECT_EQ(info.name(), "Ann");
    EXPECT_EQ(service.last("/graph/me")->method, "GET");

    info.requestFriendsDetail();
    ASSERT_TRUE(recorder->wait(2));
    auto seen = service.last("/method/fql.query");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->method, "POST");
    EXPECT_EQ(seen->param("query"),
              "SELECT uid, name, pic_square, status FROM user WHERE uid IN (SELECT uid2 FROM "
              "friend WHERE uid1 = 42)");
    ASSERT_EQ(info.friendsInfo().size(), 2u);
    EXPECT_EQ(info.friendsInfo()[0],
              json::Value::object({{"uid", "7"},
                                   {"name", "Bo"},
                                   {"pic", "https://pics.invalid/7.jpg"},
                                   {"status", json::Value::object({{"message", "hi"}})}}));
    EXPECT_FALSE(info.friendsInfo()[1].contains("name"));
}

// A failed or shapeless answer reports a failure; one arriving after the user info is gone
// reaches nobody.
TEST_F(FacebookServiceTest, UserInfoFailsOnAFailedOrShapelessAnswerAndOutlivesNobody) {
    FBConfiguration canned = service.configuration("123");
    canned.graphURL = service.url("/canned/");
    auto client = Facebook::create("123", canned);
    for (const char* body : {R"({"error":{"message":"bad token"}})", "\"just a text\"", "[1]"}) {
        SCOPED_TRACE(body);
        auto recorder = std::make_shared<LoadRecorder>();
        service.setCanned("me", body);
        UserInfo info(client, recorder);
        info.requestAllInfo();
        ASSERT_TRUE(recorder->wait(1));
        EXPECT_EQ(recorder->events, std::vector<std::string>{"failed"});
        EXPECT_FALSE(info.uid());
    }
    signIn();
    auto recorder = std::make_shared<LoadRecorder>();
    auto info = std::make_unique<UserInfo>(facebook, recorder);
    info->requestAllInfo();
    info.reset();
    platform::RunLoop::main().runFor(300ms);
    EXPECT_TRUE(recorder->events.empty());
}

class SessionTest : public ::testing::Test {
  protected:
    std::shared_ptr<Facebook> client(std::optional<std::string> token, std::optional<Date> expiry) {
        auto facebook = Facebook::create("777", configuration);
        facebook->setAccessToken(std::move(token));
        facebook->setExpirationDate(expiry);
        return facebook;
    }
    // What a store reading the same file from scratch finds.
    std::unique_ptr<platform::UserDefaults> reread() const {
        return std::make_unique<platform::UserDefaults>(scratch / "defaults.json");
    }

    testing::ScratchDir scratch{"fb-session"};
    std::unique_ptr<platform::UserDefaults> store = reread();
    FBConfiguration configuration = [] {
        FBConfiguration c = FBConfiguration::builtIn();
        c.appId = "777";
        return c;
    }();
};

TEST_F(SessionTest, SaveWritesWhatIsThereAndRemovesWhatIsNot) {
    store->setBool("oneClickPublish", true);
    Session session(*store, configuration);
    auto expiry = std::chrono::system_clock::now() + 1h;
    session.setSessionWithFacebook(client("tok", expiry), "42");
    session.save();
    auto saved = reread();
    EXPECT_EQ(saved->stringForKey("FBUserId"), "42");
    EXPECT_EQ(saved->stringForKey("FBAccessToken"), "tok");
    ASSERT_TRUE(saved->dateForKey("FBSessionExpires"));
    EXPECT_LT(std::chrono::abs(*saved->dateForKey("FBSessionExpires") - expiry), 1ms);

    // Then an id with a client that has no token nor expiry, no id at all, and unsaved: what
    // is not there is removed, and nothing but the session's keys.
    const std::function<void()> steps[] = {
        [&] { session.setSessionWithFacebook(client(std::nullopt, std::nullopt), "42"); },
        [&] { session.setSessionWithFacebook(client("", std::nullopt), ""); },
        [&] { session.unsave(); },
    };
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        steps[step]();
        if (step < 2) session.save();
        saved = reread();
        EXPECT_EQ(saved->contains("FBUserId"), step == 0);
        EXPECT_FALSE(saved->contains("FBAccessToken"));
        EXPECT_FALSE(saved->contains("FBSessionExpires"));
        EXPECT_TRUE(saved->boolForKey("oneClickPublish"));
    }
    EXPECT_EQ(Session(*saved, configuration).restore(), nullptr);
}

TEST_F(SessionTest, RestoreGivesBackAClientUnlessNothingWasSavedOrItExpired) {
    auto now = std::chrono::system_clock::now();
    struct Case {
        const char* name;
        std::optional<std::string> uid;
        std::optional<Date> expiry;
        bool restored, valid;
    };
    const Case cases[] = {
        {"an hour left", "42", now + 1h, true, true},
        {"never expires", "42", distantFuture(), true, true},
        {"expired a second ago", "42", now - 1s, false, false},
        {"no expiry saved", "42", std::nullopt, true, false},
        {"no id saved", std::nullopt, now + 1h, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session writer(*store, configuration);
        writer.setSessionWithFacebook(client("tok", c.expiry), c.uid);
        writer.save();

        auto saved = reread();
        Session reader(*saved, configuration);
        auto facebook = reader.restore();
        EXPECT_EQ(facebook != nullptr, c.restored);
        // Nothing is removed by a restore that gives nothing.
        EXPECT_TRUE(saved->contains("FBAccessToken"));
        if (!facebook) continue;
        EXPECT_EQ(reader.facebook(), facebook);
        EXPECT_EQ(reader.uid(), c.uid);
        EXPECT_EQ(facebook->accessToken(), "tok");
        EXPECT_EQ(facebook->isSessionValid(), c.valid);
    }
}

// A photo, the share screen, the Facebook row while signed out, the sign-in in the browser
// (which hands the URL it comes back with to the running application through a second
// `quorbit URL` process), and the photo at the service once the sign-in has come back.
constexpr const char* kScript = R"(wait-frames 10
tap-control shutter
wait 800
tap-control last-photo
expect-control share-photo
tap-row 0
wait 6000
quit
)";

struct SharingEndToEnd : testing::ScratchFolderTest {
    SharingEndToEnd() : ScratchFolderTest("sharing-e2e") {}
};

TEST_F(SharingEndToEnd, APhotoPostedAfterSigningInFromTheShareScreen) {
    MockFacebookService service;
    std::filesystem::create_directory(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
    std::string browser = file("browser.py", testing::kBrowserStandIn);
    std::string script = file("share.script", kScript);
    // A filter kept from an earlier run, so that the picker of a first use stays closed.
    file("config/defaults.json", R"({"LastFilterUsed": 3})");
    auto config = service.configuration("123");
    testing::RunOptions options;
    options.limit = 90s;
    options.env = {
        {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
        {"QUORBIT_CONFIG_DIR", (dir / "config").string()},
        {"QUORBIT_PICTURES_DIR", (dir / "pictures").string()},
        {"QUORBIT_CAMERA", "synthetic"},
        {"QUORBIT_FB_APP_ID", "123"},
        {"QUORBIT_FB_GRAPH_URL", config.graphURL},
        {"QUORBIT_FB_REST_URL", config.restURL},
        {"QUORBIT_FB_DIALOG_URL", config.dialogURL},
        {"QUORBIT_FB_LOGIN_URL", config.loginURL},
        {"QUORBIT_URL_OPENER", "python3 " + browser + " " + testing::quorbitPath().string()},
        {"QUORBIT_REACHABILITY", "reachable"},
        {"QUORBIT_PROBE_URL", service.url("/canned/probe")},
        {"QUORBIT_LOG", "info"},
    };
    testing::Outcome outcome =
        testing::runQuorbit({"--headless", "--script", script}, dir, options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr("handed an incoming fb123: URL to the application"));
    // Neither process writes the token to the log, escaped or not.
    for (const char* token : {MockFacebookService::kToken, "mock%20token"})
        EXPECT_THAT(outcome.err, ::testing::Not(HasSubstr(token)));

    // The photo the camera took (the upload's form is the request's own test).
    ASSERT_EQ(service.uploads().size(), 1u) << outcome.err;
    auto photo = platform::ImageCodec::decodePng(service.uploads()[0].png);
    ASSERT_TRUE(photo);
    EXPECT_GT(photo->width(), 100);
}

}  // namespace
}  // namespace quorbit::facebook
