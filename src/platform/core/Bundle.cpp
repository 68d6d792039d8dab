#include "platform/core/Bundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/core/Files.h"

namespace quorbit::platform {
namespace fs = std::filesystem;

namespace {

fs::path findResources() {
    if (const char* env = std::getenv("QUORBIT_RESOURCES"); env && *env) return env;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (fs::path candidate : {exe.parent_path() / "resources",
                                   exe.parent_path().parent_path() / "share" / "quorbit"}) {
            if (fs::is_directory(candidate / "shaders", ec)) return candidate;
        }
    }
#ifdef QUORBIT_INSTALL_RESOURCES
    if (fs::is_directory(fs::path(QUORBIT_INSTALL_RESOURCES) / "shaders", ec))
        return QUORBIT_INSTALL_RESOURCES;
#endif
#ifdef QUORBIT_SOURCE_RESOURCES
    return QUORBIT_SOURCE_RESOURCES;
#else
    return "resources";
#endif
}

}  // namespace

Bundle& Bundle::main() {
    static Bundle bundle(findResources());
    return bundle;
}

Bundle::Bundle(fs::path resourcesDir) : _resourcesDir(std::move(resourcesDir)) {}

std::string Bundle::identifier() const {
#ifdef QUORBIT_APP_ID
    return QUORBIT_APP_ID;
#else
    return "io.github.quorbit.Flurio";
#endif
}

std::string Bundle::version() const {
#ifdef QUORBIT_VERSION
    return QUORBIT_VERSION;
#else
    return "0";
#endif
}

std::optional<fs::path> Bundle::pathForResource(const std::string& name, const std::string& type,
                                                const std::string& subdir) const {
    if (name.empty()) return std::nullopt;
    fs::path path = _resourcesDir;
    if (!subdir.empty()) path /= subdir;
    path /= type.empty() ? name : name + "." + type;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    return path;
}

std::optional<std::string> Bundle::readResource(const std::string& name, const std::string& type,
                                                const std::string& subdir) const {
    auto path = pathForResource(name, type, subdir);
    if (!path) return std::nullopt;
    return readFile(*path);
}

std::optional<std::string> readFile(const fs::path& path) {
    auto bytes = readRegularFile(path, kMaxReadFileBytes);
    if (!bytes) return std::nullopt;
    return std::move(bytes).value();
}

AtomicWriteCalls& atomicWriteCalls() {
    static AtomicWriteCalls calls{::write, ::fsync, ::close, ::rename};
    return calls;
}

std::string writeFileAtomically(const fs::path& path, const std::string& bytes, bool durable,
                                int mode) {
    const AtomicWriteCalls& calls = atomicWriteCalls();
    fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    // Built by appending: GCC 12 at -O3 takes "literal" + std::string for an overlapping copy.
    std::string name(1, '.');
    name += path.filename().string();
    name += ".XXXXXX";
    std::string pattern = (dir / name).string();
    FileHandle file(mkstemp(pattern.data()));
    int fd = file.fd();
    if (!file) return "cannot create a file in " + dir.string() + ": " + std::strerror(errno);
    auto fail = [&](const char* what) {
        std::string reason = std::string(what) + " " + path.string() + ": " + std::strerror(errno);
        file.reset();
        unlink(pattern.c_str());
        return reason;
    };
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0) return fail("cannot set the mode of");
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = calls.write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // no progress: retrying would loop for ever
            return fail("cannot write");
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    if (durable && calls.fsync(fd) != 0) return fail("cannot flush");
    // Closed through the calls that tests replace, and checked: a write's error may surface
    // only at the close.
    if (calls.close(file.release()) != 0) {
        std::string reason = "cannot write " + path.string() + ": " + std::strerror(errno);
        unlink(pattern.c_str());
        return reason;
    }
    if (calls.rename(pattern.c_str(), path.c_str()) != 0) {
        std::string reason = "cannot replace " + path.string() + ": " + std::strerror(errno);
        unlink(pattern.c_str());
        return reason;
    }
    if (durable) {
        FileHandle folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder) fsync(folder.fd());
    }
    return {};
}

}  // namespace quorbit::platform
