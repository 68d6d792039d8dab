#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorbit::platform {

// A named event with an optional sender and a dictionary of texts.
struct Notification {
    std::string name;
    const void* object = nullptr;
    std::map<std::string, std::string> userInfo;
};

// Names of the notifications that the host posts.
inline constexpr const char* kDeviceOrientationDidChangeNotification = "DeviceOrientationDidChange";
inline constexpr const char* kKeyboardWillShowNotification = "KeyboardWillShow";
// The window took a new size or pixel density (Window::resizeScreen); views laid out from the
// screen's size rather than their parent's lay themselves out again.
inline constexpr const char* kScreenDidResizeNotification = "ScreenDidResize";
inline constexpr const char* kKeyboardWillHideNotification = "KeyboardWillHide";

// In-process broadcast of notifications to observers registered by name and sender.
// Observers always run on the main thread: a post from the main thread reaches every
// matching observer before post() returns; a post from another thread is handed to the main
// run loop and delivered on its next turn. Registration and removal work from any thread.
// An observer removed (even from inside another observer) is never called again.
class NotificationCenter {
  public:
    using Id = std::uint64_t;
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // Calls handler for every notification named name (empty: every name) whose sender is
    // object (null: any sender). owner, when given, lets removeObserver(owner) drop all of
    // one object's registrations at once. Returns an id for removeObserver(Id).
    Id addObserver(const std::string& name, const void* object, Handler handler,
                   const void* owner = nullptr);
    void removeObserver(Id id);
    void removeObserver(const void* owner);
    // Removes the owner's registrations for one name (and sender, when not null).
    void removeObserver(const void* owner, const std::string& name, const void* object = nullptr);

    void post(const Notification& notification);
    void post(const std::string& name, const void* object = nullptr,
              std::map<std::string, std::string> userInfo = {});

    size_t observerCount() const;

  private:
    struct Entry {
        Id id;
        std::string name;
        const void* object;
        const void* owner;
        std::shared_ptr<Handler> handler;
        std::shared_ptr<bool> alive;
    };

    void deliver(const Notification& notification);
    void eraseIf(const std::function<bool(const Entry&)>& match);

    mutable std::mutex _mutex;
    std::vector<Entry> _entries;
    Id _nextId = 1;
};

}  // namespace quorbit::platform
