#include "capture/CameraPortal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>

#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

constexpr const char* kBusName = "org.freedesktop.portal.Desktop";
constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kCameraInterface = "org.freedesktop.portal.Camera";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr int kCallTimeoutMs = 10000;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const {
        if (p) Free(p);
    }
};
using ErrorPtr = std::unique_ptr<GError, Deleter<GError, g_error_free>>;
using VariantPtr = std::unique_ptr<GVariant, Deleter<GVariant, g_variant_unref>>;

void unrefObject(GObject* object) {
    g_object_unref(object);
}
using ObjectPtr = std::unique_ptr<GObject, Deleter<GObject, unrefObject>>;

std::string messageOf(const GError* error) {
    return error && error->message ? error->message : "unknown error";
}

// Whether an error means that there is no camera portal to ask (as opposed to a portal
// that refuses).
bool isUnreachable(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
}

GDBusConnection* sessionBus(GError** error) {
    return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error);
}

// The answer to one portal request, delivered as the Response signal of its request object.
struct Pending {
    bool answered = false, timedOut = false;
    guint32 response = 2;

    static void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant* parameters, gpointer data) {
        auto* self = static_cast<Pending*>(data);
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
        g_variant_get(parameters, "(u@a{sv})", &self->response, nullptr);
        self->answered = true;
    }
    static gboolean onTimeout(gpointer data) {
        static_cast<Pending*>(data)->timedOut = true;
        return G_SOURCE_REMOVE;
    }
};

}  // namespace

CameraPortal& CameraPortal::shared() {
    static CameraPortal portal;
    return portal;
}

bool CameraPortal::sandboxed(const std::string& marker) {
    std::error_code error;
    return std::filesystem::exists(marker, error);
}

CameraPortal::Answer CameraPortal::requestAccess(std::chrono::milliseconds timeout) {
    std::lock_guard lock(_mutex);
    if (!_answer) _answer = ask(timeout);
    return *_answer;
}

CameraPortal::Answer CameraPortal::ask(std::chrono::milliseconds timeout) {
    GError* rawError = nullptr;
    GDBusConnection* bus = sessionBus(&rawError);
    ErrorPtr error(rawError);
    if (!bus) return {Access::Unreachable, "no session bus: " + messageOf(error.get())};
    ObjectPtr busRef(G_OBJECT(bus));

    // Whether the portal knows of any camera at all.
    VariantPtr present(g_dbus_connection_call_sync(
        bus, kBusName, kObjectPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kCameraInterface, "IsCameraPresent"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &rawError));
    error.reset(rawError);
    if (!present) return {Access::Unreachable, "no camera portal: " + messageOf(error.get())};
    GVariant* value = nullptr;
    g_variant_get(present.get(), "(v)", &value);
    VariantPtr valueRef(value);
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) || !g_variant_get_boolean(value))
        return {Access::NoCamera, "the camera portal knows of no camera"};

    // The request object's path is known before the call: listen there first, so that an
    // answer that comes at once is not missed.
    static std::atomic<unsigned> requests{0};
    std::string token = "quorbit" + std::to_string(getpid()) + "_" + std::to_string(++requests);
    std::string sender = g_dbus_connection_get_unique_name(bus) + 1;  // without the ':'
    std::replace(sender.begin(), sender.end(), '.', '_');
    std::string path = std::string(kObjectPath) + "/request/" + sender + "/" + token;

    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    Pending pending;
    auto subscribe = [&](const std::string& on) {
        return g_dbus_connection_signal_subscribe(bus, nullptr, kRequestInterface, "Response",
                                                  on.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                  Pending::onResponse, &pending, nullptr);
    };
    guint subscription = subscribe(path);

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    VariantPtr reply(g_dbus_connection_call_sync(bus, kBusName, kObjectPath, kCameraInterface,
                                                 "AccessCamera", g_variant_new("(a{sv})", &options),
                                                 G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                 kCallTimeoutMs, nullptr, &rawError));
    error.reset(rawError);
    Answer answer;
    if (!reply) {
        answer = {isUnreachable(error.get()) ? Access::Unreachable : Access::Denied,
                  "camera access refused: " + messageOf(error.get())};
    } else {
        const char* handle = nullptr;
        g_variant_get(reply.get(), "(&o)", &handle);
        if (handle && path != handle) {  // a portal that does not follow the token
            g_dbus_connection_signal_unsubscribe(bus, subscription);
            path = handle;
            subscription = subscribe(path);
        }
        GSource* timer = g_timeout_source_new(guint(timeout.count()));
        g_source_set_callback(timer, Pending::onTimeout, &pending, nullptr);
        g_source_attach(timer, context);
        while (!pending.answered && !pending.timedOut)
            g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        if (!pending.answered) {
            // Withdraw the question: nobody waits for its answer any more.
            g_dbus_connection_call(bus, kBusName, path.c_str(), kRequestInterface, "Close", nullptr,
                                   nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
            answer = {Access::Denied, "the camera portal gave no answer in time"};
        } else if (pending.response == 0) {
            answer = {Access::Granted, "camera access granted"};
        } else {
            answer = {Access::Denied, pending.response == 1 ? "camera access denied"
                                                            : "camera access request failed"};
        }
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
    g_main_context_pop_thread_default(context);
    // Let go of what the context still holds (the subscription's last references).
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
    platform::Log::info("camera portal: " + answer.detail);
    return answer;
}

platform::Result<int> CameraPortal::openPipeWireRemote() {
    GError* rawError = nullptr;
    GDBusConnection* bus = sessionBus(&rawError);
    ErrorPtr error(rawError);
    if (!bus)
        return platform::Error::make(PortalError::NoSessionBus,
                                     "no session bus: " + messageOf(error.get()));
    ObjectPtr busRef(G_OBJECT(bus));
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    GUnixFDList* fds = nullptr;
    VariantPtr reply(g_dbus_connection_call_with_unix_fd_list_sync(
        bus, kBusName, kObjectPath, kCameraInterface, "OpenPipeWireRemote",
        g_variant_new("(a{sv})", &options), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, &fds, nullptr, &rawError));
    error.reset(rawError);
    ObjectPtr fdsRef(fds ? G_OBJECT(fds) : nullptr);
    if (!reply) {
        return platform::Error::make(
            PortalError::NoConnection,
            "the camera portal gave no PipeWire connection: " + messageOf(error.get()));
    }
    gint32 index = -1;
    g_variant_get(reply.get(), "(h)", &index);
    int fd = fds ? g_unix_fd_list_get(fds, index, &rawError) : -1;
    error.reset(rawError);
    if (fd < 0) {
        return platform::Error::make(
            PortalError::NoConnection,
            "the camera portal handed out no connection: " + messageOf(error.get()));
    }
    return fd;
}

}  // namespace quorbit::capture
