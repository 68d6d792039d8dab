#include "screens/camera/quorbitViewController.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "gpu/FrameDrawing.h"
#include "gpu/StillRendering.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Translate.h"
#include "platform/desktop/PhotoAlbum.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/LayoutView.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/Window.h"

namespace quorbit::camera_screen {

namespace {

constexpr double kGlyphSide = 26;

// A finger has to move this far (points) on the live view before a touch becomes a drag.
constexpr double kDragSlop = 6;

// A clear view over the whole live view that hands its touches to the camera screen. It lies
// inside the live surface, so a tap on the "live-view" control lands on it.
class LiveTouchArea : public platform::View {
  public:
    LiveTouchArea(platform::Rect frame, quorbitViewController& screen)
        : platform::View(frame), _screen(screen) {}
    void touchesBegan(const std::vector<platform::Touch>& touches) override {
        forward(platform::TouchPhase::Began, touches);
    }
    void touchesMoved(const std::vector<platform::Touch>& touches) override {
        forward(platform::TouchPhase::Moved, touches);
    }
    void touchesEnded(const std::vector<platform::Touch>& touches) override {
        forward(platform::TouchPhase::Ended, touches);
    }
    void touchesCancelled(const std::vector<platform::Touch>& touches) override {
        forward(platform::TouchPhase::Cancelled, touches);
    }

