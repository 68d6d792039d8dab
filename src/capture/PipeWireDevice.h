#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/CaptureDevice.h"
#include "capture/PipeWireConnection.h"
#include "capture/PipeWireFrameReader.h"

struct pw_stream;
struct spa_pod;

namespace quorbit::capture {

// A camera node of PipeWire (a libcamera or V4L2 camera that the daemon, or the camera
// portal, offers), found again by its node name each time it is opened.
//
// open() connects to the daemon, picks the best format that the node offers (see
// PipeWireFormat::choose) and links a capture stream to the node. Frames arrive on the
// connection's loop thread: while readFrame() waits, the newest buffer is converted there
// straight into the buffer the destination hands out; frames that come while nobody waits
// are dropped. A node that goes away or a daemon that quits fails readFrame() like an
// unplugged device, and open() fails until the node is back. A still is taken the same way
// from a stream of its own at its size, in the first format the node offers at that size.
class PipeWireDevice : public CaptureDevice {
  public:
    PipeWireDevice(DeviceInfo info, std::string nodeName, PipeWireConnection::Remote remote);
    ~PipeWireDevice() override;
    PipeWireDevice(const PipeWireDevice&) = delete;
    PipeWireDevice& operator=(const PipeWireDevice&) = delete;

    const DeviceInfo& info() const override { return _info; }
    const std::string& nodeName() const { return _nodeName; }
    platform::Result<void> open() override;
    platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                     const Destination& destination) override;
    void close() override;
    platform::Result<StillFrame> takeStill(FrameSize size, int settleFrames,
                                           std::chrono::milliseconds timeout) override;

  private:
    enum class Outcome { None, Frame, Damaged };

    static void onStateChanged(void* data, int old, int state, const char* error);
    static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param);
    static void onProcess(void* data);
    // Opens a stream of frames of size: live frames, when not still, are scaled to the live
    // size from the size the node offers nearest; a still's come at size or not at all.
    platform::Result<void> openAt(FrameSize size, bool still);
    platform::Result<void> connectStream(std::uint32_t nodeId);
    void fail(const std::string& why);

    DeviceInfo _info;
    std::string _nodeName;
    PipeWireConnection::Remote _remote;

    struct Hooks;
    std::unique_ptr<PipeWireConnection> _connection;
    std::unique_ptr<Hooks> _hooks;
    pw_stream* _stream = nullptr;
    std::uint32_t _nodeId = 0;
    FrameSize _size{kFrameWidth, kFrameHeight};  // what the stream asks for, as openAt() was told
    bool _still = false;
    std::optional<PipeWireFrameReader> _reader;  // loop thread, once the format is agreed

    // Between readFrame() and the loop thread.
    std::mutex _mutex;
    std::condition_variable _frameDone;
    const Destination* _waiting = nullptr;
    Outcome _outcome = Outcome::None;
    std::optional<std::string> _failure;
};

}  // namespace quorbit::capture
