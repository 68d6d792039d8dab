#pragma once

#include <GLES2/gl2.h>

#include <memory>
#include <string>

#include "capture/PixelBuffer.h"
#include "gpu/FilterCatalogue.h"
#include "gpu/GLPostView.h"
#include "platform/core/UserDefaults.h"
#include "platform/gl/DisplayLink.h"
#include "platform/gl/GLContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace quorbit::camera_screen {

// The camera screen: owns the GL context, the 320 x 427 live surface and the sixteen filter
// programs, and turns every camera frame into the live picture. Drawing is driven by frame
// arrival; the display-synchronised timer it runs has an empty callback.
class quorbitViewController : public platform::ViewController, public capture::CameraDelegate {
  public:
    // The key under which the chosen slot is kept.
    static constexpr const char* kLastFilterUsedKey = "LastFilterUsed";

    // Builds the live surface on context and the sixteen programs (context current).
    quorbitViewController(std::shared_ptr<platform::GLContext> context,
                          std::shared_ptr<capture::CameraTypeSource> camera);
    ~quorbitViewController() override;

    // The screen's view: the live surface at the top of a black 320 x 480 screen.
    void loadView() override;
    // Each time the screen appears the saved slot becomes the filter (slot 0 when none is
    // saved).
    void viewWillAppear(bool animated) override;

    // Frame entry: routes the frame by the child-screen flags, else draws it.
    void processNewCameraFrame(capture::PixelBuffer& frame) override;
    void cameraHasConnected() override {}
    // Draws the texture in camTexture through filter() into the live surface and presents.
    void renderCamera();

    // The display-synchronised timer.
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return _animating; }
    int animationFrameInterval() const { return _animationFrameInterval; }
    // Values below 1 are ignored; a running timer restarts at the new interval.
    void setAnimationFrameInterval(int interval);
    platform::DisplayLink* displayLink() const { return _displayLink.get(); }
    void drawFrame() {}

    // Filters.
    void createShaders();
    const gpu::ProgramList& programArray() const { return _programArray; }
    gpu::ShaderProgram* filter() const { return _filter; }
    // Makes program (one of programArray) the filter and saves its slot.
    void setFilter(gpu::ShaderProgram* program);
    // Where the chosen slot is saved (the application gives its standard store); null keeps
    // nothing, as for one-off tools. Not owned.
    platform::UserDefaults* userDefaults() const { return _userDefaults; }
    void setUserDefaults(platform::UserDefaults* defaults) { _userDefaults = defaults; }
    int lastFilterUsed() const { return _lastFilterUsed; }

    const std::shared_ptr<gpu::GLPostView>& glview() const { return _glview; }
    const std::shared_ptr<platform::GLContext>& context() const { return _context; }
    const std::shared_ptr<capture::CameraTypeSource>& camera() const { return _camera; }

    // Which child screen is up; decides where frames go.
    bool filterPickerOpen = false;
    bool sharingWindowOpen = false;
    bool settingsViewOpen = false;
    capture::FrameConsumer* filterPicker() const { return _filterPicker; }
    void setFilterPicker(capture::FrameConsumer* picker) { _filterPicker = picker; }

    // Says over the live view that the camera is not available, and why (access refused,
    // unplugged, busy); the last picture stays beneath. Hidden while the camera is available.
    void showCameraAvailability(bool available, const std::string& reason);
    // The note ("camera-unavailable" to scripts); made when the screen's view is loaded.
    const std::shared_ptr<platform::Label>& cameraNote() const { return _cameraNote; }

    // The texture of the frame being drawn; 0 outside the frame path.
    GLuint camTexture() const { return _camTexture.name(); }

  private:
    std::shared_ptr<platform::GLContext> _context;
    std::shared_ptr<capture::CameraTypeSource> _camera;
    std::shared_ptr<gpu::GLPostView> _glview;
    gpu::ProgramList _programArray;
    gpu::ShaderProgram* _filter = nullptr;
    int _lastFilterUsed = 0;
    platform::UserDefaults* _userDefaults = nullptr;
    capture::FrameConsumer* _filterPicker = nullptr;
    platform::GLTexture _camTexture;
    std::shared_ptr<platform::Label> _cameraNote;
    bool _cameraAvailable = true;
    std::string _cameraProblem;
    bool _animating = false;
    int _animationFrameInterval = 1;
    std::unique_ptr<platform::DisplayLink> _displayLink;
};

}  // namespace quorbit::camera_screen
