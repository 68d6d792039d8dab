#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "FakeDevices.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2DeviceLayer.h"

namespace quorbit::capture {
namespace {

using namespace std::chrono_literals;

constexpr int kW = CaptureDevice::kFrameWidth, kH = CaptureDevice::kFrameHeight;

// A capture driver behind the device's calls: it answers a format request from a table,
// hands out buffers of its own memory and delivers the frames a test queues.
class FakeDriver : public V4L2Calls {
  public:
    struct Answer {
        std::uint32_t fourcc;
        unsigned width = kW, height = kH;
        std::vector<FrameSize> asked = {};  // sizes given as asked for, instead of the above
    };
    // A pixel format as the driver lists it: its discrete sizes, or a range from sizes[0] to
    // sizes[1].
    struct Listed {
        std::uint32_t fourcc;
        std::vector<FrameSize> sizes;
        bool range = false;
    };
    struct Frame {
        std::vector<std::uint8_t> bytes;
        bool damaged = false;
        std::optional<unsigned> index = std::nullopt;  // a buffer index of the driver's choosing
    };

    int openErrno = 0;
    std::map<std::uint32_t, Answer> formats;  // what a request for a fourcc gets
    std::map<unsigned long, int> failing;     // ioctl request -> errno
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
    int munmap(void*, std::size_t) override {
        --mapped;
        return 0;
    }
    int poll(pollfd* fd, int) override {
        fd->revents = !frames.empty() ? POLLIN : hungUp ? POLLERR : 0;
        return fd->revents ? 1 : 0;
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        EXPECT_EQ(fd, 7);
        if (auto it = failing.find(request); it != failing.end()) return fail(it->second);
        switch (request) {
            case VIDIOC_S_FMT: {
                auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
                requested.push_back(pix.pixelformat);
                Answer answer = formats.count(pix.pixelformat) ? formats[pix.pixelformat]
                                                               : Answer{V4L2_PIX_FMT_MJPEG};
                const FrameSize asked{int(pix.width), int(pix.height)};
                if (std::find(answer.asked.begin(), answer.asked.end(), asked) !=
                    answer.asked.end())
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
            case VIDIOC_REQBUFS: {
                auto* r = static_cast<v4l2_requestbuffers*>(argument);
                r->count = buffersGiven;
                buffers.assign(buffersGiven, std::vector<std::uint8_t>(frameBytes()));
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* b = static_cast<v4l2_buffer*>(argument);
                b->length = unsigned(frameBytes());
                b->m.offset = b->index * kOffsetStep;
                return 0;
            }
            case VIDIOC_QBUF:
                queued.push_back(static_cast<v4l2_buffer*>(argument)->index);
                return 0;
            case VIDIOC_DQBUF: {
                if (frames.empty() || queued.empty()) return fail(EAGAIN);
                Frame frame = std::move(frames.front());
                frames.pop_front();
                auto* b = static_cast<v4l2_buffer*>(argument);
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
                const FrameSize& size = it->sizes[f->index];
                if (!it->range) {
                    f->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                    f->discrete = {unsigned(size.width), unsigned(size.height)};
                    return 0;
                }
                f->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                f->stepwise = {unsigned(size.width),  unsigned(it->sizes[1].width),  16,
                               unsigned(size.height), unsigned(it->sizes[1].height), 16};
                return 0;
            }
            case VIDIOC_STREAMON:
            case VIDIOC_STREAMOFF:
                streaming = request == VIDIOC_STREAMON;
                return 0;
        }
        return fail(ENOTTY);
    }

  private:
    static constexpr unsigned kOffsetStep = 1 << 24;
    static int fail(int error) {
        errno = error;
        return -1;
    }
    std::size_t frameBytes() const {
        return std::size_t(format.fourcc == V4L2_PIX_FMT_BGR24 ? 3 : 2) * format.width *
               format.height;
    }
    Answer format{V4L2_PIX_FMT_YUYV};
    std::vector<std::vector<std::uint8_t>> buffers;
};

const DeviceInfo kCamera{"/dev/video0", "Test camera", DevicePosition::Unspecified, {}, 0};

class V4L2DeviceTest : public ::testing::Test {
  protected:
    FakeDriver driver;
    V4L2Device device{kCamera, driver};
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(std::size_t(kW) * kH * 4);
    CaptureDevice::Destination destination = [this] { return out.data(); };
};

TEST_F(V4L2DeviceTest, OpenChoosesYuyvThenBgr24AndRefusesFormatsItCannotConvert) {
    struct Case {
        const char* name;
        std::map<std::uint32_t, FakeDriver::Answer> formats;
        std::vector<std::uint32_t> requests;
        bool opens;
    };
    constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, B = V4L2_PIX_FMT_BGR24;
    const Case cases[] = {
        {"YUYV", {{Y, {Y}}}, {Y}, true},
        {"no YUYV: BGR24", {{B, {B}}}, {Y, B}, true},
        {"YUYV of an odd width", {{Y, {Y, 641, 480}}}, {Y, B}, false},
        {"neither", {}, {Y, B}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDriver driver;
        driver.formats = c.formats;
        V4L2Device device(kCamera, driver);
        auto opened = device.open();
        EXPECT_EQ(driver.requested, c.requests);
        ASSERT_EQ(bool(opened), c.opens);
        if (c.opens) {
            EXPECT_TRUE(driver.streaming);
            EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount);
        } else {
            EXPECT_TRUE(opened.error().is(CaptureError::NoUsableFormat));
            EXPECT_EQ(opened.error().localizedDescription(),
                      "offers no frame format that can be converted");
            EXPECT_FALSE(driver.open_) << "closed again";
        }
    }
}

TEST_F(V4L2DeviceTest, TheRotationIsTheDriversSensorRotationElseZero) {
    struct Case {
        std::optional<std::int64_t> control;
        int rotation;
    } cases[] = {{std::nullopt, 0}, {0, 0}, {90, 90}, {180, 180}, {270, 270}, {45, 0}, {-90, 0}};
    driver.formats[V4L2_PIX_FMT_YUYV] = {V4L2_PIX_FMT_YUYV};
    for (const auto& c : cases) {
        driver.sensorRotation = c.control;
        ASSERT_TRUE(device.open());
        EXPECT_EQ(device.rotation(), c.rotation) << c.control.value_or(-1);
        device.close();
    }
}

TEST_F(V4L2DeviceTest, FailuresSayWhatFailedInPlainWordsAndKeepTheErrno) {
    struct Case {
        int openErrno;
        unsigned long failingRequest;  // with requestErrno
        int requestErrno;
        CaptureError code;
        std::string what, why = {};                   // the message: "WHAT: WHY"
        unsigned buffers = V4L2Device::kBufferCount;  // what the driver grants
    };
    constexpr auto Failed = CaptureError::DeviceFailed;
    const std::string busy = "busy (in use by another program)";
    using std::strerror;
    // clang-format off
    const Case cases[] = {
        {EBUSY, 0, 0, Failed, "cannot be opened", busy},
        {ENODEV, 0, 0, Failed, "cannot be opened", "disconnected"},
        {ENOENT, 0, 0, Failed, "cannot be opened", "no such device"},
        {EACCES, 0, 0, Failed, "cannot be opened", "permission denied"},
        {EIO, 0, 0, Failed, "cannot be opened", strerror(EIO)},
        {0, VIDIOC_S_FMT, EBUSY, Failed, "format could not be set", busy},
        {0, VIDIOC_REQBUFS, ENOMEM, Failed, "buffers could not be allocated", strerror(ENOMEM)},
        {0, VIDIOC_QBUF, EINVAL, Failed, "buffer could not be queued", strerror(EINVAL)},
        {0, VIDIOC_STREAMON, ENOSPC, Failed, "streaming could not be started", strerror(ENOSPC)},
        {0, 0, 0, CaptureError::TooFewBuffers, "too few capture buffers", "", 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        const std::string text = c.why.empty() ? c.what : c.what + ": " + c.why;
        SCOPED_TRACE(text);
        FakeDriver driver;
        driver.formats[V4L2_PIX_FMT_YUYV] = {V4L2_PIX_FMT_YUYV};
        driver.openErrno = c.openErrno;
        if (c.failingRequest) driver.failing[c.failingRequest] = c.requestErrno;
        driver.buffersGiven = c.buffers;
        V4L2Device device(kCamera, driver);
        auto opened = device.open();
        ASSERT_FALSE(opened);
        EXPECT_TRUE(opened.error().is(c.code));
        EXPECT_EQ(opened.error().localizedDescription(), text);
        EXPECT_EQ(opened.error().systemError(), c.openErrno ? c.openErrno : c.requestErrno);
        EXPECT_FALSE(driver.open_);
        EXPECT_EQ(driver.mapped, 0) << "every mapped buffer let go";
    }
}

TEST_F(V4L2DeviceTest, StreamsConvertedFramesAndRequeuesEveryBuffer) {
    auto notOpen = device.readFrame(0ms, destination);
    ASSERT_FALSE(notOpen);
    EXPECT_TRUE(notOpen.error().is(CaptureError::NotOpen));

    driver.formats[V4L2_PIX_FMT_BGR24] = {V4L2_PIX_FMT_BGR24};
    ASSERT_TRUE(device.open());
    auto none = device.readFrame(0ms, destination);
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none) << "no frame in time";

    // A BGR24 frame whose first pixel is (B 10, G 20, R 30) and whose last is (200, 100, 50).
    std::vector<std::uint8_t> bgr(std::size_t(kW) * kH * 3, 0);
    bgr[0] = 10, bgr[1] = 20, bgr[2] = 30;
    bgr[bgr.size() - 3] = 200, bgr[bgr.size() - 2] = 100, bgr[bgr.size() - 1] = 50;
    driver.frames.push_back({bgr});
    driver.frames.push_back({bgr, true});  // damaged
    driver.frames.push_back({{1, 2, 3}});  // short
    auto got = device.readFrame(0ms, destination);
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got);
    EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + 4), (std::vector<int>{10, 20, 30, 255}));
    EXPECT_EQ(std::vector<int>(out.end() - 4, out.end()), (std::vector<int>{200, 100, 50, 255}));
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
    EXPECT_FALSE(driver.streaming);
    EXPECT_EQ(driver.mapped, 0);
    EXPECT_FALSE(driver.open_);
}

