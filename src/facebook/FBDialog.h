#pragma once

#include <memory>
#include <optional>
#include <string>

#include "facebook/FBDialogDelegate.h"
#include "facebook/FBParams.h"
#include "platform/core/Error.h"
#include "platform/core/Translate.h"
#include "platform/host/Application.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

namespace quorbit::facebook {

// Whether the screen is a tablet's: its shorter side is 600 points or more. The dialog is
// then 0.6 of the screen and its title larger.
bool FBIsDeviceIPad();

// A modal panel that shows a Facebook web dialog: a web page framed by a drawn border and a
// blue title bar with an icon, a title and a close button, above everything in the key
// window. It loads the dialog URL with its parameters, watches every navigation for the
// redirect to the "fbconnect" scheme with which the service ends a dialog, and reports
// success, cancellation or failure to its delegate. It turns with the interface and gives
// the page more room while the keyboard is up in landscape. Made with create(); main
// thread only.
class FBDialog : public platform::View {
  public:
    static constexpr double kPadding = 10;  // between the application frame and the panel
    static constexpr double kBorderWidth = 10;
    static constexpr double kTitleMarginX = 8;
    static constexpr double kTitleMarginY = 4;
    static constexpr double kTransitionDuration = 0.3;
    static constexpr const char* kDefaultTitle = platform::N_("Connect to Facebook");
    // The alert shown when the dialog's page cannot be loaded: the reason, then the advice.
    static constexpr const char* kLoadFailedTitle = platform::N_("Cannot reach Facebook");
    // TRANSLATORS: %s is the reason, without its full stop.
    static constexpr const char* kLoadFailedMessage =
        platform::N_("%s. Check that this computer is online, then try again.");

    static std::shared_ptr<FBDialog> create();
    static std::shared_ptr<FBDialog> create(const std::string& url,
                                            std::shared_ptr<FBParams> params,
                                            std::weak_ptr<FBDialogDelegate> delegate);
    ~FBDialog() override;

    std::weak_ptr<FBDialogDelegate> delegate() const { return _delegate; }
    void setDelegate(std::weak_ptr<FBDialogDelegate> delegate) { _delegate = std::move(delegate); }
    const std::shared_ptr<FBParams>& params() const { return _params; }
    void setParams(std::shared_ptr<FBParams> params) { _params = std::move(params); }
    const std::string& serverURL() const { return _serverURL; }
    const std::optional<std::string>& loadingURL() const { return _loadingURL; }
    std::string title() const { return _titleLabel->text(); }
    void setTitle(std::string title) { _titleLabel->setText(std::move(title)); }

    // The parts of the panel, for the tests and the layout.
    const std::shared_ptr<platform::WebView>& webView() const { return _webView; }
    const std::shared_ptr<platform::ActivityIndicator>& spinner() const { return _spinner; }
    const std::shared_ptr<platform::ImageView>& iconView() const { return _iconView; }
    const std::shared_ptr<platform::Label>& titleLabel() const { return _titleLabel; }
    const std::shared_ptr<platform::Button>& closeButton() const { return _closeButton; }
    const std::shared_ptr<platform::View>& modalBackgroundView() const {
        return _modalBackgroundView;
    }
    platform::Application::Orientation orientation() const { return _orientation; }
    bool showingKeyboard() const { return _showingKeyboard; }

    // Loads the page and brings the panel up with its opening animation.
    void show();
    void load();
    void loadURL(const std::string& url, const FBParams* params);
    // url, "?" and the parameters escaped as in a request's query (always "?"; the URL
    // alone without parameters).
    static std::string generateURL(const std::string& url, const FBParams* params);
    // The value after needle (which includes its "=") up to the next "&", unescaped.
    static std::optional<std::string> getStringFromUrl(const std::string& url,
                                                       const std::string& needle);

    virtual void dialogDidSucceed(const std::string& url);
    virtual void dialogDidCancel(const std::optional<std::string>& url);
    void dismissWithSuccess(bool success, bool animated);
    void dismissWithError(const platform::Error& error, bool animated);
    // The close button.
    void cancel();
    void dismiss(bool animated);
    void postDismissCleanup();
    virtual void dialogWillAppear() {}
    virtual void dialogWillDisappear() {}
    void addObservers();
    void removeObservers();

    // The dialog is modal for the keyboard too: its page has the focus once shown, Escape
    // (from the page or the panel) closes it as the close button does, and no other key
    // reaches the screen beneath.
    bool canBecomeFocused() const override { return true; }
    void keyDown(const platform::KeyEvent& event) override;
    void keyUp(const platform::KeyEvent&) override {}

    // The web view's callbacks.
    bool shouldStartLoad(const std::string& url, platform::WebNavigationType type);
    void webViewDidFinishLoad();
    virtual void webViewDidFailLoad(const platform::Error& error);

    // Size and place the panel for the current interface orientation; with applyTransform
    // the panel is also turned with it.
    void sizeToFitOrientation(bool applyTransform);
    static platform::AffineTransform transformForOrientation(platform::Application::Orientation o);
    void screenDidResize();
    void deviceOrientationDidChange();
    void keyboardWillShow();
    void keyboardWillHide();
    void updateWebOrientation();

    bool draws() const override { return true; }
    void draw(platform::Canvas& canvas) override;

  protected:
    FBDialog();
    void build();
    std::shared_ptr<FBDialog> self();

    std::weak_ptr<FBDialogDelegate> _delegate;
    std::shared_ptr<FBParams> _params;
    std::string _serverURL;
    std::optional<std::string> _loadingURL;

  private:
    bool shouldRotateToOrientation(platform::Application::Orientation orientation) const;

    platform::WebViewDelegate _webDelegate;
    std::shared_ptr<platform::WebView> _webView;
    std::shared_ptr<platform::ActivityIndicator> _spinner;
    std::shared_ptr<platform::ImageView> _iconView;
    std::shared_ptr<platform::Label> _titleLabel;
    std::shared_ptr<platform::Button> _closeButton;
    platform::Application::Orientation _orientation = platform::Application::Orientation::Unknown;
    bool _showingKeyboard = false;
    bool _webGrownForKeyboard = false;
    bool _observing = false;
    bool _dismissing = false;  // from dismiss() until shown again
    std::shared_ptr<platform::View> _modalBackgroundView;
};

}  // namespace quorbit::facebook
