// The client against the mock service: the sign-in's answers, requests, logout, the saved
// session and the user's details.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "facebook/FBCallbackUrl.h"
#include "facebook/FBUrl.h"
#include "facebook/Facebook.h"
#include "facebook/Session.h"
#include "facebook/UserInfo.h"
#include "platform/net/CookieStore.h"
#include "support/FBTestSupport.h"
#include "support/MockFacebookService.h"

namespace quorbit::facebook {
namespace {

using namespace std::chrono_literals;
using testing::MockFacebookService;
using testing::RequestRecorder;
using testing::SessionRecorder;
const Date kNow = Date(std::chrono::seconds(1'700'000'000));

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
    // clang-format off
    const Case cases[] = {
        {"an hour left", "42", now + 1h, true, true},
        {"never expires", "42", distantFuture(), true, true},
        {"expired a second ago", "42", now - 1s, false, false},
        {"no expiry saved", "42", std::nullopt, true, false},
        {"no id saved", std::nullopt, now + 1h, false, false},
    };
    // clang-format on
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

}  // namespace
}  // namespace quorbit::facebook