TEST_F(V4L2DeviceTest, DiscoveryListsTheFormatsAndTheStillSizesOfThoseItConverts) {
    constexpr std::uint32_t GREY = V4L2_PIX_FMT_GREY;
    driver.listed = {
        {V4L2_PIX_FMT_YUYV, {{640, 480}, {1280, 720}}},
        {V4L2_PIX_FMT_MJPEG, {{640, 480}, {1920, 1080}}},  // libv4l2 makes BGR24 of it
        {GREY, {{3840, 2160}}},                            // nothing converts it
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
    constexpr FrameSize kLarge{1920, 1080};
    constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, B = V4L2_PIX_FMT_BGR24;
    // YUYV at the live size only; the large size comes as BGR24 (libv4l2's, from MJPEG).
    driver.formats[Y] = {Y};
    driver.formats[B] = {B, kW, kH, {kLarge}};
    driver.sensorRotation = 90;
    auto bgr = testing::randomBytes(std::size_t(kLarge.pixels()) * 3);
    std::vector<std::uint8_t> expected;  // the same pixels, as BGRA
    for (std::size_t i = 0; i < bgr.size(); i += 3)
        expected.insert(expected.end(), {bgr[i], bgr[i + 1], bgr[i + 2], 255});
    const std::vector<std::uint8_t> settling(bgr.size(), 0x40);
    driver.frames = {{settling}, {settling, true}, {settling}, {bgr}, {settling}};

    auto still = device.takeStill(kLarge, 2, 0ms);
    ASSERT_TRUE(still) << still.error().localizedDescription();
    EXPECT_EQ(driver.requested, (std::vector<std::uint32_t>{Y, B}));
    EXPECT_EQ(std::tuple(still->width, still->height, still->rotation),
              std::tuple(kLarge.width, kLarge.height, 90));
    EXPECT_TRUE(still->bgra == expected) << "the third good frame, converted at full size";
    EXPECT_FALSE(driver.open_ || driver.streaming || driver.mapped);

    // Live again: YUYV at 640 x 480.
    driver.requested.clear();
    std::vector<std::uint8_t> white;  // Y 235, U and V 128
    for (int i = 0; i < kW * kH / 2; ++i)
        white.insert(white.end(), {235, 128, 235, 128});
    driver.frames = {{white}};
    ASSERT_TRUE(device.open());
    EXPECT_EQ(driver.requested, std::vector<std::uint32_t>{Y});
    auto live = device.readFrame(0ms, destination);
    ASSERT_TRUE(live);
    EXPECT_TRUE(*live);
    EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + 4),
              (std::vector<int>{255, 255, 255, 255}));
}

