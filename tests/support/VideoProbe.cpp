#include "support/VideoProbe.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorbit::testing {

ClipInfo probeClip(const std::filesystem::path& clip) {
    gst_init(nullptr, nullptr);
    ClipInfo info;
    GError* error = nullptr;
    GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, &error);
    gchar* uri = gst_filename_to_uri(clip.c_str(), nullptr);
    GstDiscovererInfo* found =
        discoverer ? gst_discoverer_discover_uri(discoverer, uri, &error) : nullptr;
    g_free(uri);
    if (!found || gst_discoverer_info_get_result(found) != GST_DISCOVERER_OK) {
        info.error = error ? error->message : "not discovered";
        if (error) g_error_free(error);
        if (found) g_object_unref(found);
        if (discoverer) g_object_unref(discoverer);
        return info;
    }
    info.seconds = double(gst_discoverer_info_get_duration(found)) / GST_SECOND;
    GList* videos = gst_discoverer_info_get_video_streams(found);
    if (videos) {
        auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
        info.width = int(gst_discoverer_video_info_get_width(video));
        info.height = int(gst_discoverer_video_info_get_height(video));
    }
    GList* audios = gst_discoverer_info_get_audio_streams(found);
    info.hasAudio = audios != nullptr;
    gst_discoverer_stream_info_list_free(videos);
    gst_discoverer_stream_info_list_free(audios);
    g_object_unref(found);
    g_object_unref(discoverer);

    // Every picture decoded, the middle one kept.
    std::string description = "filesrc location=\"" + clip.string() +
                              "\" ! decodebin ! videoconvert ! video/x-raw,format=RGBA ! "
                              "appsink name=sink sync=false";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<GstSample*> samples;
    while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink)))
        samples.push_back(sample);
    info.frames = int(samples.size());
    // A file cut off before its end was written tells no duration of its own: the pictures
    // decoded tell how long it plays.
    if (!samples.empty()) {
        GstBuffer* last = gst_sample_get_buffer(samples.back());
        if (GST_BUFFER_PTS_IS_VALID(last))
            info.seconds = std::max(
                info.seconds,
                double(GST_BUFFER_PTS(last) +
                       (GST_BUFFER_DURATION_IS_VALID(last) ? GST_BUFFER_DURATION(last) : 0)) /
                    GST_SECOND);
    }
    if (!samples.empty()) {
        GstSample* middle = samples[samples.size() / 2];
        GstBuffer* buffer = gst_sample_get_buffer(middle);
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            std::vector<std::uint8_t> rgba(map.data,
                                           map.data + std::size_t(info.width) * info.height * 4);
            info.middleFrame = platform::Image(info.width, info.height, std::move(rgba));
            gst_buffer_unmap(buffer, &map);
        }
    }
    for (GstSample* sample : samples)
        gst_sample_unref(sample);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return info;
}

}  // namespace quorbit::testing
