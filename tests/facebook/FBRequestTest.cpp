#include <gtest/gtest.h>

#include "FBTestSupport.h"
#include "MockFacebookService.h"
#include "facebook/FBConfiguration.h"
#include "facebook/FBRequest.h"
#include "json/JsonLog.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::facebook {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::MockFacebookService;
using testing::RequestRecorder;

std::shared_ptr<const platform::Image> checkerImage() {
    auto image = std::make_shared<platform::Image>(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            std::uint8_t* p = image->pixel(x, y);
            p[0] = std::uint8_t(60 * x);
            p[1] = std::uint8_t(80 * y);
            p[2] = (x + y) % 2 ? 255 : 0;
            p[3] = 255;
        }
    return image;
}

std::shared_ptr<FBRequest> start(const std::string& url, std::shared_ptr<FBParams> params,
                                 const std::string& method, RequestRecorder& recorder) {
    auto request =
        FBRequest::getRequestWithParams(std::move(params), method, recorder.delegate, url);
    request->connect();
    return request;
}

class FBRequestTest : public ::testing::Test {
  protected:
    MockFacebookService service;
};

TEST_F(FBRequestTest, QueryStringsAsTheServerReceivesThem) {
    struct Case {
        const char* name;
        std::string path;  // under canned/
        FBParams params;
        const char* method;
        std::string target;  // what the server saw
    };
    const std::vector<Case> cases = {
        {"no parameters: a lone question mark", "/canned/a", {}, "GET", "/canned/a?"},
        {"a query already there: an ampersand",
         "/canned/a?x=1",
         {{"k", "v"}},
         "GET",
         "/canned/a?x=1&k=v"},
        {"values escaped, keys not, order kept",
         "/canned/a",
         {{"message", "a &b=c"}, {"z_key", "é!*'();:@&=+$,/?%#[]~-_."}},
         "POST",
         "/canned/"
         "a?message=a%20%26b%3Dc&z_key=%C3%A9%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%"
         "5B%5D~-_."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RequestRecorder recorder;
        start(service.url(c.path), std::make_shared<FBParams>(c.params), c.method, recorder);
        ASSERT_TRUE(recorder.wait());
        auto seen = service.last("/canned/a");
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->target, c.target);
        EXPECT_EQ(seen->method, c.method);
        EXPECT_EQ(seen->userAgent, "FacebookConnect");
    }
}

TEST_F(FBRequestTest, AFileInAGetIsLeftOutWithALogLineAndTheRequestStillGoes) {
    LogCapture log;
    auto params = std::make_shared<FBParams>(FBParams{{"a", "1"}});
    params->set("picture", checkerImage());
    params->set("blob", FBData{"xyz"});
    RequestRecorder recorder;
    start(service.url("/canned/a"), params, "GET", recorder);
    ASSERT_TRUE(recorder.wait());
    EXPECT_TRUE(log.contains("can not use GET to upload a file"));
    auto seen = service.last("/canned/a");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->target, "/canned/a?a=1");
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
    EXPECT_FALSE(seen->multipartRefused);
    EXPECT_EQ(seen->contentType,
              "multipart/form-data; boundary=3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f");
    // The text parameters travel in the query too; files do not.
    EXPECT_EQ(
        seen->target,
        "/graph/me/photos?message=hello%20%26%20good%0D%0Abye&access_token=mock%20token%2F1%2B");
    // Text parts first (in order), then the files, each file under a name and a file name.
    ASSERT_EQ(seen->parts.size(), 4u);
    EXPECT_EQ(seen->parts[0].name, "message");
    EXPECT_EQ(seen->parts[0].content, "hello & good\r\nbye");
    EXPECT_EQ(seen->parts[1].name, "access_token");
    EXPECT_EQ(seen->parts[2].name, "picture");
    EXPECT_EQ(seen->parts[2].filename, "picture");
    EXPECT_EQ(seen->parts[2].contentType, "image/png");
    EXPECT_EQ(seen->parts[3].name, "blob");
    EXPECT_EQ(seen->parts[3].filename, "blob");
    EXPECT_EQ(seen->parts[3].contentType, "content/unknown");
    EXPECT_EQ(seen->parts[3].content, std::string("\0\x01--\r\n", 6));

    auto decoded = platform::ImageCodec::decodePng(seen->parts[2].content);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixels(), checkerImage()->pixels());
}

