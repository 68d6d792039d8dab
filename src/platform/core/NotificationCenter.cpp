#include "platform/core/NotificationCenter.h"

#include <algorithm>

#include "platform/core/RunLoop.h"

namespace quorbit::platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Id NotificationCenter::addObserver(const std::string& name, const void* object,
                                                       Handler handler, const void* owner) {
    std::lock_guard lock(_mutex);
    Id id = _nextId++;
    _entries.push_back(Entry{id, name, object, owner, std::make_shared<Handler>(std::move(handler)),
                             std::make_shared<bool>(true)});
    return id;
}

void NotificationCenter::eraseIf(const std::function<bool(const Entry&)>& match) {
    std::lock_guard lock(_mutex);
    auto end = std::remove_if(_entries.begin(), _entries.end(), [&](const Entry& entry) {
        if (!match(entry)) return false;
        // A delivery in progress may still hold this entry; the flag keeps it from running.
        *entry.alive = false;
        return true;
    });
    _entries.erase(end, _entries.end());
}

void NotificationCenter::removeObserver(Id id) {
    eraseIf([id](const Entry& entry) { return entry.id == id; });
}

void NotificationCenter::removeObserver(const void* owner) {
    if (!owner) return;
    eraseIf([owner](const Entry& entry) { return entry.owner == owner; });
}

void NotificationCenter::removeObserver(const void* owner, const std::string& name,
                                        const void* object) {
    if (!owner) return;
    eraseIf([&](const Entry& entry) {
        return entry.owner == owner && entry.name == name && (!object || entry.object == object);
    });
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(_mutex);
    return _entries.size();
}

void NotificationCenter::post(const std::string& name, const void* object,
                              std::map<std::string, std::string> userInfo) {
    post(Notification{name, object, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    if (RunLoop::isMainThread()) {
        deliver(notification);
        return;
    }
    RunLoop::main().post([this, notification] { deliver(notification); });
}

void NotificationCenter::deliver(const Notification& notification) {
    // Observers may add or remove registrations while they run, so deliver to a snapshot
    // and check each entry's flag just before calling it. The lock is not held while an
    // observer runs.
    std::vector<std::pair<std::shared_ptr<Handler>, std::shared_ptr<bool>>> targets;
    {
        std::lock_guard lock(_mutex);
        for (const auto& entry : _entries) {
            if (!entry.name.empty() && entry.name != notification.name) continue;
            if (entry.object && entry.object != notification.object) continue;
            targets.emplace_back(entry.handler, entry.alive);
        }
    }
    for (auto& [handler, alive] : targets) {
        bool run;
        {
            std::lock_guard lock(_mutex);
            run = *alive;
        }
        if (run && *handler) (*handler)(notification);
    }
}

}  // namespace quorbit::platform