  private:
    void forward(platform::TouchPhase phase, const std::vector<platform::Touch>& touches) {
        if (!touches.empty()) _screen.liveViewTouched(phase, touches.front().locationIn(this));
    }
    quorbitViewController& _screen;
};

// The running time of a recording as the label shows it: a red dot and mm:ss.
std::string recordingTimeText(std::chrono::steady_clock::duration elapsed) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    char text[32];
    std::snprintf(text, sizeof text, "\u25CF %02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

// Video frames have even sides (the encoders' chroma is halved both ways).
int evenSide(double side) {
    return std::max(2, int(side) & ~1);
}

ControlArt::Glyph timerGlyph(int seconds) {
    if (seconds == 3) return ControlArt::Glyph::Timer3;
    if (seconds == 10) return ControlArt::Glyph::Timer10;
    return ControlArt::Glyph::TimerOff;
}

}  // namespace

quorbitViewController::quorbitViewController(std::shared_ptr<platform::GLContext> context,
                                             std::shared_ptr<capture::Camera> camera,
                                             platform::UserDefaults* defaults,
                                             std::optional<std::filesystem::path> albumFolder)
    : quorbitViewController(std::move(context), camera, camera, defaults, std::move(albumFolder)) {}

quorbitViewController::quorbitViewController(std::shared_ptr<platform::GLContext> context,
                                             std::shared_ptr<capture::CameraTypeSource> camera)
    : quorbitViewController(std::move(context), std::move(camera), nullptr, nullptr, std::nullopt) {
}

quorbitViewController::quorbitViewController(std::shared_ptr<platform::GLContext> context,
                                             std::shared_ptr<capture::CameraTypeSource> camera,
                                             std::shared_ptr<capture::Camera> captureCamera,
                                             platform::UserDefaults* defaults,
                                             std::optional<std::filesystem::path> albumFolder)
    : _context(std::move(context)), _userDefaults(defaults) {
    _context->makeCurrent();

    _settingsView = std::make_shared<share::SettingsView>();
    _settingsView->setBaseViewController(this);
    _settingsView->setUserDefaults(defaults);
    _settingsView->setFullPhotoSize([this] { return fullPhotoSize(); });

    _glview = std::make_shared<gpu::GLPostView>(platform::Rect(0, 0, kLiveWidth, kLiveHeight));
    _glview->setContext(_context);
    _glview->setBackgroundColor(platform::Color::black());
    _glview->setOpaque(true);
    _glview->setIsPreviewWindow(false);
    _glview->setControlName(controls::kLiveView);
    _glview->setMaximumFramebufferSize(int(_pictureSize.width), int(_pictureSize.height));
    _glview->setFramebuffer();

    // The picker itself comes from the application (setFilterPicker).
    filterPickerOpen = false;

    _photoView = std::make_shared<share::PhotoViewController>();
    _photoView->setBaseViewController(this);
    _settingsView->setPhotoViewController(_photoView);
    sharingWindowOpen = false;
    settingsViewOpen = false;

    createShaders();
    // Which programs have a centre, asked once while the context is current (touches come
    // while other contexts may be).
    for (const auto& program : _programArray)
        _centredPrograms.push_back(program && program->program() &&
                                   program->getUniformLocation("u_center") >= 0);
    // Until the screen first appears and restores the kept slot, Sketch is active.
    _filter = _programArray[2].get();
    _animating = false;
    _animationFrameInterval = 1;
    _displayLink.reset();

    _camera = std::move(camera);
    _captureCamera = std::move(captureCamera);
    if (_captureCamera) _captureCamera->setDelegate(this);
    cameraHasConnected();

    _soundPlayer = platform::AudioPlayer::createWithResource("camera click", "wav");
    if (_soundPlayer) _soundPlayer->setVolume(1.0);
    _tickPlayer = platform::AudioPlayer::createWithResource("timer tick", "wav");
    if (_tickPlayer) _tickPlayer->setVolume(1.0);

    // A kept timer that is none of the choices counts as off.
    if (_userDefaults) {
        auto kept = _userDefaults->integerForKey(kSelfTimerKey);
        for (int choice : kTimerChoices)
            if (kept == choice) _selfTimerSeconds = choice;
        _screenFlashOn =
            !_userDefaults->contains(kScreenFlashKey) || _userDefaults->boolForKey(kScreenFlashKey);
        _videoMode = _userDefaults->stringForKey(kCaptureModeKey) == "video";
    }

    readCameraSettings();

    _album = std::make_shared<album::AlbumViewController>(albumFolder);
    _album->setBaseViewController(this);
    // A screen given a folder of its own (tools, tests) keeps its clips there too.
    if (albumFolder) setVideosFolder(*albumFolder);
    _album->setShareHandler([this](platform::ViewController& presenter,
                                   std::shared_ptr<const platform::Image> photo,
                                   std::filesystem::path clip) {
        // The share screen over the album's photo or clip; the last-photo thumbnail's
        // share screen gets the last photo back when it next opens.
        if (presenter.modalViewController() || presenter.isTransitioning()) return;
        if (clip.empty())
            _photoView->changeImage(std::move(photo));
        else
            _photoView->changeClip(std::move(photo), std::move(clip));
        presenter.presentModalViewController(_photoView, false);
    });

    _library = share::PhotoLibrary::create(std::move(albumFolder));
    _library->setBaseViewController(this);

    isTakingPhoto = false;

    // 0 or nothing kept means none chosen yet, and so does a value that names no slot.
    std::int64_t kept = _userDefaults ? _userDefaults->integerForKey(kLastFilterUsedKey) : 0;
    if (kept <= 0 || kept >= std::int64_t(_programArray.size())) {
        _lastFilterUsed = -1;
        if (_userDefaults) _userDefaults->setInteger(kLastFilterUsedKey, -1);
    } else {
        _lastFilterUsed = int(kept);
    }
}

quorbitViewController::~quorbitViewController() {
    stopAnimation();
    // A recording still running when the screen goes (the application quits): its file is
    // finished and named first.
    _recordingTimer.reset();
    _recorder.reset();
    // No outcome reaches this screen once it is going.
    _codeScanner.reset();
    if (_captureCamera) _captureCamera->cancelStill();
    // A full-size photo still on its way when the screen goes (the application quits): the
    // view's photo is saved instead, so that no photo taken is lost.
    if (_pendingStill && _library)
        _library->savePhoto(*_pendingStill->viewPhoto, platform::ImageOrientation::Up);
    _settingsView->setFullPhotoSize(nullptr);
    if (_captureCamera && _captureCamera->delegate() == this) _captureCamera->setDelegate(nullptr);
    if (_library) _library->setBaseViewController(nullptr);
    if (_photoViewButton) _photoViewButton->setDelegate(nullptr);
    _settingsView->setBaseViewController(nullptr);
    _photoView->setBaseViewController(nullptr);
    _album->setBaseViewController(nullptr);
    _album->setShareHandler(nullptr);
    if (_context) _context->makeCurrent();
    _glview.reset();
    _programArray.clear();
}

void quorbitViewController::loadView() {
    platform::Rect screen = platform::Window::screenBounds();
    auto root = std::make_shared<platform::LayoutView>(
        screen, [this](platform::LayoutView& view) { layoutControls(view.bounds().size); });
    root->setBackgroundColor(platform::Color::black());

    _controlBarView = std::make_shared<ControlBarView>();
    root->addSubview(_controlBarView);

    _photoViewButton = std::make_shared<LastPictureButtonViewController>(platform::Rect(
        0, 0, CameraScreenLayout::kThumbnailSide, CameraScreenLayout::kThumbnailSide));
    _photoViewButton->setControlName(controls::kLastPhoto);
    root->addSubview(_photoViewButton);

    auto button = [&](ControlArt::Glyph glyph, double side, double glyphSide, const char* name,
                      void (quorbitViewController::*action)()) {
        auto made =
            std::make_shared<ControlButton>(glyph, platform::Rect(0, 0, side, side), glyphSide);
        made->setControlName(name);
        made->addAction([this, action](platform::Button&) { (this->*action)(); });
        root->addSubview(made);
        return made;
    };
    // Three controls either side of the shutter: thumbnail, filters, timer | flash (front
    // camera only), camera switch, settings.
    constexpr double kButton = CameraScreenLayout::kButtonSide;
    _filtersButton = button(ControlArt::Glyph::Filters, kButton, kGlyphSide, controls::kFilters,
                            &quorbitViewController::openFilterPicker);
    _timerButton = button(timerGlyph(_selfTimerSeconds), kButton, kGlyphSide, controls::kTimer,
                          &quorbitViewController::cycleSelfTimer);
    _shutterButton = button(ControlArt::Glyph::Shutter, CameraScreenLayout::kShutterSide,
                            CameraScreenLayout::kShutterSide, controls::kShutter,
                            &quorbitViewController::snapPhoto);
    _flashButton = button(ControlArt::Glyph::FlashOn, kButton, kGlyphSide, controls::kFlash,
                          &quorbitViewController::toggleScreenFlash);
    _swapCameraButton = button(ControlArt::Glyph::SwitchCamera, kButton, kGlyphSide,
                               controls::kSwapCamera, &quorbitViewController::swapCamera);
    _settingsButton = button(ControlArt::Glyph::Settings, kButton, kGlyphSide, controls::kSettings,
                             &quorbitViewController::openSettings);

    // Photo or video, over the bottom of the live view.
    _modeSwitch = std::make_shared<ModeSwitch>();
    _modeSwitch->setControlName(controls::kMode);
    _modeSwitch->setVideo(_videoMode);
    _modeSwitch->addAction([this](platform::Button&) { toggleMode(); });
    root->addSubview(_modeSwitch);

    // Notes over the live view: white text on a dark veil.
    auto note = [&](const char* name) {
        auto label = std::make_shared<platform::Label>();
        label->setControlName(name);
        label->setBackgroundColor(platform::Color{0, 0, 0, 0.6});
        label->setTextColor(platform::Color::white());
        label->setTextAlignment(platform::TextAlignment::Center);
        label->setNumberOfLines(0);
        root->addSubview(label);
        return label;
    };
    _cameraNote = note(controls::kCameraUnavailable);
    _stillNote = note(controls::kStillNote);
    _stillNote->setHidden(true);
    // The running time of a recording, in the top corner of the live view.
    _recordingLabel = std::make_shared<platform::Label>();
    _recordingLabel->setControlName(controls::kRecordingTime);
    _recordingLabel->setBackgroundColor(platform::Color{0, 0, 0, 0.5});
    _recordingLabel->setTextColor(platform::Color{1, 0.3, 0.25, 1});
    _recordingLabel->setFont(platform::Font::boldSystem(17));
    _recordingLabel->setTextAlignment(platform::TextAlignment::Center);
    _recordingLabel->setUserInteractionEnabled(false);
    _recordingLabel->setHidden(true);
    root->addSubview(_recordingLabel);

    // The countdown: large digits in the middle of the live view; touches go through it to
    // the live view, where a tap cancels.
    _countdownLabel = std::make_shared<platform::Label>();
    _countdownLabel->setControlName(controls::kCountdown);
    _countdownLabel->setFont(platform::Font::boldSystem(150));
    _countdownLabel->setTextColor(platform::Color::white());
    _countdownLabel->setShadow(platform::Color{0, 0, 0, 0.6}, {0, 3});
    _countdownLabel->setTextAlignment(platform::TextAlignment::Center);
    _countdownLabel->setUserInteractionEnabled(false);
    _countdownLabel->setHidden(true);
    root->addSubview(_countdownLabel);

    // The code banner lies over the live view; the countdown and the flash over it.
    _codeBanner = std::make_shared<CodeBanner>([this] { codeBannerTapped(); });
    root->insertSubview(_codeBanner, root->subviews().size() - 1);

    // The screen flash lies over everything, the control bar included.
    _flashView = std::make_shared<platform::View>(root->bounds());
    _flashView->setControlName(controls::kScreenFlash);
    _flashView->setBackgroundColor(platform::Color::white());
    _flashView->setUserInteractionEnabled(false);
    _flashView->setAutoresizingMask(platform::View::FlexibleWidth | platform::View::FlexibleHeight);
    _flashView->setHidden(true);
    root->addSubview(_flashView);

    setView(root);
    layoutControls(root->bounds().size);
    showCameraAvailability(_cameraAvailable, _cameraProblem);
    updateTimerControl();
    updateFlashControl();
    updateRecordingControls();
}

CameraScreenLayout quorbitViewController::currentLayout() const {
    platform::Size screen = _glview->superview() ? _glview->superview()->bounds().size
                                                 : platform::Window::screenBounds().size;
    return CameraScreenLayout::make(screen, _pictureSize);
}

void quorbitViewController::layoutControls(platform::Size screen) {
    CameraScreenLayout layout = CameraScreenLayout::make(screen, _pictureSize);
    _glview->setFrame(layout.liveView);
    _controlBarView->setFrame(layout.controlBar);
    using L = CameraScreenLayout;
    const std::pair<platform::View*, L::Control> placed[] = {
        {_photoViewButton.get(), L::kLastPhoto}, {_filtersButton.get(), L::kFilters},
        {_timerButton.get(), L::kTimer},         {_shutterButton.get(), L::kShutter},
        {_flashButton.get(), L::kFlash},         {_swapCameraButton.get(), L::kSwapCamera},
        {_settingsButton.get(), L::kSettings}};
    for (auto [view, control] : placed)
        if (view) view->setFrame(layout.controls[size_t(control)]);
    // The note and the countdown sit in the middle of the live view, as wide as it allows.
    platform::Rect live = layout.liveView;
    auto middle = [&](double width, double height) {
        width = std::min(width, live.width());
        height = std::min(height, live.height());
        return platform::Rect(std::floor(live.midX() - width / 2),
                              std::floor(live.midY() - height / 2), width, height);
    };
    _cameraNote->setFrame(middle(live.width() - 40, 100));
    _stillNote->setFrame(platform::Rect(live.x() + 8, live.maxY() - 88, live.width() - 16, 80));
    if (_modeSwitch) {
        platform::Size mode = _modeSwitch->preferredSize();
        mode.width = std::min(mode.width, live.width() - 16);
        _modeSwitch->setFrame(platform::Rect(std::floor(live.midX() - mode.width / 2),
                                             live.maxY() - mode.height - 10, mode.width,
                                             mode.height));
    }
    if (_recordingLabel)
        _recordingLabel->setFrame(platform::Rect(live.x() + 8, live.y() + 8, 110, 30));
    if (_codeBanner) {
        platform::Rect banner(live.x() + 8, live.y() + 8, live.width() - 16, 0);
        _codeBanner->setFrame(banner);
        banner.size.height = std::min(_codeBanner->preferredHeight(), live.height() - 16);
        _codeBanner->setFrame(banner);
    }
    _countdownLabel->setFrame(middle(live.width() - 40, 200));
}

void quorbitViewController::setPictureSize(platform::Size size) {
    if (size == _pictureSize || size.width <= 0 || size.height <= 0) return;
    _pictureSize = size;
    // The live surface never has more pixels than the picture it shows: the compositor
    // scales it to the view.
    _glview->setMaximumFramebufferSize(int(size.width), int(size.height));
    // At once, so that the frame that brought the new shape is drawn in the new place.
    if (isViewLoaded()) layoutControls(view()->bounds().size);
}

void quorbitViewController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    // The live picture lies beneath every control.
    view()->insertSubview(_glview, 0);
    if (_glview->subviews().empty()) {
        auto area = std::make_shared<LiveTouchArea>(_glview->bounds(), *this);
        area->setAutoresizingMask(platform::View::FlexibleWidth | platform::View::FlexibleHeight);
        _glview->addSubview(area);
    }
    _photoViewButton->setDelegate(this);
    if (_captureCamera && _captureCamera->numCameras() < 2)
        _swapCameraButton->removeFromSuperview();
}

void quorbitViewController::viewDidAppear(bool animated) {
    platform::ViewController::viewDidAppear(animated);
    if (_lastFilterUsed == -1) {
        setFilter(_programArray[0].get());
        openFilterPicker();
    } else {
        setFilter(_programArray[size_t(_lastFilterUsed)].get());
    }
}

void quorbitViewController::showCameraAvailability(bool available, const std::string& reason) {
    _cameraAvailable = available;
    _cameraProblem = reason;
    // A camera lost while recording ends the recording; what it has is kept.
    if (!available && _recorder)
        stopRecording(platform::tr("The camera is not available.") +
                      (reason.empty() ? "" : " " + reason));
    if (!_cameraNote) return;
    std::string note = platform::tr("Camera not available");
    _cameraNote->setText(reason.empty() ? note : note + "\n" + reason);
    _cameraNote->setHidden(available);
}

void quorbitViewController::createShaders() {
    _programArray = gpu::createFilterPrograms();
}

void quorbitViewController::setFilter(gpu::ShaderProgram* program) {
    auto slot = gpu::slotOfProgram(_programArray, program);
    if (!slot) return;  // only programs of this screen's list can be chosen
    _filter = program;
    if (_userDefaults) _userDefaults->setInteger(kLastFilterUsedKey, *slot);
    _lastFilterUsed = *slot;
}

void quorbitViewController::setFilterPicker(std::shared_ptr<platform::ViewController> controller,
                                            capture::FrameConsumer* frames) {
    _filterPickerController = std::move(controller);
    _filterPicker = frames;
}

void quorbitViewController::setTouchesEnabled(bool enabled) {
    view()->setUserInteractionEnabled(enabled);
}

bool quorbitViewController::childScreenUp() const {
    return modalViewController() != nullptr || isTransitioning();
}

void quorbitViewController::presentChild(const std::shared_ptr<platform::ViewController>& child,
                                         bool& open) {
    open = true;
    setTouchesEnabled(false);
    presentModalViewController(child, false);
    if (modalViewController() == child) return;
    // Another screen is up or moving: nothing opened, so nothing stays switched off.
    open = false;
    setTouchesEnabled(true);
}

void quorbitViewController::openFilterPicker() {
    if (isTakingPhoto || isRecording()) return;
    cancelCountdown();
    if (!_filterPickerController) {
        platform::Log::info("no filter picker to open");
        return;
    }
    setTouchesEnabled(false);
    if (filterPickerOpen) return;
    if (childScreenUp()) return;  // another child screen is up; its restart turns touches on
    presentChild(_filterPickerController, filterPickerOpen);
}

void quorbitViewController::openSettings() {
    if (isTakingPhoto || isRecording() || settingsViewOpen || childScreenUp()) return;
    cancelCountdown();
    presentChild(_settingsView, settingsViewOpen);
}

void quorbitViewController::showAlbum() {
    if (isTakingPhoto || isRecording() || albumOpen || childScreenUp()) return;
    cancelCountdown();
    presentChild(_album, albumOpen);
}

void quorbitViewController::showSharingWindow() {
    if (!_photoViewButton || !_photoViewButton->image() || isTakingPhoto || isRecording() ||
        sharingWindowOpen || childScreenUp())
        return;
    cancelCountdown();
    // The last photo or clip: the album may have shared another one through this screen.
    if (_photoViewButton->clip().empty())
        _photoView->changeImage(_photoViewButton->image());
    else
        _photoView->changeClip(_photoViewButton->image(), _photoViewButton->clip());
    presentChild(_photoView, sharingWindowOpen);
}

void quorbitViewController::swapCamera() {
    if (isRecording()) return;
    setTouchesEnabled(false);
    if (_captureCamera) _captureCamera->swapCamera();
    setTouchesEnabled(true);
    updateFlashControl();
}

bool quorbitViewController::handleKey(const platform::KeyEvent& event) {
    using Key = platform::KeyEvent::Key;
    if (event.control || event.alt || event.meta || childScreenUp()) return false;
    char32_t c = event.key == Key::Character ? event.character : 0;
    bool shutter = event.key == Key::Return || c == U' ';
    bool swap = c == U'c' && _captureCamera && _captureCamera->numCameras() >= 2;
    if (!shutter && !swap && c != U'f' && c != U't' && c != U'g' && c != U'v') return false;
    // While recording only the shutter's keys act: they stop as they started.
    if (isRecording() && !shutter) return false;
    // A held key acts once: the repeats that follow take no burst of photos.
    if (event.repeat) return true;
    if (shutter)
        snapPhoto();
    else if (c == U'v')
        toggleMode();
    else if (c == U'f')
        openFilterPicker();
    else if (c == U't')
        cycleSelfTimer();
    else if (c == U'g')
        showAlbum();
    else
        swapCamera();
    return true;
}

void quorbitViewController::restart() {
    // The album is still up under the screen that went (its photo screen, the share screen).
    if (modalViewController()) return;
    readCameraSettings();
    filterPickerOpen = false;
    sharingWindowOpen = false;
    settingsViewOpen = false;
    albumOpen = false;
    setTouchesEnabled(true);
}

void quorbitViewController::snapPhoto() {
    if (isTakingPhoto) return;
    if (isRecording()) {
        stopRecording();
        return;
    }
    if (isCountingDown()) {
        cancelCountdown();
        return;
    }
    if (_selfTimerSeconds > 0) {
        _countdownLeft = _selfTimerSeconds;
        showCountdown();
        _countdownTimer = platform::RunLoop::main().timer(
            std::chrono::seconds(1), [this] { countdownStep(); }, std::chrono::seconds(1));
        return;
    }
    if (_videoMode)
        startRecording();
    else
        takeStill();
}

void quorbitViewController::countdownStep() {
    if (--_countdownLeft > 0) {
        showCountdown();
        return;
    }
    cancelCountdown();
    if (_videoMode)
        startRecording();
    else
        takeStill();
}

void quorbitViewController::showCountdown() {
    view();
    _countdownLabel->setText(std::to_string(_countdownLeft));
    _countdownLabel->setHidden(false);
    if (_tickPlayer) _tickPlayer->play();
}

void quorbitViewController::cancelCountdown() {
    _countdownTimer.reset();
    _countdownLeft = 0;
    if (_countdownLabel) _countdownLabel->setHidden(true);
}

void quorbitViewController::cycleSelfTimer() {
    if (isCountingDown() || isTakingPhoto) return;
    size_t next = 0;
    for (size_t i = 0; i < std::size(kTimerChoices); ++i)
        if (kTimerChoices[i] == _selfTimerSeconds) next = (i + 1) % std::size(kTimerChoices);
    _selfTimerSeconds = kTimerChoices[next];
    if (_userDefaults) _userDefaults->setInteger(kSelfTimerKey, _selfTimerSeconds);
    updateTimerControl();
}

void quorbitViewController::updateTimerControl() {
    if (_timerButton) _timerButton->setGlyph(timerGlyph(_selfTimerSeconds));
}

void quorbitViewController::toggleScreenFlash() {
    _screenFlashOn = !_screenFlashOn;
    if (_userDefaults) _userDefaults->setBool(kScreenFlashKey, _screenFlashOn);
    updateFlashControl();
}

void quorbitViewController::updateFlashControl() {
    if (!_flashButton) return;
    _flashButton->setGlyph(_screenFlashOn ? ControlArt::Glyph::FlashOn
                                          : ControlArt::Glyph::FlashOff);
    bool front = _camera && _camera->curCameraType() == capture::kCameraFront;
    if (_flashButton->isHidden() == front) _flashButton->setHidden(!front);
}

void quorbitViewController::takeStill() {
    if (isTakingPhoto) return;
    setTouchesEnabled(false);
    isTakingPhoto = true;
    bool front = _camera && _camera->curCameraType() == capture::kCameraFront;
    if (!front || !_screenFlashOn || !_flashView) {
        captureStill();
        return;
    }
    // The screen lights up first; frames keep coming for a moment so that the lit picture is
    // on the surface, and the overlay (which lies over the window, not in the live surface) is
    // on screen when that surface is read back.
    // A flash still fading from the last photo (whose save was quick) gives way to this one.
    _flashView->setHidden(false);
    _flashReadTimer = platform::RunLoop::main().timer(kFlashLead, [this] { captureStill(); });
    _flashEndTimer = platform::RunLoop::main().timer(kFlashLength, [this] { endFlash(); });
}

void quorbitViewController::endFlash() {
    if (_flashView) _flashView->setHidden(true);
}

void quorbitViewController::captureStill() {
    if (fullSizePhotos() && captureFullSize()) return;
    // No later frame may replace the one on the surface.
    if (_captureCamera) _captureCamera->stopCamera();
    captureToPhotoAlbum();
}

bool quorbitViewController::fullSizePhotos() const {
    return _userDefaults && _userDefaults->stringForKey(share::SettingsView::kPhotoSizeKey) ==
                                share::SettingsView::kPhotoSizeFull;
}

std::optional<capture::FrameSize> quorbitViewController::fullStillSize() const {
    if (!_captureCamera) return std::nullopt;
    if (_maxTextureSize == 0) {
        _context->makeCurrent();
        _maxTextureSize = gpu::RenderLimits::query().maxTextureSize;
    }
    // A frame is drawn from one texture: sizes the GL cannot hold are not offered.
    std::vector<capture::FrameSize> drawable;
    for (capture::FrameSize size : _captureCamera->stillSizes())
        if (size.width <= _maxTextureSize && size.height <= _maxTextureSize)
            drawable.push_back(size);
    return capture::largestSize(drawable);
}

std::optional<platform::Size> quorbitViewController::fullPhotoSize() const {
    auto size = fullStillSize();
    if (!size) return std::nullopt;
    // Stills come from the sensor the frames come from, at the frames' rotation.
    return gpu::uprightSize(size->width, size->height, _frameRotation);
}

bool quorbitViewController::captureFullSize() {
    auto size = fullStillSize();
    if (!size || !_filter || _captureCamera->isTakingStill()) return false;
    const auto& device = _captureCamera->curCameraType() == capture::kCameraFront
                             ? _captureCamera->frontCameraDevice()
                             : _captureCamera->backCameraDevice();
    // The view's picture now: the thumbnail at once, and the photo if the still fails.
    auto viewPhoto = std::make_shared<const platform::Image>(glToCGImageRef());
    bool asked = _captureCamera->captureStill(
        *size,
        [](capture::StillFrame& still) {
            // The turn is done here, on the capture thread, not on the main thread.
            if (!gpu::turnToDrawingLayout(still)) still.bgra.clear();
        },
        [this](platform::Result<capture::StillFrame> still) { fullStillTaken(std::move(still)); });
    if (!asked) return false;
    auto [cameraType, centre] = photoDrawing();
    _pendingStill = PendingStill{viewPhoto, _filter, cameraType, centre,
                                 device ? device->info().name : std::string()};
    if (_soundPlayer) _soundPlayer->play();
    updateLastPictureView(viewPhoto);
    _photoView->changeImage(viewPhoto);
    _photoViewButton->setSaving(true);
    setTouchesEnabled(true);
    return true;
}

void quorbitViewController::fullStillTaken(platform::Result<capture::StillFrame> still) {
    if (!_pendingStill) return;
    PendingStill pending = std::move(*_pendingStill);
    _pendingStill.reset();
    if (!still) {
        platform::Log::warn("the full-size photo could not be taken: " +
                            still.error().localizedDescription());
        saveViewPhotoInstead(pending.viewPhoto, still.error().localizedDescription());
        return;
    }
    auto drawn = gpu::renderStill(_context, *pending.program, std::move(still).value(),
                                  pending.cameraType, pending.centre);
    if (!drawn) {
        platform::Log::warn("the full-size photo could not be drawn: " +
                            drawn.error().localizedDescription());
        saveViewPhotoInstead(pending.viewPhoto, drawn.error().localizedDescription());
        return;
    }
    platform::PhotoDetails details;
    details.model = pending.cameraName;
    if (auto slot = gpu::slotOfProgram(_programArray, pending.program))
        details.description = gpu::kFilterSlotNames[size_t(*slot)];
    details.jpegQuality = kFullSizeJpegQuality;
    if (!_library->savePhoto(std::move(drawn).value(), platform::ImageOrientation::Up,
                             std::move(details))) {
        // The writer takes one photo at a time, and this one was let in while it was ready.
        isTakingPhoto = false;
        _photoViewButton->setSaving(false);
    }
}

void quorbitViewController::saveViewPhotoInstead(
    const std::shared_ptr<const platform::Image>& viewPhoto, const std::string& why) {
    showStillNote(platform::format(
        platform::tr("The full-size photo could not be taken: %s. The photo was saved at "
                     "screen size.")
            .c_str(),
        why.c_str()));
    if (!_library->savePhoto(*viewPhoto, platform::ImageOrientation::Up)) {
        isTakingPhoto = false;
        _photoViewButton->setSaving(false);
    }
}

void quorbitViewController::showStillNote(const std::string& text, bool stays) {
    if (!_stillNote) return;
    _stillNote->setText(text);
    _stillNote->setHidden(false);
    _stillNoteTimer.reset();
    if (!stays)
        _stillNoteTimer = platform::RunLoop::main().timer(kStillNoteTime, [this] {
            if (_stillNote) _stillNote->setHidden(true);
        });
}

void quorbitViewController::setDistortionCentre(platform::Point centre) {
    _distortionCentre = {std::clamp(centre.x, 0.0, 1.0), std::clamp(centre.y, 0.0, 1.0)};
}

bool quorbitViewController::filterHasCentre() const {
    auto slot = gpu::slotOfProgram(_programArray, _filter);
    return slot && size_t(*slot) < _centredPrograms.size() && _centredPrograms[size_t(*slot)];
}

void quorbitViewController::liveViewTouched(platform::TouchPhase phase, platform::Point at) {
    platform::Rect b = _glview->bounds();
    platform::Point normalised{at.x / b.width(), at.y / b.height()};
    switch (phase) {
        case platform::TouchPhase::Began:
            _touchStart = at;
            _dragging = false;
            return;
        case platform::TouchPhase::Moved:
            if (!_dragging && std::hypot(at.x - _touchStart.x, at.y - _touchStart.y) < kDragSlop)
                return;
            _dragging = true;
            _lastTap.reset();
            if (filterHasCentre() && !isTakingPhoto) setDistortionCentre(normalised);
            return;
        case platform::TouchPhase::Cancelled:
            _dragging = false;
            return;
        case platform::TouchPhase::Ended:
            break;
    }
    if (_dragging) {
        _dragging = false;
        return;
    }
    // A tap: it cancels a countdown; two in quick succession put the centre back.
    if (isCountingDown()) {
        cancelCountdown();
        _lastTap.reset();
        return;
    }
    auto now = platform::RunLoop::main().now();
    if (_lastTap && now - *_lastTap <= kDoubleTapTime) {
        _lastTap.reset();
        if (!isTakingPhoto) setDistortionCentre(gpu::kViewCentre);
        return;
    }
    _lastTap = now;
}

void quorbitViewController::captureToPhotoAlbum() {
    auto image = std::make_shared<const platform::Image>(glToCGImageRef());
    if (_library->savePhoto(*image, platform::ImageOrientation::Up)) {
        if (_soundPlayer) _soundPlayer->play();
        updateLastPictureView(image);
        _photoView->changeImage(image);
    }
    setTouchesEnabled(true);
}

platform::Image quorbitViewController::glToCGImageRef() {
    if (unmirroredPhoto() && !_lastFrame.empty() && _filter) {
        // The frame on the view, drawn again the way others see it, at the view's size.
        capture::PixelBuffer frame(_lastFrame.data(), _lastFrameWidth, _lastFrameHeight,
                                   _frameRotation);
        frame.lockBaseAddress();
        auto [cameraType, centre] = photoDrawing();
        auto drawn = gpu::renderFrame(_context, *_filter, frame, _glview->framebufferWidth(),
                                      _glview->framebufferHeight(), cameraType, centre);
        if (drawn) return std::move(drawn).value();
        platform::Log::warn("the unmirrored photo could not be drawn: " +
                            drawn.error().localizedDescription() + "; the view's is taken");
    }
    return gpu::readFramebufferImage(*_glview);
}

void quorbitViewController::updateLastPictureView(std::shared_ptr<const platform::Image> image) {
    view();  // the thumbnail is made with the view
    _photoViewButton->setImage(std::move(image));
}

void quorbitViewController::photoFinishedSaving() {
    isTakingPhoto = false;
    if (_photoViewButton) _photoViewButton->setSaving(false);
    if (_captureCamera) _captureCamera->restartCamera();
}

void quorbitViewController::photoFailedSaving(const platform::Error& error) {
    isTakingPhoto = false;
    if (_photoViewButton) _photoViewButton->setSaving(false);
    if (_captureCamera) _captureCamera->restartCamera();
    platform::Log::error("the photo could not be saved: " + error.localizedDescription());
    platform::AlertView::inform(platform::tr(kSaveFailedTitle), error.localizedDescription());
}

void quorbitViewController::processNewCameraFrame(capture::PixelBuffer& frame) {
    if (sharingWindowOpen || settingsViewOpen || albumOpen) return;
    if (filterPickerOpen) {
        if (_filterPicker) _filterPicker->cameraUpdated(frame);
        return;
    }
    updateFlashControl();
    setPictureSize(gpu::uprightSize(frame.width(), frame.height(), frame.rotation()));
    _frameRotation = frame.rotation();
    frame.lockBaseAddress(0);
    // The frame as the camera gave it, before the filter: a filter that changes colours or
    // shapes would hide a code. Only the application's screen reads codes, not the tools
    // that render through a screen without a camera.
    if (_detectCodes && _captureCamera) {
        if (!_codeScanner)
            _codeScanner = std::make_unique<codes::CodeScanner>(
                platform::RunLoop::main(),
                [this](const std::optional<codes::FoundCode>& found) { codeRead(found); },
                [] { return platform::RunLoop::main().now(); });
        _codeScanner->offer(frame);
    }
    if (unmirroredPhoto()) {
        _lastFrame.assign(frame.baseAddress(),
                          frame.baseAddress() + frame.bytesPerRow() * std::size_t(frame.height()));
        _lastFrameWidth = frame.width();
        _lastFrameHeight = frame.height();
    }
    _camTexture.upload(frame, _context);
    renderCamera();
    if (_recorder) recordFrame(frame);
    _camTexture.reset();
    frame.unlockBaseAddress(0);
}

bool quorbitViewController::unmirroredPhoto() const {
    return !_mirrorFrontPhotos && _camera && _camera->curCameraType() == capture::kCameraFront;
}

std::pair<int, platform::Point> quorbitViewController::photoDrawing() const {
    int cameraType = _camera ? _camera->curCameraType() : capture::kCameraBack;
    if (!unmirroredPhoto()) return {cameraType, _distortionCentre};
    return {capture::kCameraBack, {1.0 - _distortionCentre.x, _distortionCentre.y}};
}

void quorbitViewController::readCameraSettings() {
    _mirrorFrontPhotos =
        !_userDefaults ||
        _userDefaults->boolValueForKey(share::SettingsView::kMirrorFrontPhotosKey).value_or(true);
    if (_mirrorFrontPhotos) std::vector<std::uint8_t>().swap(_lastFrame);
    _detectCodes = !_userDefaults ||
                   !_userDefaults->contains(share::SettingsView::kDetectCodesKey) ||
                   _userDefaults->boolForKey(share::SettingsView::kDetectCodesKey);
    if (!_detectCodes) {
        _codeScanner.reset();
        hideCodeBanner();
    }
}

void quorbitViewController::codeRead(const std::optional<codes::FoundCode>& found) {
    if (!found || !_detectCodes || !_codeBanner) return;
    bool showing = !_codeBanner->isHidden();
    if (found->bytes == _lastCode) {
        // Still in the picture: the banner stays; once gone it does not come back for it.
        if (showing)
            _codeBannerTimer =
                platform::RunLoop::main().timer(kCodeBannerLinger, [this] { hideCodeBanner(); });
        return;
    }
    _lastCode = found->bytes;
    _confirmationTimer.reset();
    _codeBanner->setContent(codes::classify(found->bytes));
    _codeBanner->setHidden(false);
    layoutControls(view()->bounds().size);
    _codeBannerTimer =
        platform::RunLoop::main().timer(kCodeBannerLinger, [this] { hideCodeBanner(); });
}

void quorbitViewController::hideCodeBanner() {
    _codeBannerTimer.reset();
    _confirmationTimer.reset();
    if (_codeBanner) _codeBanner->setHidden(true);
}

void quorbitViewController::codeBannerTapped() {
    if (!_codeBanner || _codeBanner->isHidden()) return;
    const codes::CodeContent& content = _codeBanner->content();
    std::string confirmation;
    if (!content.openUrl.empty()) {
        bool opened = platform::UrlOpener::shared().openURL(content.openUrl);
        confirmation = opened ? platform::tr("Opened") : platform::tr("Could not open it");
    } else {
        if (content.copyText.empty()) return;
        bool copied = platform::Pasteboard::setString(content.copyText);
        if (!copied)
            confirmation = platform::tr("Could not copy it");
        else if (content.kind == codes::ContentKind::Wifi)
            confirmation = platform::tr("Password copied");
        else
            confirmation = platform::tr("Copied");
    }
    _codeBanner->confirm(confirmation);
    _confirmationTimer = platform::RunLoop::main().timer(kConfirmationTime, [this] {
        if (_codeBanner) _codeBanner->resetAction();
    });
}

void quorbitViewController::renderCamera() {
    int cameraType = _camera ? _camera->curCameraType() : capture::kCameraBack;
    gpu::drawFrameQuad(*_glview, *_filter, _camTexture.name(), cameraType, {1, 1, 0, 1},
                       _distortionCentre);
}

void quorbitViewController::startAnimation() {
    if (_animating) return;
    _displayLink = std::make_unique<platform::DisplayLink>([this] { drawFrame(); });
    _displayLink->setFrameInterval(_animationFrameInterval);
    _displayLink->addToRunLoop(platform::RunLoop::main());
    _animating = true;
}

void quorbitViewController::stopAnimation() {
    if (!_animating) return;
    _displayLink->invalidate();
    _displayLink.reset();
    _animating = false;
}

void quorbitViewController::setAnimationFrameInterval(int interval) {
    if (interval < 1) return;
    _animationFrameInterval = interval;
    if (_animating) {
        stopAnimation();
        startAnimation();
    }
}

}  // namespace quorbit::camera_screen

