#include <gtest/gtest.h>

#include <functional>

#include "facebook/Session.h"
#include "facebook/UserInfo.h"
#include "support/FBTestSupport.h"
#include "support/MockFacebookService.h"
#include "support/Scratch.h"

namespace quorbit::facebook {
namespace {

using namespace std::chrono_literals;
using testing::MockFacebookService;

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        configuration = FBConfiguration::builtIn();
        configuration.appId = "777";
    }

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
    FBConfiguration configuration;
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
        bool restored;
        bool valid;
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
        if (!facebook) {
            // Nothing is removed by a restore that gives nothing.
            EXPECT_EQ(saved->contains("FBAccessToken"), true);
            continue;
        }
        EXPECT_EQ(reader.facebook(), facebook);
        EXPECT_EQ(reader.uid(), c.uid);
        EXPECT_EQ(facebook->accessToken(), "tok");
        EXPECT_EQ(facebook->isSessionValid(), c.valid);
    }
}

struct LoadRecorder : UserInfoLoadDelegate {
    std::vector<std::string> events;
    void userInfoDidLoad() override { events.push_back("loaded"); }
    void userInfoFailToLoad() override { events.push_back("failed"); }
};

class UserInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        facebook = Facebook::create("123", service.configuration("123"));
        facebook->setAccessToken(MockFacebookService::kToken);
        facebook->setExpirationDate(std::chrono::system_clock::now() + 1h);
    }
    bool waitForEvents(size_t count) {
        return platform::RunLoop::main().runUntil([&] { return recorder->events.size() >= count; },
                                                  5s);
    }

    MockFacebookService service;
    std::shared_ptr<Facebook> facebook;
    std::shared_ptr<LoadRecorder> recorder = std::make_shared<LoadRecorder>();
};

TEST_F(UserInfoTest, MeGivesTheNameAndIdThenTheFriendsFollow) {
    UserInfo info(facebook, recorder);
    info.requestAllInfo();
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(recorder->events, std::vector<std::string>{"loaded"});
    EXPECT_EQ(info.uid(), "42");
    EXPECT_EQ(info.name(), "Ann");
    EXPECT_EQ(service.last("/graph/me")->method, "GET");

    info.requestFriendsDetail();
    ASSERT_TRUE(waitForEvents(2));
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

TEST_F(UserInfoTest, AFailedOrShapelessAnswerReportsAFailure) {
    FBConfiguration canned = service.configuration("123");
    canned.graphURL = service.url("/canned/");
    auto client = Facebook::create("123", canned);
    for (const char* body : {R"({"error":{"message":"bad token"}})", "\"just a text\"", "[1]"}) {
        SCOPED_TRACE(body);
        recorder->events.clear();
        service.setCanned("me", body);
        UserInfo info(client, recorder);
        info.requestAllInfo();
        ASSERT_TRUE(waitForEvents(1));
        EXPECT_EQ(recorder->events, std::vector<std::string>{"failed"});
        EXPECT_FALSE(info.uid());
    }
}

TEST_F(UserInfoTest, AnAnswerArrivingAfterTheUserInfoIsGoneReachesNobody) {
    auto info = std::make_unique<UserInfo>(facebook, recorder);
    info->requestAllInfo();
    info.reset();
    platform::RunLoop::main().runFor(300ms);
    EXPECT_TRUE(recorder->events.empty());
}

}  // namespace
}  // namespace quorbit::facebook
