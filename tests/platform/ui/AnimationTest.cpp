#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Animation.h"
#include "platform/ui/View.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

TEST(Animation, PropertiesEndExactlyOnTheirNewValues) {
    const AffineTransform turned =
        AffineTransform::rotation(0.5).concat(AffineTransform::scale(2, 2));
    // clang-format off
    struct Case { const char* name; std::function<void(View&)> change; std::function<bool(const View&)> atEnd; };
    const Case cases[] = {
        {"alpha", [](View& v) { v.setAlpha(0.02); }, [](const View& v) { return v.alpha() == 0.02; }},
        {"transform", [&](View& v) { v.setTransform(turned); }, [&](const View& v) { return v.transform() == turned; }},
        {"frame", [](View& v) { v.setFrame(Rect(100, 200, 30, 40)); }, [](const View& v) { return v.frame() == Rect(100, 200, 30, 40); }},
        {"centre", [](View& v) { v.setCenter({160, 240}); }, [](const View& v) { return v.frame() == Rect(110, 190, 100, 100); }},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto view = std::make_shared<View>(Rect(0, 0, 100, 100));
        std::vector<bool> completions;
        Animation::animate(
            0.2, [&] { c.change(*view); }, [&](bool finished) { completions.push_back(finished); });
        EXPECT_FALSE(c.atEnd(*view)) << "starts from the old value";
        EXPECT_TRUE(Animation::isAnimating(view.get()));
        RunLoop::main().runFor(100ms);
        EXPECT_FALSE(c.atEnd(*view)) << "moving half way";
        ASSERT_TRUE(runUntil([&] { return !completions.empty(); }));
        EXPECT_TRUE(c.atEnd(*view));
        EXPECT_EQ(completions, std::vector<bool>{true});
        EXPECT_FALSE(Animation::isAnimating(view.get()));
    }
    EXPECT_EQ(Animation::runningCount(), 0);
}

// A new animation of a view cuts the running one short (it reports unfinished) and goes on
// from where the view was; one started from a completion runs after it.
TEST(Animation, ANewAnimationTakesOverAndACompletionMayChainTheNext) {
    auto view = std::make_shared<View>(Rect(0, 0, 100, 100));
    Calls done;
    Animation::animate(
        0.3, [&] { view->setAlpha(0); },
        [&](bool f) { done.push_back(f ? "fade finished" : "fade cut"); });
    RunLoop::main().runFor(100ms);
    double midway = view->alpha();
    EXPECT_TRUE(midway > 0 && midway < 1) << midway;
    Animation::animate(
        0.1,
        [&] {
            view->setTransform(AffineTransform::scale(1.1, 1.1));
            view->setAlpha(1);
        },
        [&](bool f) {
            done.push_back((f ? "grown " : "cut ") + std::to_string(view->transform().a));
            Animation::animate(
                0.05, [&] { view->setTransform(AffineTransform::identity()); },
                [&](bool g) { done.push_back(g ? "settled" : "cut"); });
        });
    EXPECT_EQ(done, Calls{"fade cut"});
    EXPECT_DOUBLE_EQ(view->alpha(), midway) << "continues from where it was";
    ASSERT_TRUE(runUntil([&] { return done.size() == 3; }));
    EXPECT_EQ(done, (Calls{"fade cut", "grown 1.100000", "settled"}));
    EXPECT_DOUBLE_EQ(view->alpha(), 1);
    EXPECT_TRUE(view->transform().isIdentity());
}

TEST(Animation, ImmediateAndEdgeCases) {
    auto view = std::make_shared<View>(Rect(0, 0, 100, 100));
    // No duration: applied and completed before animate returns.
    bool completed = false;
    Animation::animate(
        0, [&] { view->setAlpha(0.5); }, [&](bool f) { completed = f; });
    EXPECT_TRUE(completed);
    EXPECT_DOUBLE_EQ(view->alpha(), 0.5);
    // Nothing animatable changed: the completion still comes, later.
    completed = false;
    Animation::animate(
        0.05, [] {}, [&](bool f) { completed = f; });
    EXPECT_FALSE(completed);
    ASSERT_TRUE(runUntil([&] { return completed; }));
    // A view that dies mid-animation ends its animation without touching freed memory.
    completed = false;
    Animation::animate(
        0.1, [&] { view->setFrame(Rect(5, 5, 5, 5)); }, [&](bool) { completed = true; });
    view.reset();
    ASSERT_TRUE(runUntil([&] { return completed; }));
    EXPECT_EQ(Animation::runningCount(), 0);
    // finishAll jumps to the end.
    auto other = std::make_shared<View>(Rect(0, 0, 100, 100));
    bool finished = true;
    Animation::animate(
        5, [&] { other->setAlpha(0); }, [&](bool f) { finished = f; });
    Animation::finishAll(other.get());
    EXPECT_FALSE(finished);
    EXPECT_DOUBLE_EQ(other->alpha(), 0);
    EXPECT_EQ(Animation::runningCount(), 0);
}

}  // namespace
}  // namespace quorbit::platform
