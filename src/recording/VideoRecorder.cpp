#include "recording/VideoRecorder.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/core/FileHandle.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Translate.h"
#include "platform/desktop/PhotoAlbum.h"

namespace quorbit::recording {

namespace fs = std::filesystem;
using platform::Error;
using platform::format;
using platform::tr;

namespace {

constexpr const char* kTempPrefix = ".flurio-rec-";
// How long finishing waits for the encoder to drain before it ends the pipeline anyway.
constexpr auto kDrainWait = std::chrono::seconds(5);
// How often (in frames) the file's size is looked at, for splitting.
constexpr std::uint64_t kFileCheckEvery = 24;

std::string nameFor(std::chrono::system_clock::time_point when) {
    return platform::mediaBaseName("VID", when);
}

Error recordingError(RecordingError code, const std::string& message, int err = 0) {
    return Error::make(code, message, err);
}

// Copies what fd holds into a new temporary file of the pattern (mkostemps' XXXXXX before a
// suffix of suffixLength), which is left there: the clip whose name went with its folder.
bool copyInto(int fd, std::string& pattern, int suffixLength) {
    platform::FileHandle out(mkostemps(pattern.data(), suffixLength, O_CLOEXEC));
    if (!out) return false;
    fchmod(out.fd(), 0644);
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out.fd(), buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return false;
            done += w;
        }
        at += n;
    }
    return fsync(out.fd()) == 0 && out.close().ok();
}

}  // namespace

// What the pipeline's bus tells, from the pipeline's threads.
struct VideoRecorder::BusState {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    std::optional<std::string> error;
    // Told once on the main loop while the recorder lives.
    std::weak_ptr<bool> alive;
    FailureHandler* failed = nullptr;
    bool told = false;
};

struct VideoRecorder::Part {
    GstElement* pipeline = nullptr;
    GstElement* source = nullptr;  // the frames' appsrc
    platform::FileHandle file;
    std::string temp;
    GstClockTime base = 0;  // the pipeline's base time: the clock's reading at the start
    GstClock* clock = nullptr;
    std::chrono::system_clock::time_point started;
    GstClockTime lastTime = GST_CLOCK_TIME_NONE;
    std::uint64_t frames = 0;
    BusState* bus = nullptr;  // owned by the bus's handler
    // Where the sound is cut once the recording ends: the end of the last picture, so that
    // the two streams end together.
    std::atomic<GstClockTime> soundEnd{GST_CLOCK_TIME_NONE};

    ~Part() {
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            if (source) gst_object_unref(source);
            gst_object_unref(pipeline);
        }
        if (clock) gst_object_unref(clock);
    }
};

VideoRecorder::VideoRecorder(RecordingOptions options, FailureHandler failed)
    : _options(std::move(options)), _failed(std::move(failed)) {}

VideoRecorder::~VideoRecorder() {
    *_alive = false;
    if (_part) (void)finish();
}

platform::Result<std::unique_ptr<VideoRecorder>> VideoRecorder::start(RecordingOptions options,
                                                                      FailureHandler failed) {
    if (options.width <= 0 || options.height <= 0 || options.width % 2 || options.height % 2)
        return recordingError(
            RecordingError::CannotStart,
            format("frames of %d x %d cannot be recorded", options.width, options.height));
    auto encoders = availableEncoders(options.skipEncoders);
    if (!encoders) return encoders.error();
    std::error_code ec;
    fs::create_directories(options.folder, ec);
    if (ec || access(options.folder.c_str(), W_OK) != 0)
        return recordingError(RecordingError::FolderUnavailable,
                              format(tr("The videos folder %s cannot be written to (%s).").c_str(),
                                     options.folder.c_str(), strerror(ec ? ec.value() : errno)),
                              ec ? ec.value() : errno);
    recoverInterrupted(options.folder);

    std::unique_ptr<VideoRecorder> recorder(new VideoRecorder(options, std::move(failed)));
    std::optional<Error> lastFailure;
    for (const EncoderChoice& encoder : *encoders) {
        auto part = recorder->startPart(encoder, options.sound && !encoder.audioEncoder.empty());
        if (!part) {
            platform::Log::warn("video encoder " + encoder.encoder +
                                " did not start: " + part.error().localizedDescription());
            lastFailure = part.error();
            continue;
        }
        recorder->_encoder = encoder;
        recorder->_part = std::move(*part);
        recorder->_started = Clock::now();
        recorder->_baseName = nameFor(recorder->_part->started);
        platform::Log::info("recording " + std::to_string(options.width) + " x " +
                            std::to_string(options.height) + " with " + encoder.encoder + " (" +
                            encoder.why + ") into " + encoder.muxer +
                            (recorder->_withSound ? ", with sound (" + encoder.audioEncoder + ")"
                                                  : ", without sound"));
        return recorder;
    }
    return *lastFailure;
}

