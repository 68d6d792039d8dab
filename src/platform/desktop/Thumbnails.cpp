#include "platform/desktop/Thumbnails.h"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "platform/core/Bundle.h"
#include "platform/core/Files.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::platform {
namespace fs = std::filesystem;

namespace Thumbnails {
namespace {

std::atomic<std::uint64_t> decodes{0};

// A thumbnail file is small; anything larger is not one of ours to read.
constexpr std::uint64_t kMaxThumbnailBytes = std::uint64_t(4) << 20;

std::string textChunk(const std::vector<ImageCodec::PngText>& chunks, const std::string& key) {
    for (const auto& [keyword, text] : chunks)
        if (keyword == key) return text;
    return {};
}

}  // namespace

fs::path cacheFolder(int size) {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    fs::path root;
    if (cache && *cache == '/') {
        root = cache;
    } else {
        const char* home = std::getenv("HOME");
        root = fs::path(home && *home ? home : g_get_home_dir()) / ".cache";
    }
    return root / "thumbnails" / (size > kNormalSize ? "large" : "normal");
}

std::string fileUri(const fs::path& path) {
    fs::path absolute = fs::absolute(path).lexically_normal();
    gchar* uri = g_filename_to_uri(absolute.c_str(), nullptr, nullptr);
    if (!uri) return "file://" + absolute.string();
    std::string text = uri;
    g_free(uri);
    return text;
}

std::string md5Hex(std::string_view bytes) {
    gchar* sum = g_compute_checksum_for_data(
        G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string text = sum ? sum : "";
    g_free(sum);
    return text;
}

fs::path cachePath(const fs::path& path, int size) {
    return cacheFolder(size) / (md5Hex(fileUri(path)) + ".png");
}

namespace {

// The bytes of the cached thumbnail when its chunks say it is of this picture at this time.
std::optional<std::string> freshBytes(const fs::path& path, std::int64_t mtime, int size) {
    auto bytes = readRegularFile(cachePath(path, size), kMaxThumbnailBytes);
    if (!bytes) return std::nullopt;
    auto chunks = ImageCodec::pngTextChunks(*bytes);
    if (textChunk(chunks, "Thumb::URI") != fileUri(path) ||
        textChunk(chunks, "Thumb::MTime") != std::to_string(mtime))
        return std::nullopt;
    return std::move(bytes).value();
}

}  // namespace

std::optional<Image> cached(const fs::path& path, std::int64_t mtime, int size) {
    auto bytes = freshBytes(path, mtime, size);
    if (!bytes) return std::nullopt;
    auto image = ImageCodec::decodePng(*bytes);
    if (!image) return std::nullopt;
    return std::move(image).value();
}

namespace {

std::mutex readerMutex;
ClipFrameReader clipReader;

}  // namespace

void setClipFrameReader(ClipFrameReader reader) {
    std::lock_guard lock(readerMutex);
    clipReader = std::move(reader);
}

Result<Image> readPicture(const fs::path& path, int minSide) {
    if (!PhotoFolder::isClipName(path)) return ImageCodec::readFileScaled(path, minSide);
    ClipFrameReader reader;
    {
        std::lock_guard lock(readerMutex);
        reader = clipReader;
    }
    if (!reader)
        return Error::make(PhotoFolderError::Failed, path.string() + ": clips cannot be read here");
    return reader(path, minSide);
}

Result<Image> make(const fs::path& path, std::int64_t mtime, int size) {
    decodes.fetch_add(1, std::memory_order_relaxed);
    auto decoded = readPicture(path, size);
    if (!decoded) return decoded.error();
    Image thumbnail = decoded->scaledToFit(size);
    decoded = Image();  // the larger picture goes before the encoding

    struct stat st {};
    std::string bytes = stat(path.c_str(), &st) == 0 ? std::to_string(st.st_size) : "";
    std::vector<ImageCodec::PngText> text = {{"Thumb::URI", fileUri(path)},
                                             {"Thumb::MTime", std::to_string(mtime)},
                                             {"Software", Bundle::main().name()}};
    if (!bytes.empty()) text.push_back({"Thumb::Size", bytes});
    auto png = ImageCodec::encodePng(thumbnail, text);
    if (!png) {
        Log::warn("thumbnail not stored: " + png.error().localizedDescription());
        return thumbnail;
    }
    fs::path folder = cacheFolder(size);
    std::error_code ec;
    fs::create_directories(folder, ec);
    // The thumbnails tell what the user's pictures show: for the user's eyes alone.
    chmod(folder.c_str(), 0700);
    std::string problem = writeFileAtomically(cachePath(path, size), *png, false, 0600);
    if (!problem.empty()) Log::warn("thumbnail not stored: " + problem);
    return thumbnail;
}

fs::path failurePath(const fs::path& path) {
    return cacheFolder().parent_path() / "fail" / kFailureFolder / (md5Hex(fileUri(path)) + ".png");
}

bool failedBefore(const fs::path& path, std::int64_t mtime) {
    auto bytes = readRegularFile(failurePath(path), kMaxThumbnailBytes);
    if (!bytes) return false;
    auto chunks = ImageCodec::pngTextChunks(*bytes);
    return textChunk(chunks, "Thumb::URI") == fileUri(path) &&
           textChunk(chunks, "Thumb::MTime") == std::to_string(mtime);
}

Result<Image> load(const fs::path& path, std::int64_t mtime, int size) {
    if (auto hit = cached(path, mtime, size)) return std::move(*hit);
    if (failedBefore(path, mtime))
        return Error::make(ImageError::NotAnImage,
                           path.string() + " could not be read when it was last tried");
    auto made = make(path, mtime, size);
    // A picture that cannot be decoded is noted, as the desktop's thumbnailers do, so that
    // it is not decoded again until it changes; one that could not be opened is tried again.
    if (!made && !made.error().is(ImageError::Unreadable)) {
        Image mark(1, 1);
        auto png = ImageCodec::encodePng(
            mark, {{"Thumb::URI", fileUri(path)}, {"Thumb::MTime", std::to_string(mtime)}});
        std::error_code ec;
        fs::create_directories(failurePath(path).parent_path(), ec);
        if (png) (void)writeFileAtomically(failurePath(path), *png, false, 0600);
    }
    return made;
}

std::uint64_t decodeCount() {
    return decodes.load(std::memory_order_relaxed);
}

}  // namespace Thumbnails

ThumbnailLoader::ThumbnailLoader() {
    RunLoop::main();  // the creating thread's loop receives the answers
}

ThumbnailLoader::~ThumbnailLoader() {
    {
        std::lock_guard lock(_mutex);
        _stopping = true;
        _jobs.clear();
    }
    _wake.notify_all();
    for (std::thread& worker : _workers)
        worker.join();
}

void ThumbnailLoader::request(const PhotoItem& item, Completion completion, int size) {
    {
        std::lock_guard lock(_mutex);
        _jobs.push_back(Job{item, std::move(completion), *_generation, size});
        startWorkers();
    }
    _wake.notify_all();
}

void ThumbnailLoader::startWorkers() {
    // One a core, up to two: decoding is most of the work, and the main thread needs a core.
    unsigned wanted = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    while (_workers.size() < wanted)
        _workers.emplace_back([this] { work(); });
}

void ThumbnailLoader::prepare(const PhotoItem& item, int size) {
    {
        std::lock_guard lock(_mutex);
        _background.emplace_back(item, size);
        startWorkers();
    }
    _wake.notify_all();
}

void ThumbnailLoader::cancelAll() {
    std::lock_guard lock(_mutex);
    _jobs.clear();
    _background.clear();
    ++*_generation;
}

void ThumbnailLoader::work() {
    std::unique_lock lock(_mutex);
    for (;;) {
        _wake.wait(lock, [this] { return _stopping || !_jobs.empty() || !_background.empty(); });
        if (_stopping) return;
        if (_jobs.empty()) {
            auto [item, size] = std::move(_background.front());
            _background.pop_front();
            lock.unlock();
            // A thumbnail already in the cache is left as it is, undecoded.
            if (!Thumbnails::freshBytes(item.path, item.mtime, size))
                (void)Thumbnails::load(item.path, item.mtime, size);
            lock.lock();
            continue;
        }
        Job job = std::move(_jobs.front());
        _jobs.pop_front();
        std::weak_ptr<std::uint64_t> generation = _generation;
        lock.unlock();
        auto loaded = Thumbnails::load(job.item.path, job.item.mtime, job.size);
        std::shared_ptr<const Image> thumbnail;
        if (loaded)
            thumbnail = std::make_shared<const Image>(std::move(loaded).value());
        else
            Log::info("no thumbnail for " + job.item.path.string() + ": " +
                      loaded.error().localizedDescription());
        RunLoop::main().post([generation, asked = job.generation,
                              completion = std::move(job.completion), thumbnail] {
            auto current = generation.lock();
            if (current && *current == asked && completion) completion(thumbnail);
        });
        lock.lock();
    }
}

}  // namespace quorbit::platform
