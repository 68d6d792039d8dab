#include "capture/CameraCommandLine.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "capture/Camera.h"
#include "capture/SourceDeviceLayer.h"

namespace quorbit::capture {

std::optional<int> CameraCommandLine::takeOptions(std::vector<std::string>& args, std::FILE* out,
                                                  std::FILE* err) {
    if (!args.empty() && args.front().rfind("-", 0) != 0) return std::nullopt;
    // A rotation override that cannot be used stops the run: shown sideways, the picture
    // would not say why.
    if (auto rotation = rotationOverride(); !rotation) {
        std::fprintf(err, "quorbit: %s\n", rotation.error().localizedDescription().c_str());
        return 2;
    }
    bool list = false, chosen = false;
    for (std::size_t i = 0; i < args.size();) {
        if ((args[i] == "--list-cameras" && list) || (args[i] == "--camera" && chosen)) {
            std::fprintf(err, "quorbit: %s is given more than once\n", args[i].c_str());
            return 2;
        }
        if (args[i] == "--list-cameras") {
            list = true;
            args.erase(args.begin() + long(i));
        } else if (args[i] == "--camera") {
            chosen = true;
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
    if (list) return listCameras(out, err);
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
