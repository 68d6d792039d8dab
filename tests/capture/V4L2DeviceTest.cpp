#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <deque>
#include <map>

#include "FakeDevices.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2DeviceLayer.h"

namespace quorbit::capture {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
constexpr int kW = CaptureDevice::kFrameWidth, kH = CaptureDevice::kFrameHeight;
constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, B = V4L2_PIX_FMT_BGR24;
constexpr FrameSize kLarge{1920, 1080};

// A capture driver behind the device's calls: it answers a format request from a table,
// hands out buffers of its own memory and delivers the frames a test queues.
class FakeDriver : public V4L2Calls {
  public:
    // What a format request gets: asked, the sizes given as asked for instead of this one. A
    // listed pixel format: its discrete sizes, or a range from sizes[0] to sizes[1]. A frame:
    // its index, a buffer index of the driver's choosing.
    // clang-format off
    struct Answer { std::uint32_t fourcc; unsigned width = kW, height = kH; std::vector<FrameSize> asked = {}; };
    struct Listed { std::uint32_t fourcc; std::vector<FrameSize> sizes; bool range = false; };
    struct Frame { Bytes bytes; bool damaged = false; std::optional<unsigned> index = std::nullopt; };
    // clang-format on

    int openErrno = 0;
    std::map<std::uint32_t, Answer> formats = {{Y, {Y}}};  // what a request for a fourcc gets
    std::map<unsigned long, int> failing;                  // ioctl request -> errno
    unsigned buffersGiven = V4L2Device::kBufferCount;
    std::optional<std::int64_t> sensorRotation;  // the control's value; none: no such control
    bool hungUp = false;
    std::deque<Frame> frames;
    std::vector<Listed> listed;

    // What the device did.
    std::vector<std::uint32_t> requested;
    std::vector<unsigned> queued;
    bool open_ = false, streaming = false;
    int mapped = 0;

