#include "platform/core/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace quorbit::platform {
namespace {

std::thread::id& mainThreadId() {
    static std::thread::id id;
    return id;
}

}  // namespace

RunLoop::RunLoop() {
    _wake.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!_wake) throw std::runtime_error("eventfd failed");
}

RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
    static RunLoop* loop = [] {
        mainThreadId() = std::this_thread::get_id();
        return new RunLoop();  // lives for the whole process, like the main thread
    }();
    return *loop;
}

bool RunLoop::isMainThread() {
    main();
    return std::this_thread::get_id() == mainThreadId();
}

void RunLoop::post(Task task) {
    {
        std::lock_guard lock(_taskMutex);
        _tasks.push_back(std::move(task));
    }
    wake();
}

void RunLoop::wake() {
    std::uint64_t one = 1;
    ssize_t written = write(_wake.fd(), &one, sizeof one);
    (void)written;  // a full counter already wakes the loop
}

RunLoop::Id RunLoop::addTimer(Duration delay, Task task, std::optional<Duration> interval) {
    Id id = _nextId++;
    if (interval && *interval <= Duration::zero()) interval = std::chrono::milliseconds(1);
    _timers[id] = Timer{now() + std::max(delay, Duration::zero()), interval,
                        std::make_shared<Task>(std::move(task))};
    return id;
}

void RunLoop::setClock(std::function<Clock::time_point()> clock) {
    auto before = now();
    _clock = std::move(clock);
    auto after = now();
    for (auto& [id, timer] : _timers)
        timer.due += after - before;
}

void RunLoop::cancelTimer(Id id) {
    _timers.erase(id);
}

bool RunLoop::hasTimer(Id id) const {
    return _timers.count(id) != 0;
}

RunLoop::Id RunLoop::watchFd(int fd, short events, std::function<void(short)> handler) {
    Id id = _nextId++;
    _watches[id] =
        Watch{fd, events, std::make_shared<std::function<void(short)>>(std::move(handler))};
    return id;
}

void RunLoop::unwatchFd(Id id) {
    _watches.erase(id);
}

RunLoop::Id RunLoop::addHook(std::function<std::optional<Duration>()> hook) {
    Id id = _nextId++;
    _hooks[id] = std::make_shared<std::function<std::optional<Duration>()>>(std::move(hook));
    return id;
}

void RunLoop::removeHook(Id id) {
    _hooks.erase(id);
}

bool RunLoop::runTasks() {
    std::vector<Task> tasks;
    {
        std::lock_guard lock(_taskMutex);
        tasks.swap(_tasks);
    }
    for (auto& task : tasks)
        task();
    return !tasks.empty();
}

bool RunLoop::runTimers() {
    auto now = this->now();
    struct Due {
        Clock::time_point at;
        Id id;
        std::shared_ptr<Task> task;
    };
    std::vector<Due> due;
    for (auto& [id, timer] : _timers) {
        if (timer.due <= now) due.push_back({timer.due, id, timer.task});
    }
    // In the order they came due; timers due at the same moment in the order they were added
    // (ids grow with each timer added).
    std::sort(due.begin(), due.end(),
              [](const Due& a, const Due& b) { return a.at != b.at ? a.at < b.at : a.id < b.id; });
    for (const Due& entry : due) {
        auto it = _timers.find(entry.id);
        if (it == _timers.end()) continue;  // cancelled by an earlier callback
        if (it->second.interval) {
            // Keep the cadence, but never schedule a burst to catch up on missed ticks.
            it->second.due += *it->second.interval;
            if (it->second.due <= now) it->second.due = now + *it->second.interval;
        } else {
            _timers.erase(it);
        }
        (*entry.task)();
    }
    return !due.empty();
}

