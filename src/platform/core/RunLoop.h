#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/core/FileHandle.h"

namespace quorbit::platform {

class RunLoopHandle;

// The main thread's event loop: one poll() over file descriptors, timers and tasks posted
// from any thread. It sleeps in poll() when there is nothing to do.
//
// Timers, watches and hooks are added and removed on the loop's own thread; post() may be
// called from any thread. An object whose callback captures itself holds it by the
// RunLoopHandle that timer(), watch() and hook() answer, which removes it when the object
// goes; the calls that answer an Id leave the removal to the caller.
class RunLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;
    using Task = std::function<void()>;
    using Id = std::uint64_t;

    enum FdEvents : short { Readable = 0x001, Writable = 0x004 };

    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The loop of the main thread; the thread that first asks for it becomes the main thread.
    static RunLoop& main();
    static bool isMainThread();

    // Runs task on the loop's thread at its next turn, in posting order. Thread-safe.
    void post(Task task);

    // A one-shot timer (interval empty) or a repeating one. Returns an id for cancelTimer.
    Id addTimer(Duration delay, Task task, std::optional<Duration> interval = std::nullopt);
    void cancelTimer(Id id);
    bool hasTimer(Id id) const;

    // The time that timers (and the animations driven by them) go by: the steady clock, or
    // the clock set here. Tests set one they move by hand; a timer then fires on the first
    // turn after that clock has passed its due time. An empty clock restores the steady one.
    // Pending timers keep the time they had left. runUntil() and runFor() still measure
    // their limits in real time.
    Clock::time_point now() const { return _clock ? _clock() : Clock::now(); }
    void setClock(std::function<Clock::time_point()> clock);

    // The same, held by a handle.
    [[nodiscard]] RunLoopHandle timer(Duration delay, Task task,
                                      std::optional<Duration> interval = std::nullopt);

    // Calls handler with the poll() revents whenever fd is ready for any of events.
    Id watchFd(int fd, short events, std::function<void(short)> handler);
    void unwatchFd(Id id);
    [[nodiscard]] RunLoopHandle watch(int fd, short events, std::function<void(short)> handler);

    // A hook called on every turn of the loop (before sleeping) that may cap how long the
    // loop sleeps; used for sources with no file descriptor of their own.
    Id addHook(std::function<std::optional<Duration>()> hook);
    void removeHook(Id id);
    [[nodiscard]] RunLoopHandle hook(std::function<std::optional<Duration>()> hook);

    // Runs until quit().
    void run();
    // One turn: runs what is due, sleeping at most maxWait for something to become due.
    // Returns whether anything ran.
    bool runOnce(std::optional<Duration> maxWait = std::nullopt);
    // Runs turns until predicate holds or timeout passes; returns the predicate's last answer.
    bool runUntil(const std::function<bool()>& predicate, Duration timeout);
    // Runs turns for the given time.
    void runFor(Duration time);
    void quit();
    bool quitting() const { return _quit; }

  private:
    friend class RunLoopHandle;

    struct Timer {
        Clock::time_point due;
        std::optional<Duration> interval;
        std::shared_ptr<Task> task;
    };
    struct Watch {
        int fd;
        short events;
        std::shared_ptr<std::function<void(short)>> handler;
    };

    bool runTasks();
    bool runTimers();
    void wake();

    std::mutex _taskMutex;
    std::vector<Task> _tasks;
    FileHandle _wake;  // an eventfd that post() and quit() write to

    std::map<Id, Timer> _timers;
    std::map<Id, Watch> _watches;
    std::map<Id, std::shared_ptr<std::function<std::optional<Duration>()>>> _hooks;
    Id _nextId = 1;
    bool _quit = false;
    std::function<Clock::time_point()> _clock;
};

// A timer, file-descriptor watch or hook of a run loop, removed when this handle goes (or is
// reset): an object whose callbacks capture `this` holds the handles of its callbacks, so that
// none of them can run after it has gone. A moved-from handle removes nothing.
class RunLoopHandle {
  public:
    RunLoopHandle() = default;
    RunLoopHandle(RunLoopHandle&& other) noexcept;
    RunLoopHandle& operator=(RunLoopHandle&& other) noexcept;
    RunLoopHandle(const RunLoopHandle&) = delete;
    RunLoopHandle& operator=(const RunLoopHandle&) = delete;
    ~RunLoopHandle() { reset(); }

    // Removes the timer, watch or hook now (a timer's task that is running finishes).
    void reset();
    // Whether a callback is registered: a watch or a hook until reset, a timer until reset or,
    // when it does not repeat, until it has fired.
    bool active() const;
    explicit operator bool() const { return active(); }

  private:
    friend class RunLoop;
    enum class Kind : unsigned char { None, Timer, Watch, Hook };
    RunLoopHandle(RunLoop& loop, Kind kind, std::uint64_t id)
        : _loop(&loop), _kind(kind), _id(id) {}

    RunLoop* _loop = nullptr;
    Kind _kind = Kind::None;
    std::uint64_t _id = 0;
};

}  // namespace quorbit::platform
