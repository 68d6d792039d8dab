#include "screens/camera/CodeBanner.h"

#include <algorithm>

#include "platform/core/Translate.h"
#include "platform/ui/ControlNames.h"

namespace quorbit::camera_screen {

namespace {

constexpr double kPadding = 10;
constexpr double kTitleLine = 21;
constexpr double kDetailLine = 17;
constexpr double kActionLine = 18;
// Plain text wraps over this many lines at most (kTextLimit characters fit in a narrow
// window); the other kinds show one.
constexpr int kTextLines = 6;

std::shared_ptr<platform::Label> bannerLabel(platform::Font font, platform::Color colour) {
    auto label = std::make_shared<platform::Label>();
    label->setFont(font);
    label->setTextColor(colour);
    label->setUserInteractionEnabled(false);
    return label;
}

}  // namespace

CodeBanner::CodeBanner(std::function<void()> tapped) : _tapped(std::move(tapped)) {
    setControlName(controls::kCodeBanner);
    setBackgroundColor(platform::Color{0.08, 0.08, 0.1, 0.85});
    _title = bannerLabel(platform::Font::boldSystem(17), platform::Color::white());
    _detail = bannerLabel(platform::Font::system(13), platform::Color{0.8, 0.8, 0.85, 1});
    _detail->setNumberOfLines(2);
    _action = bannerLabel(platform::Font::boldSystem(13), platform::Color{1, 0.8, 0.2, 1});
    for (const auto& label : {_title, _detail, _action})
        addSubview(label);
    setHidden(true);
}

int CodeBanner::titleLines() const {
    return _content.kind == codes::ContentKind::Text ? kTextLines : 1;
}

std::string CodeBanner::actionText() const {
    switch (_content.kind) {
        case codes::ContentKind::Link:
            return platform::tr("Tap to open in the browser");
        case codes::ContentKind::Wifi:
            return _content.copyText.empty() ? platform::tr("Open network, no password")
                                             : platform::tr("Copy password");
        default:
            return _content.openUrl.empty() ? platform::tr("Tap to copy")
                                            : platform::tr("Tap to open");
    }
}

void CodeBanner::setContent(const codes::CodeContent& content) {
    _content = content;
    // Only a link's host is bold; other first lines are plain.
    bool link = content.kind == codes::ContentKind::Link;
    _title->setFont(link ? platform::Font::boldSystem(17) : platform::Font::system(16));
    _title->setNumberOfLines(titleLines());
    _title->setText(content.title);
    _detail->setText(content.detail);
    _detail->setHidden(content.detail.empty());
    resetAction();
    setNeedsLayout();
}

void CodeBanner::confirm(const std::string& text) {
    _action->setText(text);
}

void CodeBanner::resetAction() {
    _action->setText(actionText());
}

double CodeBanner::preferredHeight() const {
    double height = 2 * kPadding + kTitleLine * titleLines() + kActionLine;
    if (_content.kind == codes::ContentKind::Text) {
        // Short text takes fewer lines: about 38 characters fit a line of the narrowest
        // window.
        double chars = double(_content.title.size());
        double width = bounds().width() > 0 ? bounds().width() : 300;
        double perLine = std::max(10.0, (width - 2 * kPadding) / 8.0);
        int lines = std::clamp(int(chars / perLine) + 1, 1, kTextLines);
        height -= kTitleLine * (kTextLines - lines);
    }
    if (!_content.detail.empty()) height += kDetailLine * 2;
    return height;
}

void CodeBanner::layoutSubviews() {
    platform::Rect b = bounds();
    double width = b.width() - 2 * kPadding;
    double y = kPadding;
    double titleHeight =
        b.height() - 2 * kPadding - kActionLine - (_content.detail.empty() ? 0 : 2 * kDetailLine);
    _title->setFrame(platform::Rect(kPadding, y, width, titleHeight));
    y += titleHeight;
    if (!_content.detail.empty()) {
        _detail->setFrame(platform::Rect(kPadding, y, width, 2 * kDetailLine));
        y += 2 * kDetailLine;
    }
    _action->setFrame(platform::Rect(kPadding, y, width, kActionLine));
}

void CodeBanner::touchesEnded(const std::vector<platform::Touch>&) {
    if (_tapped) _tapped();
}

}  // namespace quorbit::camera_screen