    int open(const char*, int) override {
        open_ = !openErrno;
        return openErrno ? fail(openErrno) : 7;
    }
    int close(int fd) override {
        EXPECT_EQ(fd, 7);
        open_ = false;
        return 0;
    }
    void* mmap(std::size_t length, int, std::int64_t offset) override {
        auto& memory = buffers.at(std::size_t(offset) / kOffsetStep);
        EXPECT_EQ(length, memory.size());
        ++mapped;
        return memory.data();
    }
    int munmap(void*, std::size_t) override { return --mapped, 0; }
    int poll(pollfd* fd, int) override {
        fd->revents = !frames.empty() ? POLLIN : hungUp ? POLLERR : 0;
        return fd->revents ? 1 : 0;
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        EXPECT_EQ(fd, 7);
        if (auto it = failing.find(request); it != failing.end()) return fail(it->second);
        auto* b = static_cast<v4l2_buffer*>(argument);
        switch (request) {
            case VIDIOC_S_FMT: {
                auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
                requested.push_back(pix.pixelformat);
                Answer answer = formats.count(pix.pixelformat) ? formats[pix.pixelformat]
                                                               : Answer{V4L2_PIX_FMT_MJPEG};
                if (std::count(answer.asked.begin(), answer.asked.end(),
                               FrameSize{int(pix.width), int(pix.height)}))
                    answer.width = pix.width, answer.height = pix.height;
                pix.pixelformat = answer.fourcc;
                pix.width = answer.width;
                pix.height = answer.height;
                pix.sizeimage = 2 * answer.width * answer.height;
                format = answer;
                return 0;
            }
            case VIDIOC_G_EXT_CTRLS: {
                auto* controls = static_cast<v4l2_ext_controls*>(argument);
                if (!sensorRotation || controls->count != 1 ||
                    controls->controls[0].id != V4L2_CID_CAMERA_SENSOR_ROTATION)
                    return fail(EINVAL);
                controls->controls[0].value = std::int32_t(*sensorRotation);
                return 0;
            }
            case VIDIOC_REQBUFS:
                static_cast<v4l2_requestbuffers*>(argument)->count = buffersGiven;
                buffers.assign(buffersGiven, Bytes(frameBytes()));
                return 0;
            case VIDIOC_QUERYBUF:
                b->length = unsigned(frameBytes());
                b->m.offset = b->index * kOffsetStep;
                return 0;
            case VIDIOC_QBUF:
                queued.push_back(b->index);
                return 0;
            case VIDIOC_DQBUF: {
                if (frames.empty() || queued.empty()) return fail(EAGAIN);
                Frame frame = std::move(frames.front());
                frames.pop_front();
                b->index = frame.index.value_or(queued.front());
                queued.erase(queued.begin());
                if (b->index < buffers.size())
                    std::memcpy(buffers[b->index].data(), frame.bytes.data(),
                                std::min(frame.bytes.size(), buffers[b->index].size()));
                b->bytesused = unsigned(frame.bytes.size());
                b->flags = frame.damaged ? V4L2_BUF_FLAG_ERROR : 0;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* d = static_cast<v4l2_fmtdesc*>(argument);
                if (d->index >= listed.size()) return fail(EINVAL);
                d->pixelformat = listed[d->index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* f = static_cast<v4l2_frmsizeenum*>(argument);
                auto it = std::find_if(listed.begin(), listed.end(), [&](const Listed& l) {
                    return l.fourcc == f->pixel_format;
                });
                if (it == listed.end() || f->index >= (it->range ? 1 : it->sizes.size()))
                    return fail(EINVAL);
                auto [width, height] = it->sizes[f->index];
                f->type = it->range ? V4L2_FRMSIZE_TYPE_STEPWISE : V4L2_FRMSIZE_TYPE_DISCRETE;
                if (it->range)
                    f->stepwise = {unsigned(width),  unsigned(it->sizes[1].width),  16,
                                   unsigned(height), unsigned(it->sizes[1].height), 16};
                else
                    f->discrete = {unsigned(width), unsigned(height)};
                return 0;
            }
            case VIDIOC_STREAMON:
            case VIDIOC_STREAMOFF:
                streaming = request == VIDIOC_STREAMON;
                return 0;
        }
        return fail(ENOTTY);
    }
    // Whether the device let go of everything.
    bool released() const { return !open_ && !streaming && !mapped; }

  private:
    static constexpr unsigned kOffsetStep = 1 << 24;
    static int fail(int error) { return errno = error, -1; }
    std::size_t frameBytes() const {
        return std::size_t(format.fourcc == B ? 3 : 2) * format.width * format.height;
    }
    Answer format{Y};
    std::vector<Bytes> buffers;
};

const DeviceInfo kCamera{"/dev/video0", "Test camera", DevicePosition::Unspecified, {}, 0};

class V4L2DeviceTest : public ::testing::Test {
  protected:
    FakeDriver driver;
    V4L2Device device{kCamera, driver};
    Bytes out = Bytes(std::size_t(kW) * kH * 4);
    CaptureDevice::Destination destination = [this] { return out.data(); };
    // The first and last pixels of the last frame read.
    std::vector<int> ends() const {
        return {out[0],        out[1],        out[2],        out[3],
                out.end()[-4], out.end()[-3], out.end()[-2], out.end()[-1]};
    }
};

// Opening asks for YUYV, else BGR24; a failure says what failed in plain words, keeps the
// errno and leaves the device closed with every mapped buffer let go.
TEST(V4L2Device, OpensYuyvElseBgr24AndSaysWhatFailed) {
    constexpr auto Failed = CaptureError::DeviceFailed, NoFormat = CaptureError::NoUsableFormat;
    const std::string busy = "busy (in use by another program)";
    const std::string noFormat = "offers no frame format that can be converted";
    using std::strerror;
    // clang-format off
    // failingRequest: with requestErrno; code: none: it opens; buffers: what the driver grants
    struct Case { std::map<std::uint32_t, FakeDriver::Answer> formats;
                  std::vector<std::uint32_t> requests; int openErrno; unsigned long failingRequest;
                  int requestErrno; std::optional<CaptureError> code; std::string message = "";
                  unsigned buffers = V4L2Device::kBufferCount; };
    const Case cases[] = {
        {{{Y, {Y}}}, {Y}, 0, 0, 0, {}},
        {{{B, {B}}}, {Y, B}, 0, 0, 0, {}},
        {{{Y, {Y, 641, 480}}}, {Y, B}, 0, 0, 0, NoFormat, noFormat},  // YUYV of an odd width
        {{}, {Y, B}, 0, 0, 0, NoFormat, noFormat},
        {{{Y, {Y}}}, {}, EBUSY, 0, 0, Failed, "cannot be opened: " + busy},
        {{{Y, {Y}}}, {}, ENODEV, 0, 0, Failed, "cannot be opened: disconnected"},
        {{{Y, {Y}}}, {}, ENOENT, 0, 0, Failed, "cannot be opened: no such device"},
        {{{Y, {Y}}}, {}, EACCES, 0, 0, Failed, "cannot be opened: permission denied"},
        {{{Y, {Y}}}, {}, EIO, 0, 0, Failed, std::string("cannot be opened: ") + strerror(EIO)},
        {{{Y, {Y}}}, {}, 0, VIDIOC_S_FMT, EBUSY, Failed, "format could not be set: " + busy},
        {{{Y, {Y}}}, {Y}, 0, VIDIOC_REQBUFS, ENOMEM, Failed, std::string("buffers could not be allocated: ") + strerror(ENOMEM)},
        {{{Y, {Y}}}, {Y}, 0, VIDIOC_QBUF, EINVAL, Failed, std::string("buffer could not be queued: ") + strerror(EINVAL)},
        {{{Y, {Y}}}, {Y}, 0, VIDIOC_STREAMON, ENOSPC, Failed, std::string("streaming could not be started: ") + strerror(ENOSPC)},
        {{{Y, {Y}}}, {Y}, 0, 0, 0, CaptureError::TooFewBuffers, "too few capture buffers", 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeDriver driver;
        driver.formats = c.formats;
        driver.openErrno = c.openErrno;
        if (c.failingRequest) driver.failing[c.failingRequest] = c.requestErrno;
        driver.buffersGiven = c.buffers;
        V4L2Device device(kCamera, driver);
        auto opened = device.open();
        EXPECT_EQ(driver.requested, c.requests);
        ASSERT_EQ(opened.ok(), !c.code);
        if (!c.code) {
            EXPECT_TRUE(driver.streaming);
            EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount);
            continue;
        }
        EXPECT_TRUE(opened.error().is(*c.code));
        EXPECT_EQ(opened.error().localizedDescription(), c.message);
        EXPECT_EQ(opened.error().systemError(), c.openErrno ? c.openErrno : c.requestErrno);
        EXPECT_TRUE(driver.released());
    }
}

TEST_F(V4L2DeviceTest, TheRotationIsTheDriversSensorRotationElseZero) {
    const std::pair<std::optional<std::int64_t>, int> cases[] = {
        {std::nullopt, 0}, {0, 0}, {90, 90}, {180, 180}, {270, 270}, {45, 0}, {-90, 0}};
    for (const auto& [control, rotation] : cases) {
        driver.sensorRotation = control;
        ASSERT_TRUE(device.open());
        EXPECT_EQ(device.rotation(), rotation) << control.value_or(-1);
        device.close();
    }
}

TEST_F(V4L2DeviceTest, StreamsConvertedFramesAndRequeuesEveryBuffer) {
    auto notOpen = device.readFrame(0ms, destination);
    ASSERT_FALSE(notOpen);
    EXPECT_TRUE(notOpen.error().is(CaptureError::NotOpen));

    driver.formats = {{B, {B}}};
    ASSERT_TRUE(device.open());
    auto none = device.readFrame(0ms, destination);
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none) << "no frame in time";

