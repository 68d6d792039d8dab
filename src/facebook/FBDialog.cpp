#include "facebook/FBDialog.h"

#include "platform/ui/ControlNames.h"

#include <algorithm>
#include <cmath>

#include "facebook/FBError.h"
#include "facebook/FBUrl.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Text.h"
#include "platform/core/Translate.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/gfx/Canvas.h"
#include "platform/net/UrlError.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Window.h"

namespace quorbit::facebook {

using platform::AffineTransform;
using platform::Animation;
using platform::Application;
using platform::Color;
using platform::Point;
using platform::Rect;
using Orientation = platform::Application::Orientation;

namespace {

const Color kBorderFill{0.3, 0.3, 0.3, 0.8};
const Color kTitleFill{0.42578125, 0.515625, 0.703125, 1.0};
const Color kTitleOutline{0.23, 0.35, 0.6, 1.0};
const Color kWebOutline{0.3, 0.3, 0.3, 1.0};
const Color kCloseTitle{167 / 255.0, 184 / 255.0, 216 / 255.0, 1.0};

// Four one-point lines along the rectangle's edges.
void strokeLines(platform::Canvas& canvas, Rect r, Color color) {
    double x = r.x(), y = r.y(), w = r.width(), h = r.height();
    canvas.save();
    canvas.setLineWidth(1);
    canvas.beginPath();
    canvas.moveTo(Point{x + 0.5, y - 0.5});
    canvas.lineTo(Point{x + w, y - 0.5});
    canvas.moveTo(Point{x + 0.5, y + h - 0.5});
    canvas.lineTo(Point{x + w - 0.5, y + h - 0.5});
    canvas.moveTo(Point{x + w - 0.5, y});
    canvas.lineTo(Point{x + w - 0.5, y + h});
    canvas.moveTo(Point{x + 0.5, y});
    canvas.lineTo(Point{x + 0.5, y + h});
    canvas.stroke(color);
    canvas.restore();
}

// The rectangle filled, or with rounded corners (inset and offset by half a point).
void fillRect(platform::Canvas& canvas, Rect r, Color color, double radius) {
    if (radius == 0) {
        canvas.fillRect(r, color);
        return;
    }
    canvas.beginPath();
    canvas.addRoundedRect(r.insetBy(0.5, 0.5).offsetBy(0.5, 0.5), radius);
    canvas.fill(color);
}

}  // namespace

bool FBIsDeviceIPad() {
    Rect screen = platform::Window::screenBounds();
    return std::min(screen.width(), screen.height()) >= 600;
}

std::shared_ptr<FBDialog> FBDialog::create() {
    std::shared_ptr<FBDialog> dialog(new FBDialog());
    dialog->build();
    return dialog;
}

std::shared_ptr<FBDialog> FBDialog::create(const std::string& url, std::shared_ptr<FBParams> params,
                                           std::weak_ptr<FBDialogDelegate> delegate) {
    auto dialog = create();
    dialog->_serverURL = url;
    dialog->_params = std::move(params);
    dialog->_delegate = std::move(delegate);
    return dialog;
}

FBDialog::FBDialog() = default;

void FBDialog::build() {
    setBackgroundColor(Color::clear());
    setOpaque(false);
    setAutoresizingMask(FlexibleWidth | FlexibleHeight);
    setAutoresizesSubviews(true);

    bool tablet = FBIsDeviceIPad();
    _iconView = std::make_shared<platform::ImageView>(
        platform::imageNamed("FBDialog.bundle/images/fbicon.png"));
    addSubview(_iconView);

    _closeButton = platform::Button::create(platform::Button::Type::Custom);
    _closeButton->setImage(platform::imageNamed("FBDialog.bundle/images/close.png"));
    _closeButton->setTitleColor(kCloseTitle);
    _closeButton->setTitleColor(Color::white(), platform::Button::Highlighted);
    _closeButton->setFont(platform::Font::boldSystem(12));
    _closeButton->setShowsTouchWhenHighlighted(true);
    _closeButton->setAutoresizingMask(FlexibleLeftMargin | FlexibleBottomMargin);
    _closeButton->setControlName(controls::kFacebookDialogClose);
    std::weak_ptr<View> weak = weak_from_this();
    _closeButton->addAction([weak](platform::Button&) {
        if (auto view = weak.lock()) std::static_pointer_cast<FBDialog>(view)->cancel();
    });
    addSubview(_closeButton);

    _titleLabel = std::make_shared<platform::Label>();
    _titleLabel->setText(platform::tr(kDefaultTitle));
    _titleLabel->setBackgroundColor(Color::clear());
    _titleLabel->setOpaque(false);
    _titleLabel->setTextColor(Color::white());
    _titleLabel->setFont(platform::Font::boldSystem(tablet ? 18 : 14));
    _titleLabel->setAutoresizingMask(FlexibleRightMargin | FlexibleBottomMargin);
    addSubview(_titleLabel);

    _webDelegate.shouldStartLoad = [this](platform::WebView&, const std::string& url,
                                          platform::WebNavigationType type) {
        auto keep = self();
        return shouldStartLoad(url, type);
    };
    _webDelegate.didFinishLoad = [this](platform::WebView&) {
        auto keep = self();
        webViewDidFinishLoad();
    };
    _webDelegate.didFailLoad = [this](platform::WebView&, const platform::Error& error) {
        auto keep = self();
        webViewDidFailLoad(error);
    };
    _webView = std::make_shared<platform::WebView>(Rect(10, 10, 480, 480));
    _webView->setAutoresizingMask(FlexibleWidth | FlexibleHeight);
    _webView->setDelegate(&_webDelegate);
    _webView->setControlName(controls::kFacebookDialogPage);
    addSubview(_webView);

    _spinner = std::make_shared<platform::ActivityIndicator>(
        platform::ActivityIndicator::Style::WhiteLarge);
    _spinner->setAutoresizingMask(FlexibleTopMargin | FlexibleRightMargin | FlexibleBottomMargin |
                                  FlexibleLeftMargin);
    addSubview(_spinner);

    _modalBackgroundView = std::make_shared<platform::View>();
    _modalBackgroundView->setBackgroundColor(Color::clear());
    _modalBackgroundView->setOpaque(false);
}

FBDialog::~FBDialog() {
    if (_webView) _webView->setDelegate(nullptr);
    if (_observing) removeObservers();
}

std::shared_ptr<FBDialog> FBDialog::self() {
    return std::static_pointer_cast<FBDialog>(shared_from_this());
}

// Loading.

void FBDialog::load() {
    loadURL(_serverURL, _params.get());
}

void FBDialog::loadURL(const std::string& url, const FBParams* params) {
    _loadingURL = generateURL(url, params);
    _webView->loadRequest(*_loadingURL);
}

std::string FBDialog::generateURL(const std::string& url, const FBParams* params) {
    if (!params) return url;
    std::string query;
    for (const auto& [key, value] : params->entries()) {
        if (FBParams::isFile(value)) continue;
        if (!query.empty()) query += '&';
        query += key + "=" + platform::percentEncode(std::get<std::string>(value));
    }
    return url + "?" + query;
}

std::optional<std::string> FBDialog::getStringFromUrl(const std::string& url,
                                                      const std::string& needle) {
    return FBUrl::valueForNeedle(url, needle);
}

// Ending.

void FBDialog::dialogDidSucceed(const std::string& url) {
    if (auto d = _delegate.lock(); d && d->dialogCompleteWithUrl) d->dialogCompleteWithUrl(url);
    dismissWithSuccess(true, true);
}

void FBDialog::dialogDidCancel(const std::optional<std::string>& url) {
    if (auto d = _delegate.lock(); d && d->dialogDidNotCompleteWithUrl)
        d->dialogDidNotCompleteWithUrl(url.value_or(""));
    dismissWithSuccess(false, true);
}

void FBDialog::dismissWithSuccess(bool success, bool animated) {
    if (auto d = _delegate.lock()) {
        if (success && d->dialogDidComplete) d->dialogDidComplete(*this);
        if (!success && d->dialogDidNotComplete) d->dialogDidNotComplete(*this);
    }
    dismiss(animated);
}

void FBDialog::dismissWithError(const platform::Error& error, bool animated) {
    if (auto d = _delegate.lock(); d && d->didFailWithError) d->didFailWithError(*this, error);
    dismiss(animated);
}

void FBDialog::cancel() {
    dialogDidCancel(std::nullopt);
}

void FBDialog::keyDown(const platform::KeyEvent& event) {
    // Once going (it fades out), a second Escape must not tell the delegate twice.
    if (event.key == platform::KeyEvent::Key::Escape && !event.repeat && superview() &&
        !_dismissing)
        cancel();
}

void FBDialog::dismiss(bool animated) {
    _dismissing = true;
    dialogWillDisappear();
    _loadingURL.reset();
    if (!animated) {
        postDismissCleanup();
        return;
    }
    auto keep = self();
    Animation::animate(
        kTransitionDuration, [this] { setAlpha(0); }, [keep](bool) { keep->postDismissCleanup(); });
}

void FBDialog::postDismissCleanup() {
    removeObservers();
    removeFromSuperview();
    _modalBackgroundView->removeFromSuperview();
}

void FBDialog::addObservers() {
    auto& center = platform::NotificationCenter::defaultCenter();
    const void* owner = this;
    std::weak_ptr<View> weak = weak_from_this();
    auto on = [weak](void (FBDialog::*method)()) {
        return [weak, method](const platform::Notification&) {
            if (auto view = weak.lock()) (static_cast<FBDialog*>(view.get())->*method)();
        };
    };
    center.addObserver(platform::kDeviceOrientationDidChangeNotification, nullptr,
                       on(&FBDialog::deviceOrientationDidChange), owner);
    center.addObserver(platform::kScreenDidResizeNotification, nullptr,
                       on(&FBDialog::screenDidResize), owner);
    center.addObserver(platform::kKeyboardWillShowNotification, nullptr,
                       on(&FBDialog::keyboardWillShow), owner);
    _observing = true;
    center.addObserver(platform::kKeyboardWillHideNotification, nullptr,
                       on(&FBDialog::keyboardWillHide), owner);
}

void FBDialog::removeObservers() {
    platform::NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
    _observing = false;
}

// The web view's callbacks.

bool FBDialog::shouldStartLoad(const std::string& url, platform::WebNavigationType type) {
    if (FBUrl::schemeOf(url) == std::string("fbconnect")) {
        std::string_view specifier = std::string_view(url).substr(url.find(':') + 1);
        if (specifier.substr(0, 8) == "//cancel") {
            std::optional<std::string> code = getStringFromUrl(url, "error_code=");
            std::optional<std::string> message = getStringFromUrl(url, "error_msg=");
            if (code) {
                platform::Error error{kFacebookErrorDomain,
                                      static_cast<long>(FBUrl::integerValue(*code)),
                                      {},
                                      {},
                                      nullptr};
                if (message) error.userInfo["error_msg"] = *message;
                dismissWithError(error, true);
            } else {
                dialogDidCancel(url);
            }
        } else {
            dialogDidSucceed(url);
        }
        return false;
    }
    if (_loadingURL && url == *_loadingURL) return true;
    if (type != platform::WebNavigationType::LinkClicked) return true;
    if (auto d = _delegate.lock();
        d && d->shouldOpenURLInExternalBrowser && !d->shouldOpenURLInExternalBrowser(*this, url))
        return false;
    platform::UrlOpener::shared().openURL(url);
    return false;
}

void FBDialog::webViewDidFinishLoad() {
    _spinner->stopAnimating();
    _spinner->setHidden(true);
    setTitle(_webView->stringByEvaluatingJavaScript("document.title"));
    updateWebOrientation();
}

void FBDialog::webViewDidFailLoad(const platform::Error& error) {
    // A load the filter refused is no failure of the dialog, nor is one that ends while the
    // dialog is going away: the user has left it, and its delegate has heard how.
    if (error.is(platform::PageLoadError::FrameLoadInterrupted) || _dismissing) return;
    // A page that could not be had (no network, a name not found, refused, timed out) would
    // otherwise take the dialog away with no word: the user is told why. A load cancelled by
    // closing the dialog needs no word.
    if (!error.is(platform::UrlError::Cancelled)) {
        std::string reason = error.localizedDescription();
        while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
            reason.pop_back();
        platform::AlertView::create(
            platform::tr(kLoadFailedTitle),
            platform::format(platform::tr(kLoadFailedMessage).c_str(), reason.c_str()), nullptr,
            platform::tr("OK"))
            ->show();
    }
    dismissWithError(error, true);
}

// Showing, turning and the keyboard.

void FBDialog::show() {
    _dismissing = false;
    load();
    sizeToFitOrientation(false);

    const double width = bounds().width(), height = bounds().height();
    const double innerWidth = width - (kBorderWidth + 1) * 2;
    _iconView->setFrame(Rect(Point{}, _iconView->image()
                                          ? platform::Size{double(_iconView->image()->width()),
                                                           double(_iconView->image()->height())}
                                          : platform::Size{}));
    _titleLabel->sizeToFit();
    const double iconWidth = _iconView->frame().width(), iconHeight = _iconView->frame().height();
    double titleHeight = _titleLabel->frame().height();
    _titleLabel->setFrame(Rect(kBorderWidth + kTitleMarginX + iconWidth + kTitleMarginX,
                               kBorderWidth,
                               innerWidth - (titleHeight + iconWidth + kTitleMarginX * 2),
                               titleHeight + kTitleMarginY * 2));
    titleHeight = _titleLabel->frame().height();
    _iconView->setFrame(Rect(kBorderWidth + kTitleMarginX,
                             kBorderWidth + std::floor(titleHeight / 2 - iconHeight / 2), iconWidth,
                             iconHeight));
    _closeButton->setFrame(
        Rect(width - (titleHeight + kBorderWidth), kBorderWidth, titleHeight, titleHeight));
    _webView->setFrame(Rect(kBorderWidth + 1, kBorderWidth + titleHeight, innerWidth,
                            height - (titleHeight + 1 + kBorderWidth * 2)));

    _spinner->sizeToFit();
    _spinner->setHidden(false);
    _spinner->startAnimating();
    _spinner->setCenter(_webView->center());

    platform::Window* window = platform::Window::keyWindow();
    if (!window) {
        auto all = platform::Window::windows();
        if (!all.empty()) window = all.front();
    }
    if (window) {
        _modalBackgroundView->setFrame(window->bounds());
        window->addSubview(_modalBackgroundView);
        window->addSubview(shared_from_this());
        _webView->becomeFocused();
    }

    dialogWillAppear();

    AffineTransform turned = transformForOrientation(_orientation);
    setTransform(turned.concat(AffineTransform::scale(0.001, 0.001)));
    // The opening bounces; the steps hold the panel weakly, so that nothing but its owner
    // and its window keeps it.
    std::weak_ptr<View> weak = weak_from_this();
    auto step = [weak, turned](double scale) {
        if (auto view = weak.lock())
            view->setTransform(turned.concat(AffineTransform::scale(scale, scale)));
    };
    Animation::animate(
        kTransitionDuration / 1.5, [step] { step(1.1); },
        [step](bool) {
            Animation::animate(
                kTransitionDuration / 2, [step] { step(0.9); },
                [step](bool) {
                    Animation::animate(kTransitionDuration / 2, [step] { step(1.0); });
                });
        });
    addObservers();
}

void FBDialog::sizeToFitOrientation(bool applyTransform) {
    if (applyTransform) setTransform(AffineTransform::identity());
    Rect frame = Application::shared().applicationFrame();
    double factor = FBIsDeviceIPad() ? 0.6 : 1.0;
    double width = std::floor(factor * frame.width()) - kPadding * 2;
    double height = std::floor(factor * frame.height()) - kPadding * 2;
    _orientation = Application::shared().statusBarOrientation();
    platform::Size size = Application::isLandscape(_orientation) ? platform::Size{height, width}
                                                                 : platform::Size{width, height};
    // Centred on the application frame; set at once, so that it animates as one change.
    Point centre{frame.x() + std::ceil(frame.width() / 2),
                 frame.y() + std::ceil(frame.height() / 2)};
    setFrame(Rect(centre.x - size.width / 2, centre.y - size.height / 2, size.width, size.height));
    if (applyTransform) setTransform(transformForOrientation(_orientation));
}

AffineTransform FBDialog::transformForOrientation(Orientation o) {
    switch (o) {
        case Orientation::LandscapeLeft:
            return AffineTransform::rotation(M_PI * 1.5);
        case Orientation::LandscapeRight:
            return AffineTransform::rotation(M_PI / 2);
        case Orientation::PortraitUpsideDown:
            return AffineTransform::rotation(-M_PI);
        default:
            return AffineTransform::identity();
    }
}

bool FBDialog::shouldRotateToOrientation(Orientation orientation) const {
    if (orientation == _orientation) return false;
    return orientation == Orientation::Portrait || orientation == Orientation::PortraitUpsideDown ||
           orientation == Orientation::LandscapeLeft || orientation == Orientation::LandscapeRight;
}

void FBDialog::deviceOrientationDidChange() {
    Orientation orientation = Application::shared().statusBarOrientation();
    if (_showingKeyboard || !shouldRotateToOrientation(orientation)) return;
    updateWebOrientation();
    Animation::animate(Application::statusBarOrientationAnimationDuration(),
                       [this] { sizeToFitOrientation(true); });
}

void FBDialog::screenDidResize() {
    // The window's new size, at once: the user is dragging or the shell tiled it.
    sizeToFitOrientation(false);
}

void FBDialog::updateWebOrientation() {
    if (Application::isLandscape(Application::shared().statusBarOrientation())) {
        _webView->stringByEvaluatingJavaScript("document.body.setAttribute('orientation', 90);");
    } else {
        _webView->stringByEvaluatingJavaScript("document.body.removeAttribute('orientation');");
    }
}

void FBDialog::keyboardWillShow() {
    _showingKeyboard = true;
    if (_webGrownForKeyboard || FBIsDeviceIPad() ||
        !Application::isLandscape(Application::shared().statusBarOrientation()))
        return;
    double titleHeight = _titleLabel->frame().height();
    _webView->setFrame(_webView->frame().insetBy(-(kPadding + kBorderWidth),
                                                 -(kPadding + kBorderWidth + titleHeight)));
    _webGrownForKeyboard = true;
}

void FBDialog::keyboardWillHide() {
    _showingKeyboard = false;
    // Shrinks back what the keyboard grew, even when the interface has turned to portrait
    // meanwhile: the page would otherwise keep covering the title bar.
    if (!_webGrownForKeyboard) return;
    double titleHeight = _titleLabel->frame().height();
    _webView->setFrame(
        _webView->frame().insetBy(kPadding + kBorderWidth, kPadding + kBorderWidth + titleHeight));
    _webGrownForKeyboard = false;
}

// Drawing.

void FBDialog::draw(platform::Canvas& canvas) {
    Rect b = bounds();
    fillRect(canvas, b.offsetBy(-0.5, -0.5), kBorderFill, 10);

    Rect titleBar(std::ceil(b.x() + kBorderWidth), std::ceil(b.y() + kBorderWidth),
                  b.width() - kBorderWidth * 2, _titleLabel->frame().height());
    fillRect(canvas, titleBar, kTitleFill, 0);
    strokeLines(canvas, titleBar, kTitleOutline);

    Rect webArea(titleBar.x(), titleBar.y() + titleBar.height(), titleBar.width(),
                 _webView->frame().height() + 1);
    strokeLines(canvas, webArea, kWebOutline);
}

}  // namespace quorbit::facebook
