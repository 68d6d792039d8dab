#include "capture/PipeWireFormat.h"

#include <spa/debug/types.h>
#include <spa/param/format-types.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/raw-types.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>

#include <algorithm>
#include <cctype>

#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

using Format = FrameConverter::Format;

// The formats the camera asks for, most wanted first: YUY2 is what cameras send as is,
// the four-byte RGB formats need no more than a copy, NV12 and I420 come last.
constexpr std::uint32_t kPreferred[] = {
    SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_BGRx,
    SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_BGR,
    SPA_VIDEO_FORMAT_RGB,  SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_I420,
};

// The values of a property, whether a single value or a choice (its default first, which
// an enumeration repeats among its alternatives); range: whether they are default, min, max.
template <typename T>
std::vector<T> valuesOf(const spa_pod_object* object, std::uint32_t key, std::uint32_t podType,
                        bool* range = nullptr) {
    const spa_pod_prop* prop = spa_pod_object_find_prop(object, nullptr, key);
    if (!prop) return {};
    std::uint32_t count = 0, choice = 0;
    const spa_pod* values = spa_pod_get_values(&prop->value, &count, &choice);
    if (!values || values->type != podType || values->size < sizeof(T)) return {};
    const T* body = static_cast<const T*>(SPA_POD_BODY_CONST(values));
    std::vector<T> found;
    switch (choice) {
        case SPA_CHOICE_None:
            if (count >= 1) found.push_back(body[0]);
            break;
        case SPA_CHOICE_Enum:
            for (std::uint32_t i = count > 1 ? 1 : 0; i < count; ++i)
                found.push_back(body[i]);
            break;
        case SPA_CHOICE_Range:
        case SPA_CHOICE_Step:
            if (count >= 3) {
                found = {body[1], body[2]};
                if (range) *range = true;
            }
            break;
        default:
            break;
    }
    return found;
}

long area(const PipeWireFormat::Size& size) {
    return long(size.width) * size.height;
}

// Whether a is a better size to ask for than b, when wanted is.
bool better(const PipeWireFormat::Size& a, const PipeWireFormat::Size& b,
            const PipeWireFormat::Size& wanted) {
    auto covers = [&](const PipeWireFormat::Size& size) {
        return size.width >= wanted.width && size.height >= wanted.height;
    };
    if ((a == wanted) != (b == wanted)) return a == wanted;
    if (covers(a) != covers(b)) return covers(a);
    return covers(a) ? area(a) < area(b) : area(a) > area(b);
}

bool convertible(const PipeWireFormat::Offer& offer) {
    return offer.subtype == "raw" &&
           std::any_of(offer.formats.begin(), offer.formats.end(), [](std::uint32_t format) {
               return PipeWireFormat::converterFormat(format).has_value();
           });
}

}  // namespace

std::optional<FrameConverter::Format> PipeWireFormat::converterFormat(std::uint32_t videoFormat) {
    // SPA names formats by their bytes in memory: BGRx is B, G, R, padding.
    switch (videoFormat) {
        case SPA_VIDEO_FORMAT_YUY2:
            return Format::YUYV;
        case SPA_VIDEO_FORMAT_BGRA:
            return Format::BGRA32;
        case SPA_VIDEO_FORMAT_BGRx:
            return Format::BGRX32;
        case SPA_VIDEO_FORMAT_RGBA:
            return Format::RGBA32;
        case SPA_VIDEO_FORMAT_RGBx:
            return Format::RGBX32;
        case SPA_VIDEO_FORMAT_BGR:
            return Format::BGR24;
        case SPA_VIDEO_FORMAT_RGB:
            return Format::RGB24;
        case SPA_VIDEO_FORMAT_NV12:
            return Format::NV12;
        case SPA_VIDEO_FORMAT_I420:
            return Format::I420;
        default:
            return std::nullopt;
    }
}

std::string PipeWireFormat::formatName(std::uint32_t videoFormat) {
    const char* name = spa_debug_type_find_short_name(spa_type_video_format, videoFormat);
    if (!name || !*name) return platform::format("format %u", videoFormat);
    return name;
}