std::string VideoRecorder::pipelineDescription(const EncoderChoice& encoder, bool sound,
                                               int fd) const {
    std::string caps = format("video/x-raw,format=RGBA,width=%d,height=%d,framerate=%d/1",
                              _options.width, _options.height, _options.framesPerSecond);
    std::string muxer = encoder.muxer == "mp4mux" ? "mp4mux fragment-duration=1000" : encoder.muxer;
    std::string description = "appsrc name=frames is-live=true format=time block=false caps=\"" +
                              caps + "\" ! videoconvert ! video/x-raw,format=I420 ! " +
                              encoder.encoder + " " + encoder.settings + " ! queue ! " + muxer +
                              " name=mux ! fdsink fd=" + std::to_string(fd) + " sync=false";
    if (sound) {
        std::string source = _options.audioSource;
        if (source.empty())
            if (const char* env = std::getenv("QUORBIT_AUDIO_SOURCE"); env && *env) source = env;
        if (source.empty()) source = "autoaudiosrc";
        description += " " + source +
                       " name=sound ! queue ! audioconvert name=soundconvert ! audioresample ! "
                       "audio/x-raw,channels=2,rate=48000 ! " +
                       encoder.audioEncoder + " ! queue ! mux.";
    }
    return description;
}

namespace {

// Whether the desktop's default source found no microphone: it then stands in a silent test
// source of its own.
bool noMicrophone(GstElement* pipeline) {
    GstElement* sound = gst_bin_get_by_name(GST_BIN(pipeline), "sound");
    if (!sound) return false;
    bool missing = false;
    if (GST_IS_BIN(sound)) {
        GstIterator* children = gst_bin_iterate_elements(GST_BIN(sound));
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(children, &item) == GST_ITERATOR_OK) {
            auto* child = GST_ELEMENT(g_value_get_object(&item));
            GstElementFactory* factory = gst_element_get_factory(child);
            if (factory && std::strcmp(GST_OBJECT_NAME(factory), "audiotestsrc") == 0)
                missing = true;
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(children);
    }
    gst_object_unref(sound);
    return missing;
}

}  // namespace

platform::Result<std::unique_ptr<VideoRecorder::Part>> VideoRecorder::startPart(
    const EncoderChoice& encoder, bool sound) {
    auto part = std::make_unique<Part>();
    part->temp =
        (_options.folder / (std::string(kTempPrefix) + "XXXXXX." + encoder.extension)).string();
    part->file.reset(mkostemps(part->temp.data(), int(encoder.extension.size() + 1), O_CLOEXEC));
    if (!part->file)
        return recordingError(RecordingError::FolderUnavailable,
                              format(tr("The videos folder %s cannot be written to (%s).").c_str(),
                                     _options.folder.c_str(), strerror(errno)),
                              errno);
    fchmod(part->file.fd(), 0644);
    // Held while the clip is written: a later recording names the file only once it is free.
    flock(part->file.fd(), LOCK_EX | LOCK_NB);
    auto discard = [&] { unlink(part->temp.c_str()); };

    for (;;) {
        GError* parseError = nullptr;
        GstElement* pipeline = gst_parse_launch(
            pipelineDescription(encoder, sound, part->file.fd()).c_str(), &parseError);
        if (!pipeline || parseError) {
            std::string why = parseError ? parseError->message : "no pipeline";
            if (parseError) g_error_free(parseError);
            if (pipeline) gst_object_unref(pipeline);
            discard();
            return recordingError(RecordingError::CannotStart, why);
        }
        part->pipeline = pipeline;
        if (sound) {
            // The default source picks the device as it gets ready.
            gst_element_set_state(pipeline, GST_STATE_READY);
            if (noMicrophone(pipeline)) {
                gst_element_set_state(pipeline, GST_STATE_NULL);
                gst_object_unref(pipeline);
                part->pipeline = nullptr;
                platform::Log::info("no microphone: recording without sound");
                _microphoneMissing = true;
                sound = false;
                continue;
            }
        }
        break;
    }
    _withSound = sound;
    part->source = gst_bin_get_by_name(GST_BIN(part->pipeline), "frames");
    if (GstElement* convert = gst_bin_get_by_name(GST_BIN(part->pipeline), "soundconvert")) {
        GstPad* pad = gst_element_get_static_pad(convert, "sink");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
                GstClockTime end = static_cast<Part*>(data)->soundEnd.load();
                GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                if (end != GST_CLOCK_TIME_NONE && GST_BUFFER_PTS_IS_VALID(buffer) &&
                    GST_BUFFER_PTS(buffer) >= end)
                    return GST_PAD_PROBE_DROP;
                return GST_PAD_PROBE_OK;
            },
            part.get(), nullptr);
        gst_object_unref(pad);
        gst_object_unref(convert);
    }

    // The bus's messages come on the pipeline's threads: the end of the stream and errors are
    // noted for finishing, and an error is told on the main loop.
    auto* state = new BusState;
    state->alive = _alive;
    state->failed = &_failed;
    part->bus = state;
    GstBus* bus = gst_element_get_bus(part->pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) -> GstBusSyncReply {
            auto* s = static_cast<BusState*>(data);
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
                std::lock_guard lock(s->mutex);
                s->ended = true;
                s->changed.notify_all();
            } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                std::string why = error ? error->message : "the pipeline failed";
                if (error) g_error_free(error);
                std::lock_guard lock(s->mutex);
                if (!s->error) s->error = why;
                s->changed.notify_all();
                if (!s->told) {
                    s->told = true;
                    platform::RunLoop::main().post([alive = s->alive, failed = s->failed, why] {
                        if (auto a = alive.lock(); a && *a && *failed)
                            (*failed)(recordingError(RecordingError::Failed, why));
                    });
                }
            }
            return GST_BUS_DROP;
        },
        state, [](gpointer data) { delete static_cast<BusState*>(data); });
    gst_object_unref(bus);

    // One clock for the frames and the sound: the system's monotonic clock, which is the
    // one the camera's frame times are read from.
    part->clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(part->pipeline), part->clock);
    gst_element_set_start_time(part->pipeline, GST_CLOCK_TIME_NONE);
    part->base = gst_clock_get_time(part->clock);
    gst_element_set_base_time(part->pipeline, part->base);
    part->started = std::chrono::system_clock::now();

    if (gst_element_set_state(part->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        std::string why;
        {
            std::lock_guard lock(state->mutex);
            why = state->error.value_or("the pipeline would not play");
            state->told = true;  // a failure to start is answered here, not on the loop
        }
        part.reset();
        discard();
        return recordingError(RecordingError::CannotStart, why);
    }
    return part;
}