TEST_F(FBRequestTest, EveryWayAnAnswerIsInterpreted) {
    enum Expect { LoadJson, LoadRaw, Fail };
    struct Case {
        const char* name;
        std::string body;
        Expect expect;
        long code = 0;
        std::string userInfoKey = {};
        std::string userInfoValue = {};
    };
    const std::vector<Case> cases = {
        {"literal true", "true", LoadJson},
        {"true and a newline is not the literal", "true\n", LoadRaw},
        {"literal false", "false", Fail, 10000, "error_msg", "This operation can not be completed"},
        {"error key", R"({"error":{"type":"OAuthException","message":"bad"}})", Fail, 10000,
         "error", R"({"type":"OAuthException","message":"bad"})"},
        {"error and error_code: error wins", R"({"error":"x","error_code":5})", Fail, 10000,
         "error", "x"},
        {"error_code", R"({"error_code":190,"error_msg":"expired"})", Fail, 190, "error_msg",
         "expired"},
        {"error_code as text", R"({"error_code":"341"})", Fail, 341, "error_code", "341"},
        {"error_code that is no number", R"({"error_code":null})", Fail, 10000, "error_code",
         "null"},
        {"error_msg alone", R"({"error_msg":"nope","id":3})", Fail, 10000, "id", "3"},
        {"error_reason alone", R"({"error_reason":"user_denied"})", Fail, 10000, "error_reason",
         "user_denied"},
        {"plain object", R"({"id":"42","name":"Ann"})", LoadJson},
        {"array, whatever it holds", R"([{"error":1},2])", LoadJson},
        {"JSON scalar", "42", LoadRaw},
        {"not JSON", "<html>oops</html>", LoadRaw},
        {"truncated JSON", R"({"id":"4)", LoadRaw},
        {"not UTF-8", "{\"name\":\"\xff\xfe\"}", LoadRaw},
        {"empty body", "", LoadRaw},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setCanned("answer", c.body);
        RequestRecorder recorder;
        start(service.url("/canned/answer"), std::make_shared<FBParams>(), "GET", recorder);
        ASSERT_TRUE(recorder.wait());
        EXPECT_EQ(recorder.raw, c.body);
        switch (c.expect) {
            case LoadJson:
                ASSERT_TRUE(recorder.result);
                ASSERT_TRUE(recorder.result->isJson());
                EXPECT_FALSE(recorder.error);
                if (c.body == "true") {
                    EXPECT_EQ(*recorder.result->value, json::Value::object({{"result", "true"}}));
                }
                break;
            case LoadRaw:
                ASSERT_TRUE(recorder.result);
                EXPECT_FALSE(recorder.result->isJson());
                EXPECT_EQ(recorder.result->rawBytes, c.body);
                break;
            case Fail:
                EXPECT_FALSE(recorder.result);
                ASSERT_TRUE(recorder.error);
                EXPECT_EQ(recorder.error->domain, "facebookErrDomain");
                EXPECT_EQ(recorder.error->code, c.code);
                EXPECT_EQ(recorder.error->userInfo[c.userInfoKey], c.userInfoValue);
                break;
        }
    }
}

TEST_F(FBRequestTest, ADelegateWithOnlyTheRawCallbackGetsTheBytesAndNothingIsParsed) {
    std::vector<std::string> jsonLog;
    json::JsonLog::setSink([&jsonLog](const std::string& line) { jsonLog.push_back(line); });
    service.setCanned("answer", "not json at all");
    auto delegate = std::make_shared<FBRequestDelegate>();
    std::optional<std::string> raw;
    delegate->didLoadRawResponse = [&raw](FBRequest&, const std::string& bytes) { raw = bytes; };
    auto request =
        FBRequest::getRequestWithParams({}, "GET", delegate, service.url("/canned/answer"));
    request->connect();
    EXPECT_TRUE(platform::RunLoop::main().runUntil([&] { return !request->loading(); }, 5s));
    json::JsonLog::setSink({});
    EXPECT_EQ(raw, "not json at all");
    EXPECT_TRUE(jsonLog.empty());
}

