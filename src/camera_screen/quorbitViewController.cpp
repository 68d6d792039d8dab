#include "camera_screen/quorbitViewController.h"

#include "gpu/FrameDrawing.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ControlNames.h"

namespace quorbit::camera_screen {

namespace {

// The control bar under the live view and its controls, in screen points.
constexpr double kScreenHeight = 480;
constexpr double kBarTop = quorbitViewController::kLiveHeight;
constexpr double kBarHeight = kScreenHeight - kBarTop;
constexpr double kBarMid = kBarTop + kBarHeight / 2;
constexpr double kShutterSide = 48;
constexpr double kButtonSide = 46;
constexpr double kGlyphSide = 26;
constexpr double kThumbnailSide = 40;

platform::Rect centredAt(double x, double side) {
    return {x - side / 2, kBarMid - side / 2, side, side};
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

    _glview = std::make_shared<gpu::GLPostView>(platform::Rect(0, 0, kLiveWidth, kLiveHeight));
    _glview->setContext(_context);
    _glview->setBackgroundColor(platform::Color::black());
    _glview->setOpaque(true);
    _glview->setIsPreviewWindow(false);
    _glview->setControlName(controls::kLiveView);
    _glview->setFramebuffer();

    // The picker itself comes from the application (setFilterPicker).
    filterPickerOpen = false;

    _photoView = std::make_shared<share::PhotoViewController>();
    _photoView->setBaseViewController(this);
    _settingsView->setPhotoViewController(_photoView);
    sharingWindowOpen = false;
    settingsViewOpen = false;

    createShaders();
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
    if (_captureCamera && _captureCamera->delegate() == this) _captureCamera->setDelegate(nullptr);
    if (_library) _library->setBaseViewController(nullptr);
    if (_photoViewButton) _photoViewButton->setDelegate(nullptr);
    _settingsView->setBaseViewController(nullptr);
    _photoView->setBaseViewController(nullptr);
    if (_context) _context->makeCurrent();
    _glview.reset();
    _programArray.clear();
}

void quorbitViewController::loadView() {
    auto root = std::make_shared<platform::View>(platform::Rect(0, 0, kLiveWidth, kScreenHeight));
    root->setBackgroundColor(platform::Color::black());

    _controlBarView =
        std::make_shared<ControlBarView>(platform::Rect(0, kBarTop, kLiveWidth, kBarHeight));
    root->addSubview(_controlBarView);

    _photoViewButton =
        std::make_shared<LastPictureButtonViewController>(centredAt(30, kThumbnailSide));
    _photoViewButton->setControlName(controls::kLastPhoto);
    root->addSubview(_photoViewButton);

    auto button = [&](ControlArt::Glyph glyph, platform::Rect frame, double glyphSide,
                      const char* name, void (quorbitViewController::*action)()) {
        auto made = std::make_shared<ControlButton>(glyph, frame, glyphSide);
        made->setControlName(name);
        made->addAction([this, action](platform::Button&) { (this->*action)(); });
        root->addSubview(made);
        return made;
    };
    _filtersButton = button(ControlArt::Glyph::Filters, centredAt(92, kButtonSide), kGlyphSide,
                            controls::kFilters, &quorbitViewController::openFilterPicker);
    _shutterButton = button(ControlArt::Glyph::Shutter, centredAt(160, kShutterSide), kShutterSide,
                            controls::kShutter, &quorbitViewController::snapPhoto);
    _swapCameraButton =
        button(ControlArt::Glyph::SwitchCamera, centredAt(228, kButtonSide), kGlyphSide,
               controls::kSwapCamera, &quorbitViewController::swapCamera);
    _settingsButton = button(ControlArt::Glyph::Settings, centredAt(290, kButtonSide), kGlyphSide,
                             controls::kSettings, &quorbitViewController::openSettings);

    _cameraNote = std::make_shared<platform::Label>(platform::Rect(20, 163, 280, 100));
    _cameraNote->setControlName(controls::kCameraUnavailable);
    _cameraNote->setBackgroundColor(platform::Color{0, 0, 0, 0.6});
    _cameraNote->setTextColor(platform::Color::white());
    _cameraNote->setTextAlignment(platform::TextAlignment::Center);
    _cameraNote->setNumberOfLines(0);
    root->addSubview(_cameraNote);
    setView(root);
    showCameraAvailability(_cameraAvailable, _cameraProblem);
}

void quorbitViewController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    // The live picture lies beneath every control.
    view()->insertSubview(_glview, 0);
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
    if (!_cameraNote) return;
    _cameraNote->setText(reason.empty() ? "Camera not available"
                                        : "Camera not available\n" + reason);
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

bool quorbitViewController::presentChild(const std::shared_ptr<platform::ViewController>& child) {
    presentModalViewController(child, false);
    return modalViewController() == child;
}

void quorbitViewController::openFilterPicker() {
    if (isTakingPhoto) return;
    if (!_filterPickerController) {
        platform::Log::info("no filter picker to open");
        return;
    }
    setTouchesEnabled(false);
    if (filterPickerOpen) return;
    if (childScreenUp()) return;  // another child screen is up; its restart turns touches on
    filterPickerOpen = true;
    if (!presentChild(_filterPickerController)) {
        // Another screen is up or moving: nothing opened, so nothing stays switched off.
        filterPickerOpen = false;
        setTouchesEnabled(true);
    }
}

void quorbitViewController::openSettings() {
    if (isTakingPhoto || settingsViewOpen || childScreenUp()) return;
    settingsViewOpen = true;
    setTouchesEnabled(false);
    if (!presentChild(_settingsView)) {
        settingsViewOpen = false;
        setTouchesEnabled(true);
    }
}

void quorbitViewController::showSharingWindow() {
    if (!_photoViewButton || !_photoViewButton->image() || isTakingPhoto || sharingWindowOpen ||
        childScreenUp())
        return;
    sharingWindowOpen = true;
    setTouchesEnabled(false);
    if (!presentChild(_photoView)) {
        sharingWindowOpen = false;
        setTouchesEnabled(true);
    }
}

void quorbitViewController::swapCamera() {
    setTouchesEnabled(false);
    if (_captureCamera) _captureCamera->swapCamera();
    setTouchesEnabled(true);
}

void quorbitViewController::restart() {
    filterPickerOpen = false;
    sharingWindowOpen = false;
    settingsViewOpen = false;
    setTouchesEnabled(true);
}

void quorbitViewController::snapPhoto() {
    if (isTakingPhoto) return;
    setTouchesEnabled(false);
    isTakingPhoto = true;
    // No later frame may replace the one on the surface.
    if (_captureCamera) _captureCamera->stopCamera();
    captureToPhotoAlbum();
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
    return gpu::readFramebufferImage(*_glview);
}

void quorbitViewController::updateLastPictureView(std::shared_ptr<const platform::Image> image) {
    view();  // the thumbnail is made with the view
    _photoViewButton->setImage(std::move(image));
}

void quorbitViewController::photoFinishedSaving() {
    isTakingPhoto = false;
    if (_captureCamera) _captureCamera->restartCamera();
}

void quorbitViewController::photoFailedSaving(const platform::Error& error) {
    isTakingPhoto = false;
    if (_captureCamera) _captureCamera->restartCamera();
    platform::Log::error("the photo could not be saved: " + error.localizedDescription());
    platform::AlertView::create(kSaveFailedTitle, error.localizedDescription(), nullptr, "OK")
        ->show();
}

void quorbitViewController::processNewCameraFrame(capture::PixelBuffer& frame) {
    if (sharingWindowOpen || settingsViewOpen) return;
    if (filterPickerOpen) {
        if (_filterPicker) _filterPicker->cameraUpdated(frame);
        return;
    }
    frame.lockBaseAddress(0);
    _camTexture = gpu::uploadFrameTexture(frame, _context);
    renderCamera();
    _camTexture.reset();
    frame.unlockBaseAddress(0);
}

void quorbitViewController::renderCamera() {
    int cameraType = _camera ? _camera->curCameraType() : capture::kCameraBack;
    gpu::drawFrameQuad(*_glview, *_filter, _camTexture.name(), cameraType, {1, 1, 0, 1});
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
