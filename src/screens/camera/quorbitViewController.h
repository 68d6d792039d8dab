#pragma once

#include <GLES2/gl2.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/Camera.h"
#include "capture/PixelBuffer.h"
#include "codes/CodeScanner.h"
#include "gpu/FilterCatalogue.h"
#include "gpu/FrameDrawing.h"
#include "gpu/GLPostView.h"
#include "gpu/RecordingPass.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Translate.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/AudioPlayer.h"
#include "platform/gl/GLContext.h"
#include "platform/ui/DisplayLink.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "recording/VideoRecorder.h"
#include "screens/album/AlbumViewController.h"
#include "screens/camera/CameraScreenLayout.h"
#include "screens/camera/CodeBanner.h"
#include "screens/camera/ControlBarView.h"
#include "screens/camera/ControlButton.h"
#include "screens/camera/LastPictureButtonViewController.h"
#include "screens/camera/ModeSwitch.h"
#include "screens/picker/PickerHost.h"
#include "screens/settings/SettingsView.h"
#include "screens/share/PhotoLibrary.h"
#include "screens/share/PhotoViewController.h"
#include "screens/share/ScreenHost.h"

namespace quorbit::camera_screen {

// The camera screen: owns the GL context, the 320 x 427 live surface and the sixteen filter
// programs, and turns every camera frame into the live picture. Drawing is driven by frame
// arrival; the display-synchronised timer it runs has an empty callback.
//
// Below the live view lies the control bar: the last-photo thumbnail, the filters button,
// the shutter in the middle, the camera switch (only with two cameras) and the settings
// button. The filter picker, the share screen and the settings screen are presented over it
// without animation; while one is up, touches on this screen are off and camera frames go
// to the picker or nowhere, until the child screen has gone and called restart().
class quorbitViewController : public platform::ViewController,
                              public capture::CameraDelegate,
                              public picker::PickerHost,
                              public share::ScreenHost,
                              public share::PhotoLibraryDelegate,
                              public LastPictureButtonDelegate {
  public:
    // The key under which the chosen slot is kept.
    static constexpr const char* kLastFilterUsedKey = "LastFilterUsed";
    // The live view's size in a window of 320 x 480 points, which is also the size of a
    // photo taken there (a phone sensor's picture, 3:4).
    static constexpr int kLiveWidth = 320;
    static constexpr int kLiveHeight = 427;
    // The alert shown when a photo could not be written.
    static constexpr const char* kSaveFailedTitle = platform::N_("Could not save photo");
    // The self-timer's seconds (0, 3 or 10) and whether the front camera's screen flash is
    // on (absent: on) are kept under these keys.
    static constexpr const char* kSelfTimerKey = "SelfTimer";
    static constexpr const char* kScreenFlashKey = "ScreenFlash";
    // The self-timer's choices, in the order the timer control cycles through them.
    static constexpr int kTimerChoices[] = {0, 3, 10};
    // The screen flash: white over the whole window for kFlashLength; the live surface is read
    // back kFlashLead after it came up, so that the lit picture is what is taken.
    static constexpr std::chrono::milliseconds kFlashLead{100};
    static constexpr std::chrono::milliseconds kFlashLength{150};
    // Two taps on the live view this close in time make a double tap.
    static constexpr std::chrono::milliseconds kDoubleTapTime{350};
    // The code banner goes this long after its code was last seen in the picture, and its
    // confirmation ("Copied") shows this long.
    static constexpr std::chrono::seconds kCodeBannerLinger{3};
    static constexpr std::chrono::milliseconds kConfirmationTime{1500};

    // The application's camera screen: builds the live surface on context, the sixteen
    // programs, the child screens, the shutter sound and the photo writer (on albumFolder,
    // else the default album), becomes camera's delegate and restores the slot kept in
    // defaults (not owned; null keeps nothing).
    quorbitViewController(std::shared_ptr<platform::GLContext> context,
                          std::shared_ptr<capture::Camera> camera, platform::UserDefaults* defaults,
                          std::optional<std::filesystem::path> albumFolder = std::nullopt);
    // A screen whose camera only says which side it is on (tools and frame tests): the
    // shutter and the camera switch then leave the camera alone, and no slot is kept.
    quorbitViewController(std::shared_ptr<platform::GLContext> context,
                          std::shared_ptr<capture::CameraTypeSource> camera);
    ~quorbitViewController() override;

    // The screen's view: the live surface and the control bar, laid out for the window's size
    // (CameraScreenLayout) and again whenever it changes.
    void loadView() override;
    // Where the parts of the screen are for its present size and camera picture.
    CameraScreenLayout currentLayout() const;
    // The camera picture's size as shown (upright), which gives the live view its aspect
    // ratio and caps its surface's pixels; frames set it as they come.
    platform::Size pictureSize() const override { return _pictureSize; }
    void setPictureSize(platform::Size size);
    void viewDidLoad() override;
    // Each time the screen appears the kept slot becomes the filter; when none is kept,
    // slot 0 does and the filter picker opens.
    void viewDidAppear(bool animated) override;

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
    const gpu::ProgramList& programArray() const override { return _programArray; }
    gpu::ShaderProgram* filter() const { return _filter; }
    // Makes program (one of programArray) the filter and keeps its slot.
    void setFilter(gpu::ShaderProgram* program) override;
    // Where the chosen slot is kept; not owned, may be null.
    platform::UserDefaults* userDefaults() const { return _userDefaults; }
    // The slot to restore when the screen appears; -1 while none has been chosen.
    int lastFilterUsed() const { return _lastFilterUsed; }

    const std::shared_ptr<gpu::GLPostView>& glview() const { return _glview; }
    const std::shared_ptr<platform::GLContext>& context() const override { return _context; }
    const std::shared_ptr<capture::CameraTypeSource>& camera() const override { return _camera; }
    // The camera the actions drive; null for a screen built on a side only.
    const std::shared_ptr<capture::Camera>& captureCamera() const { return _captureCamera; }

    // Actions of the controls. With the self-timer set the shutter starts a countdown, and
    // during one it cancels it; otherwise it takes the still (takeStill).
    void snapPhoto();
    void openFilterPicker();
    void openSettings();
    // The album of the photo folder (the last-photo thumbnail's long press or right click,
    // the G key). Its photo screen shares a photo through this screen's share screen.
    void showAlbum() override;
    void swapCamera();
    // The keyboard: Space or Return is the shutter (a key held down takes one photo), F
    // opens the filters, G the album, T moves the self-timer on, C switches the camera
    // (with two).
    bool handleKey(const platform::KeyEvent& event) override;
    // Each child screen calls this once it has disappeared: clears the open flags and turns
    // touches back on. It leaves a photo being saved, the camera and the filter alone. A
    // screen that goes while another of the chain stays up (the share screen over the
    // album) changes nothing.
    void restart() override;

    // The self-timer: its seconds (0: off), the control's action that moves it to the next
    // choice and keeps it, and the countdown it starts: the seconds still to go (0: none), and
    // its cancellation (a tap on the live view, the shutter, a child screen opening).
    int selfTimerSeconds() const { return _selfTimerSeconds; }
    void cycleSelfTimer();
    bool isCountingDown() const { return _countdownLeft > 0; }
    int countdownLeft() const { return _countdownLeft; }
    void cancelCountdown();
    // The still as the shutter takes it without a timer; with the front camera and the screen
    // flash on, the white overlay comes first and the surface is read back under it.
    void takeStill();

    // The front camera's screen flash: on or off (kept), the control's action that switches
    // it, and whether the overlay is up now.
    bool screenFlashOn() const { return _screenFlashOn; }
    void toggleScreenFlash();
    bool isFlashing() const { return _flashView && !_flashView->isHidden(); }

    // Where the distortions (the programs that take a centre) have their centre, in the live
    // view's normalised coordinates (x across, y down, 0..1); kViewCentre unless moved. A drag
    // on the live view moves it while such a filter is in use; a double tap puts it back.
    platform::Point distortionCentre() const { return _distortionCentre; }
    // Clamped into the view.
    void setDistortionCentre(platform::Point centre);
    // Whether the current filter has a centre that can be moved.
    bool filterHasCentre() const;
    // Touches on the live view, in its points (the live-view control forwards them).
    void liveViewTouched(platform::TouchPhase phase, platform::Point at);

    // Which child screen is up; decides where frames go.
    bool filterPickerOpen = false;
    bool sharingWindowOpen = false;
    bool settingsViewOpen = false;
    bool albumOpen = false;
    // A photo is being taken and written.
    bool isTakingPhoto = false;

    // The filter picker, made by the application on this screen (it needs the screen as
    // its host): the screen presented, and where frames go while it is up. Without one the
    // filters button does nothing.
    void setFilterPicker(std::shared_ptr<platform::ViewController> controller,
                         capture::FrameConsumer* frames);
    const std::shared_ptr<platform::ViewController>& filterPickerController() const {
        return _filterPickerController;
    }
    capture::FrameConsumer* filterPicker() const { return _filterPicker; }

    const std::shared_ptr<share::SettingsView>& settingsView() const { return _settingsView; }
    const std::shared_ptr<share::PhotoViewController>& getPhotoViewController() const {
        return _photoView;
    }
    const std::shared_ptr<album::AlbumViewController>& albumView() const { return _album; }
    const std::shared_ptr<share::PhotoLibrary>& library() const { return _library; }
    const std::shared_ptr<platform::AudioPlayer>& soundPlayer() const { return _soundPlayer; }
    // The countdown's tick, played as each number comes up.
    const std::shared_ptr<platform::AudioPlayer>& tickPlayer() const { return _tickPlayer; }

    // Still capture. The photo is either the live surface as it is (the default) or, when the
    // settings say "full" (SettingsView::kPhotoSizeKey, read as each photo is taken), a still
    // at the camera's largest size drawn through the same look, with the same camera table
    // and distortion centre as the view. A full-size photo gives its click and thumbnail at
    // once from the view, shows that it is being saved on the thumbnail until the file is
    // written, and takes no next photo until then. When the camera or the drawing fails, the
    // surface's photo is saved instead and a short note says why.
    bool fullSizePhotos() const;
    // The upright size a full-size photo from the current camera has: its largest still that
    // the GL can draw from. None without a camera that takes stills.
    std::optional<platform::Size> fullPhotoSize() const;
    static constexpr int kFullSizeJpegQuality = 92;
    // Whether the front camera's photos are mirrored as the view shows them (the default) or
    // turned back the way others see the person (SettingsView::kMirrorFrontPhotosKey, read
    // when the screen is made and whenever a child screen closes). The live view is mirrored
    // either way; an unmirrored photo is the frame drawn with the back camera's table and the
    // distortion centre mirrored with it, so that the effect stays on the same place of the
    // scene.
    bool mirrorsFrontPhotos() const { return _mirrorFrontPhotos; }
    // The note over the live view ("still-note"), shown for kStillNoteTime.
    const std::shared_ptr<platform::Label>& stillNote() const { return _stillNote; }
    static constexpr std::chrono::seconds kStillNoteTime{4};
    // The camera's answer to a full-size still.
    void fullStillTaken(platform::Result<capture::StillFrame> still);
    void captureToPhotoAlbum();
    // The live surface as it is now: 320 x 427 RGBA, top row first.
    platform::Image glToCGImageRef();
    void updateLastPictureView(std::shared_ptr<const platform::Image> image);
    void photoFinishedSaving() override;
    // A photo that could not be written: the camera runs again, and an alert says why.
    void photoFailedSaving(const platform::Error& error) override;
    void showSharingWindow() override;

    // Says over the live view that the camera is not available, and why (access refused,
    // unplugged, busy); the last picture stays beneath. Hidden while the camera is available.
    void showCameraAvailability(bool available, const std::string& reason);
    // The note ("camera-unavailable" to scripts); made when the screen's view is loaded.
    const std::shared_ptr<platform::Label>& cameraNote() const { return _cameraNote; }

    // The controls, made with the view.
    const std::shared_ptr<ControlBarView>& controlBarView() const { return _controlBarView; }
    const std::shared_ptr<ControlButton>& shutterButton() const { return _shutterButton; }
    const std::shared_ptr<ControlButton>& filtersButton() const { return _filtersButton; }
    const std::shared_ptr<ControlButton>& settingsButton() const { return _settingsButton; }
    const std::shared_ptr<ControlButton>& swapCameraButton() const { return _swapCameraButton; }
    const std::shared_ptr<ControlButton>& timerButton() const { return _timerButton; }
    const std::shared_ptr<ControlButton>& flashButton() const { return _flashButton; }
    const std::shared_ptr<platform::Label>& countdownLabel() const { return _countdownLabel; }
    const std::shared_ptr<platform::View>& flashView() const { return _flashView; }
    const std::shared_ptr<LastPictureButtonViewController>& photoViewButton() const {
        return _photoViewButton;
    }

    // Codes in the picture. While the setting is on (SettingsView::kDetectCodesKey) the live
    // view's frames, before any filter, are offered to a code scanner; a code found shows
    // the code banner over the live view, and the banner goes kCodeBannerLinger after the
    // code was last seen. The code announced last is not announced again until another has
    // been. The setting is read when the screen is made and whenever a child screen closes.
    bool detectsCodes() const { return _detectCodes; }
    const std::shared_ptr<CodeBanner>& codeBanner() const { return _codeBanner; }
    codes::CodeScanner* codeScanner() const { return _codeScanner.get(); }
    // An attempt's outcome (the scanner's handler).
    void codeRead(const std::optional<codes::FoundCode>& found);
    // A tap on the banner opens a link (only the addresses CodeContent offers: http, https,
    // mailto, tel, geo) with the desktop's opener and copies anything else to the clipboard,
    // saying so on the banner.
    void codeBannerTapped();

    // The texture of the frame being drawn; 0 outside the frame path.
    GLuint camTexture() const { return _camTexture.name(); }

    // Photo and video modes. In video mode the shutter starts a recording of what the live
    // view shows (after the self-timer's countdown, when one is set) and stops it; while
    // recording, the running time shows over the live view ("recording-time") and the
    // filters, camera switch, settings, last-photo and mode controls are off. The mode is
    // kept under kCaptureModeKey ("photo" or "video"). Where no encoder is installed the
    // video mode says so and photos still work.
    static constexpr const char* kCaptureModeKey = "CaptureMode";
    bool videoMode() const { return _videoMode; }
    void setVideoMode(bool video);
    void toggleMode();
    const std::shared_ptr<ModeSwitch>& modeSwitch() const { return _modeSwitch; }
    const std::shared_ptr<platform::Label>& recordingLabel() const { return _recordingLabel; }
    bool isRecording() const { return _recorder != nullptr; }
    const recording::VideoRecorder* recorder() const { return _recorder.get(); }
    void startRecording();
    // Ends the recording and keeps what was recorded; the clip becomes the last picture.
    // why (when not empty) is said in an alert: the recording stopped on its own.
    void stopRecording(const std::string& why = {});
    // The clips the last recording wrote, and its frame counts.
    const std::vector<std::filesystem::path>& lastClips() const { return _lastClips; }
    std::uint64_t lastFramesRecorded() const { return _lastFramesRecorded; }
    std::uint64_t lastFramesDropped() const { return _lastFramesDropped; }
    // Where clips go, and where the album finds them: the folder set, else the album folder
    // the screen was made with, else defaultVideosFolder().
    std::filesystem::path videosFolder() const;
    void setVideosFolder(std::filesystem::path folder);

  private:
    quorbitViewController(std::shared_ptr<platform::GLContext> context,
                          std::shared_ptr<capture::CameraTypeSource> camera,
                          std::shared_ptr<capture::Camera> captureCamera,
                          platform::UserDefaults* defaults,
                          std::optional<std::filesystem::path> albumFolder);
    // Presents child modally without animation, with its open flag set and touches off while
    // it is up; when the presentation does not happen, both are put back.
    void presentChild(const std::shared_ptr<platform::ViewController>& child, bool& open);
    // Whether a child screen is up or coming or going.
    bool childScreenUp() const;
    void setTouchesEnabled(bool enabled);
    // The still itself: stops the camera, reads back and saves (the part after any flash).
    void captureStill();
    void countdownStep();
    void showCountdown();
    void endFlash();
    // The controls follow the settings and the active camera.
    void updateTimerControl();
    void updateFlashControl();
    void layoutControls(platform::Size screen);
    // Reads the settings kept for codes and front photos (when the screen is made and
    // whenever a child screen closes).
    void readCameraSettings();
    // The camera table and centre a photo is drawn with now.
    std::pair<int, platform::Point> photoDrawing() const;
    bool unmirroredPhoto() const;
    void hideCodeBanner();
    // The full-size photo: asks the camera for the still (false when it cannot), and saves
    // the view's photo when the still fails.
    bool captureFullSize();
    void saveViewPhotoInstead(const std::shared_ptr<const platform::Image>& viewPhoto,
                              const std::string& why);
    std::optional<capture::FrameSize> fullStillSize() const;

    std::shared_ptr<gpu::GLPostView> _glview;
    std::shared_ptr<platform::GLContext> _context;
    // A phone sensor's 640 x 480 frame turned upright, until a frame says otherwise.
    platform::Size _pictureSize{480, 640};
    int _frameRotation = 90;  // the last frame's
    bool _animating = false;
    int _animationFrameInterval = 1;
    std::unique_ptr<platform::DisplayLink> _displayLink;
    gpu::CameraTexture _camTexture;
    gpu::ShaderProgram* _filter = nullptr;
    std::shared_ptr<capture::CameraTypeSource> _camera;
    std::shared_ptr<capture::Camera> _captureCamera;
    std::shared_ptr<platform::AudioPlayer> _soundPlayer;
    std::shared_ptr<platform::ViewController> _filterPickerController;
    capture::FrameConsumer* _filterPicker = nullptr;
    gpu::ProgramList _programArray;
    std::shared_ptr<share::PhotoLibrary> _library;
    std::shared_ptr<share::SettingsView> _settingsView;
    std::shared_ptr<share::PhotoViewController> _photoView;
    std::shared_ptr<album::AlbumViewController> _album;
    int _lastFilterUsed = -1;
    platform::UserDefaults* _userDefaults = nullptr;

    std::shared_ptr<ControlBarView> _controlBarView;
    std::shared_ptr<LastPictureButtonViewController> _photoViewButton;
    std::shared_ptr<ControlButton> _shutterButton;
    std::shared_ptr<ControlButton> _filtersButton;
    std::shared_ptr<ControlButton> _swapCameraButton;
    std::shared_ptr<ControlButton> _settingsButton;
    std::shared_ptr<platform::Label> _cameraNote;
    std::shared_ptr<ControlButton> _timerButton;
    std::shared_ptr<ControlButton> _flashButton;
    std::shared_ptr<platform::Label> _countdownLabel;
    std::shared_ptr<platform::View> _flashView;
    std::shared_ptr<platform::AudioPlayer> _tickPlayer;
    int _selfTimerSeconds = 0;
    int _countdownLeft = 0;
    platform::RunLoopHandle _countdownTimer;
    bool _screenFlashOn = true;
    platform::RunLoopHandle _flashReadTimer;
    platform::RunLoopHandle _flashEndTimer;
    platform::Point _distortionCentre = gpu::kViewCentre;
    std::vector<bool> _centredPrograms;  // by slot: the program takes "u_center"
    // The live view's touch: where it went down, whether it has become a drag, and when the
    // last tap ended (for double taps).
    platform::Point _touchStart;
    bool _dragging = false;
    std::optional<platform::RunLoop::Clock::time_point> _lastTap;
    bool _cameraAvailable = true;
    std::string _cameraProblem;
    bool _detectCodes = true;
    std::unique_ptr<codes::CodeScanner> _codeScanner;
    std::shared_ptr<CodeBanner> _codeBanner;
    std::optional<std::string> _lastCode;  // the bytes of the code announced last
    platform::RunLoopHandle _codeBannerTimer;
    platform::RunLoopHandle _confirmationTimer;
    // What the view showed when a full-size photo was taken: its photo, the look, the camera
    // and the distortion centre; set until the camera answers.
    struct PendingStill {
        std::shared_ptr<const platform::Image> viewPhoto;
        gpu::ShaderProgram* program = nullptr;
        int cameraType = capture::kCameraBack;
        platform::Point centre;
        std::string cameraName;
    };
    std::optional<PendingStill> _pendingStill;
    std::shared_ptr<platform::Label> _stillNote;
    platform::RunLoopHandle _stillNoteTimer;
    mutable int _maxTextureSize = 0;  // the GL's, asked once
    bool _mirrorFrontPhotos = true;
    bool _videoMode = false;
    std::shared_ptr<ModeSwitch> _modeSwitch;
    std::shared_ptr<platform::Label> _recordingLabel;
    std::unique_ptr<recording::VideoRecorder> _recorder;
    gpu::RecordingPass _recordingPass;
    platform::RunLoopHandle _recordingTimer;
    std::shared_ptr<const platform::Image> _clipFirstFrame;
    std::vector<std::filesystem::path> _lastClips;
    std::uint64_t _lastFramesRecorded = 0, _lastFramesDropped = 0;
    std::optional<std::filesystem::path> _videosFolder;
    bool _toldNoMicrophone = false;
    void recordFrame(const capture::PixelBuffer& frame);
    // Shows text in the note over the live view, for kStillNoteTime unless it stays.
    void showStillNote(const std::string& text, bool stays = false);
    void updateRecordingControls();
    // The last frame drawn, while photos are unmirrored: the screen-size photo is drawn from
    // it again (no GL texture outlives its frame).
    std::vector<std::uint8_t> _lastFrame;
    int _lastFrameWidth = 0, _lastFrameHeight = 0;
};

}  // namespace quorbit::camera_screen
