#include "capture/CameraCommandLine.h"

#include "capture/SourceDeviceLayer.h"

namespace quorbit::capture {

bool CameraCommandLine::selectSource(const std::string& spec, std::FILE* err) {
    auto parsed = SourceSpec::parse(spec);
    if (!parsed) {
        std::fprintf(err, "quorbit: %s\n", parsed.error().localizedDescription().c_str());
        return false;
    }
    SourceSpec::select(parsed.value());
    return true;
}

int CameraCommandLine::listCameras(std::FILE* out) {
    SourceSpec spec = SourceSpec::current();
    SourceDeviceLayer layer(spec);
    return listCameras(out, spec, layer);
}

int CameraCommandLine::listCameras(std::FILE* out, const SourceSpec& spec, DeviceLayer& layer) {
    std::string source = spec.kind == SourceSpec::Kind::Default
                             ? "default (V4L2 cameras, else synthetic)"
                             : spec.toString();
    std::fprintf(out, "source: %s\n", source.c_str());
    auto devices = layer.devices();
    if (devices.empty()) std::fprintf(out, "no camera found\n");
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