bool VideoRecorder::addFrame(const std::uint8_t* rgba, Clock::time_point captured) {
    if (!_part || !_part->source) return false;
    Part& part = *_part;
    {
        std::lock_guard lock(part.bus->mutex);
        if (part.bus->error) return false;  // failed: the caller is told and finishes
    }
    // The frame's time on the pipeline's clock: now, less how long ago the camera took it (a
    // frame without a time counts as taken now).
    if (captured == Clock::time_point{}) captured = Clock::now();
    GstClockTime now = gst_clock_get_time(part.clock);
    auto age = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - captured);
    age = std::clamp(age, std::chrono::nanoseconds(0),
                     std::chrono::nanoseconds(std::chrono::seconds(1)));
    GstClockTime at = now - part.base;
    at = at > GstClockTime(age.count()) ? at - GstClockTime(age.count()) : 0;
    if (part.lastTime != GST_CLOCK_TIME_NONE && at <= part.lastTime) {
        ++_dropped;  // no later than the frame before: the camera's time went back
        return false;
    }

    guint64 queued = 0;
    g_object_get(part.source, "current-level-buffers", &queued, nullptr);
    if (queued >= _options.maxQueuedFrames) {
        ++_dropped;
        return false;
    }

    // A clip over its limits goes on in a new file.
    bool split = at >= GstClockTime(_options.maxFileDuration.count());
    if (!split && ++part.frames % kFileCheckEvery == 0) {
        struct stat st {};
        if (fstat(part.file.fd(), &st) == 0 && std::uint64_t(st.st_size) >= _options.maxFileBytes)
            split = true;
    }
    if (split) {
        auto kept = finishPart(std::move(_part));
        if (kept) _kept.push_back(*kept);
        ++_partNumber;
        auto next = startPart(_encoder, _withSound);
        if (!next) {
            if (_failed) {
                Error error = next.error();
                platform::RunLoop::main().post([alive = std::weak_ptr<bool>(_alive), this, error] {
                    if (auto a = alive.lock(); a && *a && _failed) _failed(error);
                });
            }
            return false;
        }
        _part = std::move(*next);
        return addFrame(rgba, captured);
    }

    const gsize size = gsize(_options.width) * gsize(_options.height) * 4;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    if (!buffer) {
        ++_dropped;
        return false;
    }
    gst_buffer_fill(buffer, 0, rgba, size);
    GST_BUFFER_PTS(buffer) = at;
    GST_BUFFER_DTS(buffer) = at;
    // Until the next frame comes, each lasts the nominal frame time (the last one of a clip
    // keeps it).
    GST_BUFFER_DURATION(buffer) = GST_SECOND / GstClockTime(_options.framesPerSecond);
    GstFlowReturn flow = GST_FLOW_OK;
    g_signal_emit_by_name(part.source, "push-buffer", buffer, &flow);
    gst_buffer_unref(buffer);
    if (flow != GST_FLOW_OK) {
        ++_dropped;
        return false;
    }
    part.lastTime = at;
    ++_added;
    return true;
}