bool RunLoop::runOnce(std::optional<Duration> maxWait) {
    bool ran = runTasks();
    ran |= runTimers();

    std::optional<Duration> wait = maxWait;
    auto cap = [&wait](Duration d) {
        d = std::max(d, Duration::zero());
        if (!wait || d < *wait) wait = d;
    };
    std::vector<std::shared_ptr<std::function<std::optional<Duration>()>>> hooks;
    for (auto& [id, hook] : _hooks)
        hooks.push_back(hook);
    for (auto& hook : hooks) {
        if (auto limit = (*hook)()) cap(*limit);
    }
    if (ran || _quit) cap(Duration::zero());
    {
        std::lock_guard lock(_taskMutex);
        if (!_tasks.empty()) cap(Duration::zero());
    }
    auto now = this->now();
    for (auto& [id, timer] : _timers)
        cap(timer.due - now);

    std::vector<pollfd> fds;
    std::vector<std::pair<Id, std::shared_ptr<std::function<void(short)>>>> handlers;
    fds.push_back({_wake.fd(), POLLIN, 0});
    for (auto& [id, watch] : _watches) {
        fds.push_back({watch.fd, watch.events, 0});
        handlers.emplace_back(id, watch.handler);
    }
    int timeoutMs = -1;
    if (wait) {
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
        timeoutMs = static_cast<int>(std::min<long long>(ms, 1 << 30));
    }
    int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready > 0) {
        if (fds[0].revents) {
            std::uint64_t count;
            while (read(_wake.fd(), &count, sizeof count) > 0) {
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            if (!_watches.count(handlers[i - 1].first)) continue;  // removed meanwhile
            (*handlers[i - 1].second)(fds[i].revents);
            ran = true;
        }
    }
    ran |= runTasks();
    ran |= runTimers();
    return ran;
}

void RunLoop::run() {
    _quit = false;
    while (!_quit)
        runOnce();
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, Duration timeout) {
    auto end = Clock::now() + timeout;
    while (!predicate()) {
        auto now = Clock::now();
        if (now >= end) return predicate();
        runOnce(end - now);
    }
    return true;
}

void RunLoop::runFor(Duration time) {
    auto end = Clock::now() + time;
    for (auto now = Clock::now(); now < end; now = Clock::now())
        runOnce(end - now);
}

void RunLoop::quit() {
    _quit = true;
    wake();
}

RunLoopHandle RunLoop::timer(Duration delay, Task task, std::optional<Duration> interval) {
    return RunLoopHandle(*this, RunLoopHandle::Kind::Timer,
                         addTimer(delay, std::move(task), interval));
}

RunLoopHandle RunLoop::watch(int fd, short events, std::function<void(short)> handler) {
    return RunLoopHandle(*this, RunLoopHandle::Kind::Watch,
                         watchFd(fd, events, std::move(handler)));
}

RunLoopHandle RunLoop::hook(std::function<std::optional<Duration>()> hook) {
    return RunLoopHandle(*this, RunLoopHandle::Kind::Hook, addHook(std::move(hook)));
}

RunLoopHandle::RunLoopHandle(RunLoopHandle&& other) noexcept
    : _loop(std::exchange(other._loop, nullptr)),
      _kind(std::exchange(other._kind, Kind::None)),
      _id(std::exchange(other._id, 0)) {}

RunLoopHandle& RunLoopHandle::operator=(RunLoopHandle&& other) noexcept {
    if (this != &other) {
        reset();
        _loop = std::exchange(other._loop, nullptr);
        _kind = std::exchange(other._kind, Kind::None);
        _id = std::exchange(other._id, 0);
    }
    return *this;
}

void RunLoopHandle::reset() {
    RunLoop* loop = std::exchange(_loop, nullptr);
    Kind kind = std::exchange(_kind, Kind::None);
    RunLoop::Id id = std::exchange(_id, 0);
    if (!loop) return;
    switch (kind) {
        case Kind::Timer:
            loop->cancelTimer(id);
            break;
        case Kind::Watch:
            loop->unwatchFd(id);
            break;
        case Kind::Hook:
            loop->removeHook(id);
            break;
        case Kind::None:
            break;
    }
}

bool RunLoopHandle::active() const {
    if (!_loop) return false;
    switch (_kind) {
        case Kind::Timer:
            return _loop->hasTimer(_id);
        case Kind::Watch:
            return _loop->_watches.count(_id) != 0;
        case Kind::Hook:
            return _loop->_hooks.count(_id) != 0;
        case Kind::None:
            break;
    }
    return false;
}

}  // namespace quorbit::platform
