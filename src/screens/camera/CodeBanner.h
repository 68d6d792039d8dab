#pragma once

#include <functional>
#include <memory>
#include <string>

#include "codes/CodeContent.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace quorbit::camera_screen {

// The banner over the live view that says what a code in the picture holds ("code-banner"
// to scripts): a first line (a link's host in bold, a network's name, the number, address,
// position or text), a link's whole address below it, and the line that says what a tap
// does. A tap anywhere on it calls the tap handler.
class CodeBanner : public platform::View {
  public:
    explicit CodeBanner(std::function<void()> tapped);

    // Shows content; the banner's height follows from it (height()).
    void setContent(const codes::CodeContent& content);
    const codes::CodeContent& content() const { return _content; }
    // Replaces the action line for a moment's confirmation ("Copied"); resetAction() puts
    // it back.
    void confirm(const std::string& text);
    void resetAction();
    // The height the content needs at the banner's width.
    double preferredHeight() const;

    const std::shared_ptr<platform::Label>& titleLabel() const { return _title; }
    const std::shared_ptr<platform::Label>& detailLabel() const { return _detail; }
    const std::shared_ptr<platform::Label>& actionLabel() const { return _action; }

    void touchesBegan(const std::vector<platform::Touch>&) override {}
    void touchesMoved(const std::vector<platform::Touch>&) override {}
    void touchesCancelled(const std::vector<platform::Touch>&) override {}
    void touchesEnded(const std::vector<platform::Touch>&) override;
    void layoutSubviews() override;

  private:
    int titleLines() const;
    std::string actionText() const;

    std::function<void()> _tapped;
    codes::CodeContent _content;
    std::shared_ptr<platform::Label> _title, _detail, _action;
};

}  // namespace quorbit::camera_screen
