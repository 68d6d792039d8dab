#include "recording/ClipFrames.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstring>

#include "platform/core/Log.h"
#include "recording/VideoEncoders.h"

namespace quorbit::recording {

namespace {

// How long a clip may take to give its first picture.
constexpr GstClockTime kPrerollWait = 5 * GST_SECOND;

platform::Error unreadable(const std::filesystem::path& clip, const std::string& why) {
    return platform::Error::make(
        RecordingError::Failed,
        platform::format("%s cannot be played: %s", clip.c_str(), why.c_str()));
}

}  // namespace

platform::Result<platform::Image> readFirstFrame(const std::filesystem::path& clip, int minSide) {
    if (auto started = initGStreamer(); !started) return started.error();
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decode = gst_element_factory_make("decodebin", nullptr);
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!pipeline || !source || !decode || !convert || !sink) {
        for (GstElement* e : {pipeline, source, decode, convert, sink})
            if (e) gst_object_unref(e);
        return unreadable(clip, "GStreamer's decoders are not installed");
    }
    g_object_set(source, "location", clip.c_str(), nullptr);
    GstCaps* rgba = gst_caps_from_string("video/x-raw,format=RGBA");
    g_object_set(sink, "caps", rgba, "sync", FALSE, nullptr);
    gst_caps_unref(rgba);
    gst_bin_add_many(GST_BIN(pipeline), source, decode, convert, sink, nullptr);
    gst_element_link(source, decode);
    gst_element_link(convert, sink);
    // The decoder's picture stream goes to the converter; any other stream is left out.
    g_signal_connect(decode, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer data) {
                         GstCaps* caps = gst_pad_get_current_caps(pad);
                         if (!caps) caps = gst_pad_query_caps(pad, nullptr);
                         const char* kind = gst_structure_get_name(gst_caps_get_structure(caps, 0));
                         if (std::strncmp(kind, "video/", 6) == 0) {
                             GstPad* sinkPad =
                                 gst_element_get_static_pad(static_cast<GstElement*>(data), "sink");
                             if (!gst_pad_is_linked(sinkPad)) gst_pad_link(pad, sinkPad);
                             gst_object_unref(sinkPad);
                         }
                         gst_caps_unref(caps);
                     }),
                     convert);

    platform::Result<platform::Image> result = unreadable(clip, "it has no picture");
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    GstState state = GST_STATE_NULL;
    if (gst_element_get_state(pipeline, &state, nullptr, kPrerollWait) ==
            GST_STATE_CHANGE_SUCCESS &&
        state == GST_STATE_PAUSED) {
        GstSample* sample = nullptr;
        g_signal_emit_by_name(sink, "pull-preroll", &sample);
        if (sample) {
            GstStructure* format = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
            int width = 0, height = 0;
            gst_structure_get_int(format, "width", &width);
            gst_structure_get_int(format, "height", &height);
            GstMapInfo map;
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            if (width > 0 && height > 0 && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                // Rows are padded to four bytes, which RGBA rows already are.
                const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
                if (map.size >= bytes) {
                    platform::Image frame(width, height,
                                          std::vector<std::uint8_t>(map.data, map.data + bytes));
                    int shorter = std::min(width, height);
                    result = minSide > 0 && shorter > minSide
                                 ? frame.scaledToFit(std::max(width, height) * minSide / shorter)
                                 : std::move(frame);
                }
                gst_buffer_unmap(buffer, &map);
            }
            gst_sample_unref(sample);
        }
    } else {
        GstBus* bus = gst_element_get_bus(pipeline);
        if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            if (error) {
                result = unreadable(clip, error->message);
                g_error_free(error);
            }
            gst_message_unref(message);
        }
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
}

}  // namespace quorbit::recording