    // A BGR24 frame whose first pixel is (B 10, G 20, R 30) and whose last is (200, 100, 50).
    Bytes bgr(std::size_t(kW) * kH * 3, 0);
    bgr[0] = 10, bgr[1] = 20, bgr[2] = 30;
    bgr.end()[-3] = 200, bgr.end()[-2] = 100, bgr.end()[-1] = 50;
    driver.frames = {{bgr}, {bgr, true}, {{1, 2, 3}}};  // good, damaged, short
    auto got = device.readFrame(0ms, destination);
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got);
    EXPECT_EQ(ends(), (std::vector<int>{10, 20, 30, 255, 200, 100, 50, 255}));
    for (const char* what : {"damaged", "short"}) {
        auto bad = device.readFrame(0ms, destination);
        ASSERT_TRUE(bad) << what;
        EXPECT_FALSE(*bad) << what;
    }
    EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount) << "every buffer back in the queue";

    // A frame nobody wants is still taken off the driver and its buffer queued again.
    driver.frames.push_back({bgr});
    ASSERT_TRUE(device.readFrame(0ms, [] { return nullptr; }));
    EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount);

    driver.frames.push_back({bgr, false, 9});
    auto unknown = device.readFrame(0ms, destination);
    ASSERT_FALSE(unknown);
    EXPECT_TRUE(unknown.error().is(CaptureError::UnknownBuffer));

    // Unplugged: the driver hangs up with no frame left to take.
    driver.hungUp = true;
    auto gone = device.readFrame(0ms, destination);
    ASSERT_FALSE(gone);
    EXPECT_TRUE(gone.error().is(CaptureError::DeviceFailed));
    EXPECT_EQ(gone.error().localizedDescription(), "capture stopped: disconnected");
    EXPECT_EQ(gone.error().systemError(), ENODEV);

    device.close();
    EXPECT_TRUE(driver.released());
}

