#include "capture/CameraCommandLine.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "capture/Camera.h"
#include "capture/SourceDeviceLayer.h"

namespace quorbit::capture {

void CameraCommandLine::addOptions(platform::CommandLineParser& parser) {
    parser.add({"--camera", "SOURCE", "the camera to use (SOURCE above)",
                [](const std::string& value) -> std::optional<std::string> {
                    auto parsed = CameraSource::parse(value);
                    if (!parsed) return parsed.error().localizedDescription();
                    CameraSource::select(parsed.value());
                    return std::nullopt;
                }});
    parser.addFlag("--list-cameras", "lists the cameras that open, and ends", _list);
}

std::optional<int> CameraCommandLine::finish(std::FILE* out, std::FILE* err) const {
    if (auto rotation = rotationOverride(); !rotation) {
        std::fprintf(err, "quorbit: %s\n", rotation.error().localizedDescription().c_str());
        return 2;
    }
    if (_list) return listCameras(out, err);
    return std::nullopt;
}

std::optional<int> CameraCommandLine::takeOptions(std::vector<std::string>& args, std::FILE* out,
                                                  std::FILE* err) {
    if (!args.empty() && args.front().rfind("-", 0) != 0) return std::nullopt;
    CameraCommandLine camera;
    platform::CommandLineParser parser;
    camera.addOptions(parser);
    auto rest = parser.parse(args, platform::CommandLineParser::Unknown::Keep);
    if (!rest) {
        std::fprintf(err, "quorbit: %s\n", rest.error().localizedDescription().c_str());
        return 2;
    }
    args = std::move(rest).value();
    return camera.finish(out, err);
}

namespace {

// What opening each device gave: empty for a device that opened, else why not.
struct Probe {
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::string> problems;  // guarded by mutex
    std::size_t done = 0;               // guarded by mutex
};

// Opens and closes each device on a thread of its own; a device that has not answered
// within limit counts as failed, and the thread is left to finish on its own.
std::vector<std::string> probeDevices(const std::vector<std::shared_ptr<CaptureDevice>>& devices,
                                      std::chrono::milliseconds limit) {
    auto probe = std::make_shared<Probe>();
    probe->problems.assign(devices.size(), "does not answer");
    std::thread([probe, devices] {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            std::string problem;
            if (auto opened = devices[i]->open(); opened)
                devices[i]->close();
            else
                problem = opened.error().localizedDescription();
            std::lock_guard lock(probe->mutex);
            probe->problems[i] = problem;
            ++probe->done;
            probe->finished.notify_all();
        }
    }).detach();
    std::unique_lock lock(probe->mutex);
    if (!probe->finished.wait_for(lock, limit, [&] { return probe->done == devices.size(); }))
        Camera::noteAbandonedThread();
    return probe->problems;
}

}  // namespace

int CameraCommandLine::listCameras(std::FILE* out, std::FILE* err) {
    CameraSource source = CameraSource::current();
    SourceDeviceLayer layer(source);
    return listCameras(out, source, layer, err);
}

int CameraCommandLine::listCameras(std::FILE* out, const CameraSource& source, DeviceLayer& layer,
                                   std::FILE* err) {
    std::string description = source.kind == CameraSource::Kind::Default
                                  ? "default (PipeWire cameras, else V4L2 cameras, else synthetic)"
                                  : source.toString();
    std::fprintf(out, "source: %s\n", description.c_str());
    std::vector<std::shared_ptr<CaptureDevice>> found = layer.devices(), devices;
    std::vector<std::string> problems = probeDevices(found, kProbeLimit);
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (problems[i].empty()) {
            devices.push_back(found[i]);
        } else {
            std::fprintf(err, "quorbit: %s (%s) cannot be used: %s\n", found[i]->info().id.c_str(),
                         positionName(found[i]->info().position), problems[i].c_str());
        }
    }
    std::optional<int> rotation;
    if (auto override = rotationOverride(); override)
        rotation = override.value();
    else
        std::fprintf(err, "quorbit: %s\n", override.error().localizedDescription().c_str());
    std::string unavailable = layer.unavailableReason();
    if (!unavailable.empty())
        std::fprintf(out, "camera not available: %s\n", unavailable.c_str());
    else if (devices.empty())
        std::fprintf(out, "no camera found\n");
    for (const auto& device : devices) {
        const DeviceInfo& info = device->info();
        std::fprintf(out, "%s\t%s\trotation %d\t%s\n", info.id.c_str(), positionName(info.position),
                     rotation.value_or(device->rotation()), info.name.c_str());
        for (const std::string& format : info.formats)
            std::fprintf(out, "\t%s\n", format.c_str());
    }
    return 0;
}

}  // namespace quorbit::capture
