#include "codes/CodeScanner.h"

#include <cstring>

namespace quorbit::codes {

CodeScanner::CodeScanner(platform::RunLoop& loop, Handler handler, Clock clock)
    : _loop(loop),
      _clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); }),
      _shared(std::make_shared<Shared>()) {
    _shared->handler = std::move(handler);
    _thread = std::thread(work, _shared, &_loop);
}

CodeScanner::~CodeScanner() {
    {
        std::lock_guard lock(_shared->mutex);
        _shared->stop = true;
        // An outcome already posted finds no handler.
        _shared->handler = nullptr;
    }
    _shared->wake.notify_all();
    _thread.join();
}

bool CodeScanner::busy() const {
    std::lock_guard lock(_shared->mutex);
    return _shared->busy;
}

bool CodeScanner::offer(const capture::PixelBuffer& frame) {
    const std::uint8_t* pixels = frame.baseAddress();
    if (!pixels || frame.width() <= 0 || frame.height() <= 0) return false;
    TimePoint now = _clock();
    if (_lastStart && now - *_lastStart < kMinInterval) return false;
    {
        std::lock_guard lock(_shared->mutex);
        if (_shared->busy) return false;
        // The worker has finished with the buffer: only the copy is made here, on the
        // frame's own thread, since the frame lives only for this call.
        std::size_t size = std::size_t(frame.width()) * std::size_t(frame.height()) * 4;
        _shared->bgra.resize(size);
        std::memcpy(_shared->bgra.data(), pixels, size);
        _shared->width = frame.width();
        _shared->height = frame.height();
        _shared->rotation = frame.rotation();
        // The reader does not turn the picture itself (that costs four searches of every
        // frame): every second attempt sees it turned a quarter, so that a bar code standing
        // on its end is read too. Square codes are read either way.
        _shared->turn = _attempts % 2 ? 90 : 0;
        _shared->pending = true;
        _shared->busy = true;
    }
    _shared->wake.notify_one();
    _lastStart = now;
    ++_attempts;
    return true;
}

void CodeScanner::work(std::shared_ptr<Shared> shared, platform::RunLoop* loop) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&] { return shared->stop || shared->pending; });
        if (shared->stop) return;
        shared->pending = false;
        int width = shared->width, height = shared->height;
        int rotation = (shared->rotation + shared->turn) % 360;
        lock.unlock();
        // The buffer is the worker's until busy is cleared below.
        GreyImage grey = greyUpright(shared->bgra.data(), width, height, rotation);
        std::optional<FoundCode> found = readCode(grey);
        loop->post([weak = std::weak_ptr<Shared>(shared), found = std::move(found)] {
            auto alive = weak.lock();
            if (!alive) return;
            Handler handler;
            {
                std::lock_guard lock(alive->mutex);
                alive->busy = false;
                handler = alive->handler;
            }
            if (handler) handler(found);
        });
        lock.lock();
    }
}

}  // namespace quorbit::codes