platform::Result<fs::path> VideoRecorder::finishPart(std::unique_ptr<Part> part) {
    if (part->lastTime != GST_CLOCK_TIME_NONE)
        part->soundEnd = part->lastTime + GST_SECOND / GstClockTime(_options.framesPerSecond);
    if (part->source) {
        GstFlowReturn flow = GST_FLOW_OK;
        g_signal_emit_by_name(part->source, "end-of-stream", &flow);
    }
    // The sound's source ends with the frames.
    if (GstElement* sound = gst_bin_get_by_name(GST_BIN(part->pipeline), "sound")) {
        gst_element_send_event(sound, gst_event_new_eos());
        gst_object_unref(sound);
    }
    std::optional<std::string> failure;
    {
        std::unique_lock lock(part->bus->mutex);
        part->bus->changed.wait_for(lock, kDrainWait,
                                    [&] { return part->bus->ended || part->bus->error; });
        part->bus->told = true;  // what comes now is part of finishing
        if (!part->bus->ended && !part->bus->error)
            platform::Log::warn("the encoder did not drain in time; the clip ends where it is");
    }
    gst_element_set_state(part->pipeline, GST_STATE_NULL);

    const int fd = part->file.fd();
    fsync(fd);
    struct stat st {};
    fstat(fd, &st);
    if (st.st_size == 0) {
        unlink(part->temp.c_str());
        return recordingError(RecordingError::NotKept, tr("Nothing was recorded."));
    }
    std::string temp = part->temp;
    const fs::path& folder = _options.folder;
    if (st.st_nlink == 0) {
        // The folder (or the file) went while recording: the clip is still open here, so it
        // is written again into the folder, made anew.
        std::error_code ec;
        fs::create_directories(folder, ec);
        temp = (folder / (std::string(kTempPrefix) + "XXXXXX." + _encoder.extension)).string();
        if (ec || !copyInto(fd, temp, int(_encoder.extension.size() + 1))) {
            int err = ec ? ec.value() : errno;
            unlink(temp.c_str());
            return recordingError(RecordingError::NotKept,
                                  format(tr("The clip could not be written to %s (%s).").c_str(),
                                         folder.c_str(), strerror(err)),
                                  err);
        }
    }
    std::string base =
        _partNumber == 1 ? _baseName : _baseName + "_part" + std::to_string(_partNumber);
    auto published = platform::publishUnderFreeName(temp, folder, base, _encoder.extension);
    part.reset();  // closes the file, and lets go of its lock
    if (!published) {
        return recordingError(
            RecordingError::NotKept,
            format(tr("The clip could not be given its name in %s (%s).").c_str(), folder.c_str(),
                   published.error().localizedDescription().c_str()));
    }
    platform::syncFolder(folder);
    platform::Log::info("clip saved: " + published->string());
    return *published;
}

platform::Result<std::vector<fs::path>> VideoRecorder::finish() {
    if (_part) {
        auto kept = finishPart(std::move(_part));
        if (kept)
            _kept.push_back(*kept);
        else
            _keepFailure = kept.error();
    }
    if (_keepFailure && _kept.empty()) return *_keepFailure;
    return _kept;
}

VideoRecorder::Clock::duration VideoRecorder::elapsed() const {
    return Clock::now() - _started;
}

std::vector<fs::path> VideoRecorder::recoverInterrupted(const fs::path& folder) {
    std::vector<fs::path> named;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(kTempPrefix, 0) != 0 || !entry.is_regular_file(ec)) continue;
        platform::FileHandle file(open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        // A clip still being written is locked by its writer.
        if (!file || flock(file.fd(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat st {};
        if (fstat(file.fd(), &st) != 0) continue;
        if (st.st_size == 0) {
            unlink(entry.path().c_str());
            continue;
        }
        std::string extension = entry.path().extension().string();
        if (!extension.empty()) extension.erase(0, 1);
        auto published = platform::publishUnderFreeName(
            entry.path().string(), folder,
            nameFor(std::chrono::system_clock::from_time_t(st.st_mtime)), extension);
        if (published) {
            platform::Log::info("an interrupted clip was named " + published->string());
            named.push_back(*published);
        }
    }
    return named;
}

}  // namespace quorbit::recording
