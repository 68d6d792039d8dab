#include "platform/web/engine/GLibMainContextPump.h"

#include <glib.h>

#include <algorithm>
#include <chrono>

namespace quorbit::platform {

GLibMainContextPump::GLibMainContextPump(WebEngineHost& loop, GMainContext* context) : _loop(loop) {
    if (!context || !g_main_context_acquire(context)) return;
    _context = g_main_context_ref(context);
    _hook = _loop.addHook([this] { return turn(); });
}

GLibMainContextPump::~GLibMainContextPump() {
    if (!_context) return;
    _loop.removeHook(_hook);
    watch({});
    g_main_context_release(_context);
    g_main_context_unref(_context);
}

std::optional<RunLoop::Duration> GLibMainContextPump::turn() {
    if (_prepared) {
        // The loop has polled what the last prepare asked for: dispatch what is ready.
        _prepared = false;
        std::vector<GPollFD> polled;
        polled.reserve(_fds.size());
        for (const PollFd& p : _fds)
            polled.push_back(
                {p.fd, static_cast<gushort>(p.events), static_cast<gushort>(p.revents)});
        if (g_main_context_check(_context, _priority, polled.data(),
                                 static_cast<gint>(polled.size())))
            g_main_context_dispatch(_context);
    }

    gint priority = 0;
    bool ready = g_main_context_prepare(_context, &priority);
    std::vector<GPollFD> fds(std::max<std::size_t>(_fds.size(), 8));
    gint timeout = -1;
    gint count = g_main_context_query(_context, priority, &timeout, fds.data(),
                                      static_cast<gint>(fds.size()));
    if (count > static_cast<gint>(fds.size())) {
        fds.resize(static_cast<std::size_t>(count));
        count = g_main_context_query(_context, priority, &timeout, fds.data(), count);
    }
    fds.resize(static_cast<std::size_t>(count));
    std::vector<PollFd> wanted;
    wanted.reserve(fds.size());
    for (const GPollFD& f : fds)
        wanted.push_back({f.fd, static_cast<short>(f.events), 0});
    watch(wanted);
    _priority = priority;
    _prepared = true;

    if (ready) return RunLoop::Duration::zero();
    if (timeout < 0) return std::nullopt;
    return std::chrono::milliseconds(timeout);
}

void GLibMainContextPump::watch(const std::vector<PollFd>& fds) {
    bool same =
        fds.size() == _fds.size() &&
        std::equal(fds.begin(), fds.end(), _fds.begin(), [](const PollFd& a, const PollFd& b) {
            return a.fd == b.fd && a.events == b.events;
        });
    if (same) {
        for (PollFd& p : _fds)
            p.revents = 0;
        return;
    }
    for (RunLoop::Id id : _watches)
        _loop.unwatchFd(id);
    _watches.clear();
    _fds = fds;
    for (const PollFd& p : _fds) {
        int fd = p.fd;
        _watches.push_back(_loop.watchFd(fd, p.events, [this, fd](short revents) {
            for (PollFd& q : _fds) {
                if (q.fd == fd) q.revents = static_cast<short>(q.revents | revents);
            }
        }));
    }
}

}  // namespace quorbit::platform