TEST_F(V4L2DeviceTest, DiscoveryListsTheFormatsAndTheStillSizesOfThoseItConverts) {
    driver.listed = {
        {Y, {{640, 480}, {1280, 720}}},
        {V4L2_PIX_FMT_MJPEG, {{640, 480}, {1920, 1080}}},  // libv4l2 makes BGR24 of it
        {V4L2_PIX_FMT_GREY, {{3840, 2160}}},               // nothing converts it
        {V4L2_PIX_FMT_NV12, {{32, 32}, {2592, 1944}}, true},
    };
    auto offers = V4L2DeviceLayer::offersOf(
        [&](unsigned long request, void* argument) { return driver.ioctl(7, request, argument); });
    EXPECT_EQ(offers.formats,
              (std::vector<std::string>{"YUYV 640x480 1280x720", "MJPG 640x480 1920x1080",
                                        "GREY 3840x2160", "NV12 32x32-2592x1944"}));
    EXPECT_EQ(offers.stillSizes,
              (std::vector<FrameSize>{{640, 480}, {1280, 720}, {1920, 1080}, {2592, 1944}}));
}

TEST_F(V4L2DeviceTest, TakesAStillAtItsOwnSizeAndStreamsLiveFramesAgainAfterwards) {
    // YUYV at the live size only; the large size comes as BGR24 (libv4l2's, from MJPEG).
    driver.formats[B] = {B, kW, kH, {kLarge}};
    driver.sensorRotation = 90;
    auto bgr = testing::randomBytes(std::size_t(kLarge.pixels()) * 3);
    Bytes expected;  // the same pixels, as BGRA
    for (std::size_t i = 0; i < bgr.size(); i += 3)
        expected.insert(expected.end(), {bgr[i], bgr[i + 1], bgr[i + 2], 255});
    const Bytes settling(bgr.size(), 0x40);
    driver.frames = {{settling}, {settling, true}, {settling}, {bgr}, {settling}};

    auto still = device.takeStill(kLarge, 2, 0ms);
    ASSERT_TRUE(still) << still.error().localizedDescription();
    EXPECT_EQ(driver.requested, (std::vector<std::uint32_t>{Y, B}));
    EXPECT_EQ(std::tuple(still->width, still->height, still->rotation),
              std::tuple(kLarge.width, kLarge.height, 90));
    EXPECT_TRUE(still->bgra == expected) << "the third good frame, converted at full size";
    EXPECT_TRUE(driver.released());

    // Live again: YUYV at 640 x 480.
    driver.requested.clear();
    Bytes white;  // Y 235, U and V 128
    for (int i = 0; i < kW * kH / 2; ++i)
        white.insert(white.end(), {235, 128, 235, 128});
    driver.frames = {{white}};
    ASSERT_TRUE(device.open());
    EXPECT_EQ(driver.requested, std::vector<std::uint32_t>{Y});
    auto live = device.readFrame(0ms, destination);
    ASSERT_TRUE(live);
    EXPECT_TRUE(*live);
    EXPECT_EQ(ends(), std::vector<int>(8, 255));
}

TEST(V4L2Device, AStillTheDriverDoesNotGiveAtItsSizeFailsAndLeavesTheDeviceClosed) {
    // clang-format off
    struct Case { std::map<std::uint32_t, FakeDriver::Answer> formats; unsigned long failing;
                  CaptureError code; std::string message; };
    const Case cases[] = {
        {{{Y, {Y}}, {B, {B, 1280, 720}}}, 0, CaptureError::NoStill, "gives 1280 x 720 frames when asked for 1920 x 1080"},
        {{{Y, {Y, kW, kH, {kLarge}}}}, VIDIOC_S_FMT, CaptureError::DeviceFailed, std::string("format could not be set: ") + std::strerror(EINVAL)},
        {{{Y, {Y, kW, kH, {kLarge}}}}, 0, CaptureError::StillTimedOut, "no frame came from the camera"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeDriver driver;
        driver.formats = c.formats;
        if (c.failing) driver.failing[c.failing] = EINVAL;
        V4L2Device device(kCamera, driver);
        auto still = device.takeStill(kLarge, 2, 0ms);
        ASSERT_FALSE(still);
        EXPECT_TRUE(still.error().is(c.code));
        EXPECT_EQ(still.error().localizedDescription(), c.message);
        EXPECT_TRUE(driver.released());
    }
}

}  // namespace
}  // namespace quorbit::capture
