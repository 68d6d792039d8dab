#include "camera_screen/quorbitViewController.h"

#include "gpu/FrameDrawing.h"
#include "platform/core/RunLoop.h"

namespace quorbit::camera_screen {

quorbitViewController::quorbitViewController(std::shared_ptr<platform::GLContext> context,
                                             std::shared_ptr<capture::CameraTypeSource> camera)
    : _context(std::move(context)), _camera(std::move(camera)) {
    _context->makeCurrent();
    _glview = std::make_shared<gpu::GLPostView>(platform::Rect(0, 0, 320, 427));
    _glview->setContext(_context);
    _glview->setBackgroundColor(platform::Color::black());
    _glview->setOpaque(true);
    _glview->setIsPreviewWindow(false);
    _glview->setFramebuffer();
    createShaders();
    // Until the screen first appears and restores the saved slot, Sketch is active.
    _filter = _programArray[2].get();
    _lastFilterUsed = 2;
}

quorbitViewController::~quorbitViewController() {
    stopAnimation();
    if (_context) _context->makeCurrent();
    _glview.reset();
    _programArray.clear();
}

void quorbitViewController::loadView() {
    auto root = std::make_shared<platform::View>(platform::Rect(0, 0, 320, 480));
    root->setBackgroundColor(platform::Color::black());
    root->addSubview(_glview);
    _cameraNote = std::make_shared<platform::Label>(platform::Rect(20, 163, 280, 100));
    _cameraNote->setControlName("camera-unavailable");
    _cameraNote->setBackgroundColor(platform::Color{0, 0, 0, 0.6});
    _cameraNote->setTextColor(platform::Color::white());
    _cameraNote->setTextAlignment(platform::TextAlignment::Center);
    _cameraNote->setNumberOfLines(0);
    root->addSubview(_cameraNote);
    setView(root);
    showCameraAvailability(_cameraAvailable, _cameraProblem);
}

void quorbitViewController::showCameraAvailability(bool available, const std::string& reason) {
    _cameraAvailable = available;
    _cameraProblem = reason;
    if (!_cameraNote) return;
    _cameraNote->setText(reason.empty() ? "Camera not available"
                                        : "Camera not available\n" + reason);
    _cameraNote->setHidden(available);
}

void quorbitViewController::viewWillAppear(bool animated) {
    platform::ViewController::viewWillAppear(animated);
    std::int64_t saved = _userDefaults ? _userDefaults->integerForKey(kLastFilterUsedKey) : 0;
    int slot = saved > 0 && saved < std::int64_t(_programArray.size()) ? int(saved) : 0;
    setFilter(_programArray[size_t(slot)].get());
}

void quorbitViewController::createShaders() {
    _programArray = gpu::createFilterPrograms();
}

void quorbitViewController::setFilter(gpu::ShaderProgram* program) {
    auto slot = gpu::slotOfProgram(_programArray, program);
    if (!slot) return;  // only programs of this screen's list can be chosen
    _filter = program;
    _lastFilterUsed = *slot;
    if (_userDefaults) _userDefaults->setInteger(kLastFilterUsedKey, *slot);
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