namespace quorbit::camera_screen {

void quorbitViewController::setVideosFolder(std::filesystem::path folder) {
    _album->setClipFolder(folder);
    _videosFolder = std::move(folder);
}

std::filesystem::path quorbitViewController::videosFolder() const {
    return _videosFolder ? *_videosFolder : platform::defaultVideosFolder();
}

void quorbitViewController::toggleMode() {
    setVideoMode(!_videoMode);
}

void quorbitViewController::setVideoMode(bool video) {
    if (isRecording() || isTakingPhoto) return;
    cancelCountdown();
    _videoMode = video;
    if (_userDefaults) _userDefaults->setString(kCaptureModeKey, video ? "video" : "photo");
    if (_modeSwitch) _modeSwitch->setVideo(video);
    updateRecordingControls();
    // Where nothing can record, video mode says so at once, and what to install.
    if (video) {
        auto encoders = recording::availableEncoders();
        if (!encoders) {
            platform::Log::warn(encoders.error().localizedDescription());
            showStillNote(encoders.error().localizedDescription(), true);
        }
    } else if (_stillNote && !_stillNoteTimer) {
        _stillNote->setHidden(true);  // the note that video is not available
    }
}

void quorbitViewController::startRecording() {
    if (isRecording() || !_captureCamera || isTakingPhoto) return;
    recording::RecordingOptions options;
    options.width = evenSide(_pictureSize.width);
    options.height = evenSide(_pictureSize.height);
    options.folder = videosFolder();
    options.sound = _settingsView->recordSound();
    auto started = recording::VideoRecorder::start(options, [this](const platform::Error& error) {
        stopRecording(error.localizedDescription());
    });
    if (!started) {
        const platform::Error& error = started.error();
        platform::Log::warn("cannot record: " + error.localizedDescription());
        if (error.is(recording::RecordingError::NoEncoder))
            showStillNote(error.localizedDescription(), true);
        else
            platform::AlertView::inform(platform::tr("Cannot record video"),
                                        error.localizedDescription());
        return;
    }
    _recorder = std::move(*started);
    _clipFirstFrame.reset();
    if (_recorder->microphoneMissing() && !_toldNoMicrophone) {
        _toldNoMicrophone = true;
        showStillNote(
            platform::tr("No microphone was found: the video is recorded without sound."));
    }
    if (_soundPlayer) _soundPlayer->play();
    _recordingTimer = platform::RunLoop::main().timer(
        std::chrono::milliseconds(250),
        [this] {
            if (_recorder && _recordingLabel)
                _recordingLabel->setText(recordingTimeText(_recorder->elapsed()));
        },
        std::chrono::milliseconds(250));
    updateRecordingControls();
}

void quorbitViewController::recordFrame(const capture::PixelBuffer& frame) {
    platform::Size upright = gpu::uprightSize(frame.width(), frame.height(), frame.rotation());
    const int width = evenSide(upright.width), height = evenSide(upright.height);
    int cameraType = _camera ? _camera->curCameraType() : capture::kCameraBack;
    const std::uint8_t* pixels = _recordingPass.draw(_context, *_filter, _camTexture.name(), width,
                                                     height, cameraType, _distortionCentre);
    if (!pixels) return;
    if (!_clipFirstFrame) {
        std::vector<std::uint8_t> copy(pixels, pixels + std::size_t(width) * height * 4);
        _clipFirstFrame = std::make_shared<const platform::Image>(width, height, std::move(copy));
    }
    _recorder->addFrame(pixels, frame.captured());
}

void quorbitViewController::stopRecording(const std::string& why) {
    if (!_recorder) return;
    std::unique_ptr<recording::VideoRecorder> recorder = std::move(_recorder);
    _recordingTimer.reset();
    auto kept = recorder->finish();
    _lastFramesRecorded = recorder->framesAdded();
    _lastFramesDropped = recorder->framesDropped();
    platform::Log::info("recording ended: " + std::to_string(_lastFramesRecorded) +
                        " frames recorded, " + std::to_string(_lastFramesDropped) + " dropped");
    recorder.reset();
    _lastClips = kept ? *kept : std::vector<std::filesystem::path>{};
    if (!_lastClips.empty() && _clipFirstFrame && _photoViewButton) {
        _photoViewButton->setImage(_clipFirstFrame);
        _photoViewButton->setClip(_lastClips.back());
    }
    updateRecordingControls();
    std::string message = why;
    if (!kept) {
        message = message.empty() ? kept.error().localizedDescription()
                                  : message + "\n" + kept.error().localizedDescription();
    } else if (!message.empty() && !_lastClips.empty()) {
        message += "\n" + platform::tr("What was recorded until then is kept.");
    }
    if (!message.empty()) platform::AlertView::inform(platform::tr("Recording stopped"), message);
}

void quorbitViewController::updateRecordingControls() {
    bool recording = isRecording();
    if (_shutterButton)
        _shutterButton->setGlyph(!_videoMode ? ControlArt::Glyph::Shutter
                                 : recording ? ControlArt::Glyph::Stop
                                             : ControlArt::Glyph::Record);
    for (const auto& control : {std::static_pointer_cast<platform::Button>(_filtersButton),
                                std::static_pointer_cast<platform::Button>(_swapCameraButton),
                                std::static_pointer_cast<platform::Button>(_settingsButton),
                                std::static_pointer_cast<platform::Button>(_modeSwitch)})
        if (control) control->setEnabled(!recording);
    if (_photoViewButton) _photoViewButton->setUserInteractionEnabled(!recording);
    if (_recordingLabel) {
        _recordingLabel->setText(recordingTimeText({}));
        _recordingLabel->setHidden(!recording);
    }
}

}  // namespace quorbit::camera_screen