TEST_F(V4L2DeviceTest, AStillTheDriverDoesNotGiveAtItsSizeFailsAndLeavesTheDeviceClosed) {
    constexpr FrameSize kLarge{1920, 1080};
    constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, B = V4L2_PIX_FMT_BGR24;
    struct Case {
        const char* name;
        std::map<std::uint32_t, FakeDriver::Answer> formats;
        unsigned long failing;
        CaptureError code;
        std::string message;
    };
    // clang-format off
    const Case cases[] = {
        {"another size", {{Y, {Y}}, {B, {B, 1280, 720}}}, 0, CaptureError::NoStill,
         "gives 1280 x 720 frames when asked for 1920 x 1080"},
        {"refused", {{Y, {Y, kW, kH, {kLarge}}}}, VIDIOC_S_FMT, CaptureError::DeviceFailed,
         std::string("format could not be set: ") + std::strerror(EINVAL)},
        {"no frame", {{Y, {Y, kW, kH, {kLarge}}}}, 0, CaptureError::StillTimedOut,
         "no frame came from the camera"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDriver driver;
        driver.formats = c.formats;
        if (c.failing) driver.failing[c.failing] = EINVAL;
        V4L2Device device(kCamera, driver);
        auto still = device.takeStill(kLarge, 2, 0ms);
        ASSERT_FALSE(still);
        EXPECT_TRUE(still.error().is(c.code));
        EXPECT_EQ(still.error().localizedDescription(), c.message);
        EXPECT_FALSE(driver.open_ || driver.streaming || driver.mapped);
    }
}

}  // namespace
}  // namespace quorbit::capture