TEST_F(FBRequestTest, ASecondResponseHeaderStartsTheBodyAgain) {
    RequestRecorder recorder;
    auto request = FBRequest::getRequestWithParams({}, "GET", recorder.delegate, service.url("/x"));
    platform::UrlResponse response;
    response.statusCode = 200;
    request->connectionDidReceiveResponse(response);
    request->connectionDidReceiveData("<html>an interim page</html>");
    request->connectionDidReceiveResponse(response);
    request->connectionDidReceiveData("tr");
    request->connectionDidReceiveData("ue");
    request->connectionDidFinishLoading();
    ASSERT_TRUE(recorder.result);
    EXPECT_EQ(recorder.raw, "true");
    EXPECT_TRUE(recorder.result->isJson());
    EXPECT_EQ(std::count(recorder.calls.begin(), recorder.calls.end(), "response"), 2);
}

TEST_F(FBRequestTest, ConnectionFailuresArePassedOnUnchanged) {
    // A request that stands still past its (shortened) timeout.
    RequestRecorder slow;
    auto request = FBRequest::getRequestWithParams({}, "GET", slow.delegate, service.url("/slow"));
    request->setTimeoutInterval(std::chrono::duration<double>(0.3));
    request->connect();
    EXPECT_TRUE(request->loading());
    ASSERT_TRUE(slow.wait());
    ASSERT_TRUE(slow.error);
    EXPECT_TRUE(platform::isUrlError(*slow.error, platform::UrlErrorCode::TimedOut));
    EXPECT_EQ(slow.calls, (std::vector<std::string>{"loading", "fail"}));
    EXPECT_FALSE(request->loading());

    // An answer over 32 MiB.
    service.setCanned("huge", std::string(FBRequest::kMaxResponseSize + 1, ' '));
    RequestRecorder huge;
    start(service.url("/canned/huge"), {}, "GET", huge);
    ASSERT_TRUE(huge.wait(20s));
    ASSERT_TRUE(huge.error);
    EXPECT_TRUE(
        platform::isUrlError(*huge.error, platform::UrlErrorCode::DataLengthExceedsMaximum));
}

TEST_F(FBRequestTest, PlainHttpIsRefusedExceptOnTheLoopback) {
    RequestRecorder recorder;
    auto request = start("http://graph.example.invalid/me", {}, "GET", recorder);
    EXPECT_FALSE(request->loading());
    ASSERT_TRUE(recorder.wait());
    ASSERT_TRUE(recorder.error);
    EXPECT_TRUE(
        platform::isUrlError(*recorder.error, platform::UrlErrorCode::InsecureConnectionRefused));

    const std::pair<const char*, bool> cases[] = {
        {"https://graph.facebook.com/", true},
        {"http://127.0.0.1:8080/graph/", true},
        {"http://127.1.2.3/graph/", true},
        {"http://localhost:99/", true},
        {"http://[::1]:99/", true},
        {"http://graph.facebook.com/", false},
        {"http://127.0.0.1.evil.example/", false},
        {"http://localhost.evil.example/", false},
        {"http://127.0.0.1@evil.example/", false},
        {"http://evil.example\\@127.0.0.1/", false},
        {"http://127.0.0.256/", false},
        {"ftp://127.0.0.1/", false},
        {"127.0.0.1/graph/", false},
    };
    for (auto [url, allowed] : cases)
        EXPECT_EQ(FBConfiguration::isAllowedEndpoint(url), allowed) << url;
}

}  // namespace
}  // namespace quorbit::facebook
