#include "capture/CameraCommandLine.h"

#include "capture/SourceDeviceLayer.h"

namespace quorbit::capture {

std::optional<int> CameraCommandLine::takeOptions(std::vector<std::string>& args, std::FILE* out,
                                                  std::FILE* err) {
    if (args.empty() || args.front().rfind("-", 0) != 0) return std::nullopt;
    bool list = false;
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] == "--list-cameras") {
            list = true;
            args.erase(args.begin() + long(i));
        } else if (args[i] == "--camera") {
            if (i + 1 >= args.size()) {
                std::fprintf(err, "quorbit: --camera needs a source\n");
                return 2;
            }
            if (!selectSource(args[i + 1], err)) return 2;
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        } else {
            ++i;
        }
    }
    if (list) return listCameras(out);
    return std::nullopt;
}

bool CameraCommandLine::selectSource(const std::string& source, std::FILE* err) {
    auto parsed = CameraSource::parse(source);
    if (!parsed) {
        std::fprintf(err, "quorbit: %s\n", parsed.error().localizedDescription().c_str());
        return false;
    }
    CameraSource::select(parsed.value());
    return true;
}

int CameraCommandLine::listCameras(std::FILE* out) {
    CameraSource source = CameraSource::current();
    SourceDeviceLayer layer(source);
    return listCameras(out, source, layer);
}

int CameraCommandLine::listCameras(std::FILE* out, const CameraSource& source, DeviceLayer& layer) {
    std::string description = source.kind == CameraSource::Kind::Default
                                  ? "default (PipeWire cameras, else V4L2 cameras, else synthetic)"
                                  : source.toString();
    std::fprintf(out, "source: %s\n", description.c_str());
    auto devices = layer.devices();
    std::string unavailable = layer.unavailableReason();
    if (!unavailable.empty())
        std::fprintf(out, "camera not available: %s\n", unavailable.c_str());
    else if (devices.empty())
        std::fprintf(out, "no camera found\n");
    for (const auto& device : devices) {
        const DeviceInfo& info = device->info();
        std::fprintf(out, "%s\t%s\t%s\n", info.id.c_str(), positionName(info.position),
                     info.name.c_str());
        for (const std::string& format : info.formats)
            std::fprintf(out, "\t%s\n", format.c_str());
    }
    return 0;
}

}  // namespace quorbit::capture