std::optional<PipeWireFormat::Offer> PipeWireFormat::parse(const spa_pod* param) {
    if (!param || !spa_pod_is_object_type(param, SPA_TYPE_OBJECT_Format)) return std::nullopt;
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video)
        return std::nullopt;
    const auto* object = reinterpret_cast<const spa_pod_object*>(param);
    Offer offer;
    const char* subtype = spa_debug_type_find_short_name(spa_type_media_subtype, mediaSubtype);
    offer.subtype = subtype ? subtype : "unknown";
    if (mediaSubtype == SPA_MEDIA_SUBTYPE_raw)
        offer.formats = valuesOf<std::uint32_t>(object, SPA_FORMAT_VIDEO_format, SPA_TYPE_Id);
    for (const spa_rectangle& size : valuesOf<spa_rectangle>(object, SPA_FORMAT_VIDEO_size,
                                                             SPA_TYPE_Rectangle, &offer.sizeRange))
        offer.sizes.push_back(Size{int(size.width), int(size.height)});
    if (offer.sizes.size() != 2) offer.sizeRange = false;
    return offer;
}

std::vector<std::string> PipeWireFormat::describe(const Offer& offer) {
    std::string sizes;
    if (offer.sizeRange) {
        sizes = platform::format(" %dx%d-%dx%d", offer.sizes[0].width, offer.sizes[0].height,
                                 offer.sizes[1].width, offer.sizes[1].height);
    } else {
        for (const Size& size : offer.sizes)
            sizes += platform::format(" %dx%d", size.width, size.height);
    }
    std::vector<std::string> lines;
    if (offer.subtype != "raw") {
        std::string name = offer.subtype;
        for (char& c : name)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        lines.push_back(name + sizes);
        return lines;
    }
    for (std::uint32_t format : offer.formats)
        lines.push_back(formatName(format) + sizes);
    return lines;
}

std::optional<PipeWireFormat::Choice> PipeWireFormat::choose(const std::vector<Offer>& offers,
                                                             Size wanted, bool exactly) {
    for (std::uint32_t format : kPreferred) {
        std::optional<Size> best;
        for (const Offer& offer : offers) {
            if (offer.subtype != "raw" || std::find(offer.formats.begin(), offer.formats.end(),
                                                    format) == offer.formats.end())
                continue;
            std::vector<Size> candidates = offer.sizes;
            if (offer.sizeRange) {
                // The wanted size, or the nearest the range allows.
                candidates = {
                    Size{std::clamp(wanted.width, offer.sizes[0].width,
                                    std::max(offer.sizes[0].width, offer.sizes[1].width)),
                         std::clamp(wanted.height, offer.sizes[0].height,
                                    std::max(offer.sizes[0].height, offer.sizes[1].height))}};
            }
            for (const Size& size : candidates) {
                if (size.width <= 0 || size.height <= 0) continue;
                if (!best || better(size, *best, wanted)) best = size;
            }
        }
        if (best && (!exactly || *best == wanted)) return Choice{format, *best};
    }
    return std::nullopt;
}

std::vector<PipeWireFormat::Size> PipeWireFormat::stillSizes(const std::vector<Offer>& offers) {
    std::vector<Size> sizes;
    for (const Offer& offer : offers) {
        if (!convertible(offer)) continue;
        std::vector<Size> offered = offer.sizes;
        if (offer.sizeRange) {
            offered = {Size{std::max(offer.sizes[0].width, offer.sizes[1].width),
                            std::max(offer.sizes[0].height, offer.sizes[1].height)}};
        }
        for (const Size& size : offered)
            if (size.width > 0 && size.height > 0 &&
                std::find(sizes.begin(), sizes.end(), size) == sizes.end())
                sizes.push_back(size);
    }
    return sizes;
}

const spa_pod* PipeWireFormat::build(spa_pod_builder& builder, const Choice& choice) {
    spa_rectangle size =
        SPA_RECTANGLE(std::uint32_t(choice.size.width), std::uint32_t(choice.size.height));
    spa_fraction preferred = SPA_FRACTION(24, 1), slowest = SPA_FRACTION(0, 1),
                 fastest = SPA_FRACTION(1000, 1);
    spa_pod_frame frame;
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
                        SPA_FORMAT_VIDEO_format, SPA_POD_Id(choice.format), SPA_FORMAT_VIDEO_size,
                        SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
                        SPA_POD_CHOICE_RANGE_Fraction(&preferred, &slowest, &fastest), 0);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
}

}  // namespace quorbit::capture
