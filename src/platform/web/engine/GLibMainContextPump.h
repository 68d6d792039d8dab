#pragma once

#include <optional>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/web/WebEngineModule.h"

typedef struct _GMainContext GMainContext;

namespace quorbit::platform {

// Runs a GLib main context from the program's run loop, so that code built on GLib (the web engine)
// works on the loop's thread with no thread of its own: every turn of the loop dispatches the
// context's sources whose file descriptors the loop's poll found ready or whose time has
// come, then prepares the context again and hands its file descriptors and timeout to the
// loop's next poll.
//
// The pump acquires the context for the loop's thread for as long as it lives. Sources may
// run nested loops (GLib allows that); each nested turn runs a full GLib iteration.
class GLibMainContextPump {
  public:
    // Fails (context() is null afterwards) when another thread owns the context.
    GLibMainContextPump(WebEngineHost& loop, GMainContext* context);
    ~GLibMainContextPump();
    GLibMainContextPump(const GLibMainContextPump&) = delete;
    GLibMainContextPump& operator=(const GLibMainContextPump&) = delete;

    GMainContext* context() const { return _context; }

  private:
    struct PollFd {
        int fd;
        short events;
        short revents;
    };

    std::optional<RunLoop::Duration> turn();
    void watch(const std::vector<PollFd>& fds);

    WebEngineHost& _loop;
    GMainContext* _context = nullptr;
    RunLoop::Id _hook = 0;
    // What the last prepare asked the loop to poll, with what the poll found.
    std::vector<PollFd> _fds;
    std::vector<RunLoop::Id> _watches;
    int _priority = 0;
    bool _prepared = false;
};

}  // namespace quorbit::platform
