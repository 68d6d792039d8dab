#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HudTestSupport.h"
#include "screens/progress/ProgressHud.h"

namespace quorbit::hud {
namespace {

using platform::Rect;
using platform::Size;
using platform::View;

Size measure(const std::string& text, const platform::Font& font) {
    platform::Label label;
    label.setFont(font);
    label.setText(text);
    return label.sizeThatFits();
}

// The indicator is a custom view of odd size, so that centring must round down.
constexpr double kIw = 51, kIh = 31;

std::shared_ptr<ProgressHud> laidOut(Size overlay, const std::string& text,
                                     const std::string& details, bool detailsInLabelFont = false,
                                     double xOffset = 0, double yOffset = 0) {
    auto hud = std::make_shared<ProgressHud>(Rect(0, 0, overlay.width, overlay.height));
    hud->setCustomView(std::make_shared<View>(Rect(0, 0, kIw, kIh)));
    hud->setMode(ProgressHud::Mode::CustomView);
    if (detailsInLabelFont) hud->setDetailsLabelFont(hud->labelFont());
    hud->setXOffset(xOffset);
    hud->setYOffset(yOffset);
    hud->setLabelText(text);
    hud->setDetailsLabelText(details);
    hud->layoutIfNeeded();
    return hud;
}

TEST(ProgressHudLayout, BoxWidthFollowsTheWidestLine) {
    const std::string longText = "Uploading your photo to the server";
    // What sets the box width: the indicator, the label, the details line (each plus 40),
    // or the overlay (less 40, when a line is wider than the overlay less 40).
    enum Widest { Indicator, Label, Details, Overlay };
    struct Case {
        const char* name;
        double overlayWidth;
        std::string text, details;
        Widest widest;
        bool detailsInLabelFont = false;
    };
    const Case cases[] = {
        {"indicator alone", 320, "", "", Indicator},
        {"details without a label are not shown", 320, "", "1 of 3", Indicator},
        {"label narrower than the indicator", 320, "Done", "", Indicator},
        {"wider label", 320, "Uploading Photo", "", Label},
        {"label wider than the overlay less 40", 200, longText, "", Overlay},
        {"narrower details", 320, "Uploading Photo", "1 of 3", Label},
        {"details between the box width less 40 and the box width", 320, "Uploading",
         "Uploading...", Label, true},
        {"wider details", 320, "Done", "Sending your photo to the album", Details},
        {"details wider than the overlay less 40", 200, "Done", longText + longText, Overlay},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto hud = laidOut({c.overlayWidth, 300}, c.text, c.details, c.detailsInLabelFont);
        Size label = measure(c.text, hud->labelFont());
        Size details = measure(c.details, hud->detailsLabelFont());
        const double widths[] = {kIw, label.width, details.width, c.overlayWidth - 80};
        EXPECT_EQ(hud->width(), widths[c.widest] + 40);
        bool labelShown = !c.text.empty(), detailsShown = labelShown && !c.details.empty();
        EXPECT_EQ(hud->height(), kIh + 40 + (labelShown ? label.height + 4 : 0) +
                                     (detailsShown ? details.height + 4 : 0));
        EXPECT_EQ(hud->label().superview() != nullptr, labelShown);
        EXPECT_EQ(hud->detailsLabel().superview() != nullptr, detailsShown);
        for (const platform::Label* line : {&hud->label(), &hud->detailsLabel()}) {
            if (!line->superview()) continue;
            EXPECT_NEAR(line->frame().midX(), c.overlayWidth / 2, 0.5) << line->text();
            EXPECT_LE(line->frame().width(), hud->width()) << line->text();
        }
    }
}

TEST(ProgressHudLayout, LinesStackUnderTheIndicatorAndAllMoveByTheOffsets) {
    auto alone = laidOut({320, 480}, "", "", false, 6, 8);
    EXPECT_EQ(alone->indicator()->frame(), Rect(134 + 6, 224 + 8, kIw, kIh));

    auto hud = laidOut({320, 480}, "Uploading Photo", "1 of 3", false, 6, 8);
    Size l = measure("Uploading Photo", hud->labelFont());
    Size d = measure("1 of 3", hud->detailsLabelFont());
    double y = 224 + 8 - std::floor(l.height / 2 + 2) - std::floor(d.height / 2 + 2);
    EXPECT_EQ(hud->indicator()->frame(), Rect(140, y, kIw, kIh));
    EXPECT_EQ(hud->label().frame(),
              Rect(std::floor((320 - l.width) / 2) + 6, y + kIh + 4, l.width, l.height));
    EXPECT_EQ(hud->detailsLabel().frame(), Rect(std::floor((320 - d.width) / 2) + 6,
                                                y + kIh + 4 + l.height + 4, d.width, d.height));
}

TEST(ProgressHudLayout, LinesWhoseTextIsTakenAwayLeaveTheBox) {
    auto hud = laidOut({320, 480}, "Uploading Photo", "1 of 3");
    hud->setLabelText("");
    hud->layoutIfNeeded();
    EXPECT_EQ(hud->label().superview(), nullptr);
    EXPECT_EQ(hud->detailsLabel().superview(), nullptr);
    EXPECT_EQ(hud->height(), kIh + 40);
}

}  // namespace
}  // namespace quorbit::hud
