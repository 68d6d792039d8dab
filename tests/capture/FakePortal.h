#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace quorbit::capture::testing {

// A camera portal on a private session bus, answering as the desktop's would: it knows a
// camera or not, grants or refuses access (its Response on the request object), and hands
// out connections to a PipeWire socket. It serves on a thread of its own.
class FakePortal {
  public:
    std::atomic<bool> cameraPresent{true};
    std::atomic<unsigned> response{0};  // 0 granted, 1 denied by the user
    std::atomic<int> accessRequests{0}, remotesOpened{0};

    FakePortal(std::string busAddress, std::string pipeWireSocket)
        : _busAddress(std::move(busAddress)), _socket(std::move(pipeWireSocket)) {
        _thread = std::thread([this] { serve(); });
        std::unique_lock lock(_mutex);
        _changed.wait(lock, [&] { return _state != State::Starting; });
    }
    ~FakePortal() {
        if (_loop) g_main_loop_quit(_loop);
        _thread.join();
    }
    bool ready() const { return _state == State::Serving; }

  private:
    enum class State { Starting, Serving, Failed };

    static constexpr const char* kXml =
        "<node><interface name='org.freedesktop.portal.Camera'>"
        "<method name='AccessCamera'><arg type='a{sv}' direction='in'/>"
        "<arg type='o' direction='out'/></method>"
        "<method name='OpenPipeWireRemote'><arg type='a{sv}' direction='in'/>"
        "<arg type='h' direction='out'/></method>"
        "<property name='IsCameraPresent' type='b' access='read'/>"
        "<property name='version' type='u' access='read'/>"
        "</interface></node>";

    void setState(State state) {
        std::lock_guard lock(_mutex);
        _state = state;
        _changed.notify_all();
    }

    void serve() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GError* error = nullptr;
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            _busAddress.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kXml, nullptr);
        guint registration = 0;
        if (bus) {
            static const GDBusInterfaceVTable vtable = {onMethod, onProperty, nullptr, {}};
            registration = g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                                             info->interfaces[0], &vtable, this,
                                                             nullptr, nullptr);
            GVariant* owned = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (owned) g_variant_unref(owned);
            if (registration && owned) {
                _bus = bus;
                _loop = g_main_loop_new(context, FALSE);
                setState(State::Serving);
                g_main_loop_run(_loop);
                g_main_loop_unref(_loop);
            }
        }
        if (_state != State::Serving) setState(State::Failed);
        if (error) g_error_free(error);
        if (registration) g_dbus_connection_unregister_object(bus, registration);
        if (bus) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
        g_dbus_node_info_unref(info);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar* name, GError**, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        if (std::strcmp(name, "IsCameraPresent") == 0)
            return g_variant_new_boolean(self->cameraPresent);
        return g_variant_new_uint32(1);
    }

    static void onMethod(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*,
                         const gchar* method, GVariant* parameters,
                         GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        if (std::strcmp(method, "AccessCamera") == 0) {
            ++self->accessRequests;
            GVariant* options = g_variant_get_child_value(parameters, 0);
            const char* token = "t";
            g_variant_lookup(options, "handle_token", "&s", &token);
            std::string path = std::string("/org/freedesktop/portal/desktop/request/") +
                               (sender + 1) + "/" + token;
            for (char& c : path)
                if (c == '.') c = '_';
            g_variant_unref(options);
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
            GVariantBuilder results;
            g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
            g_dbus_connection_emit_signal(
                bus, sender, path.c_str(), "org.freedesktop.portal.Request", "Response",
                g_variant_new("(ua{sv})", self->response.load(), &results), nullptr);
            return;
        }
        // OpenPipeWireRemote: a fresh connection to the daemon, or none without access.
        if (self->response != 0) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.NotAllowed", "no camera access");
            return;
        }
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, self->_socket.c_str(), sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.Failed", "no PipeWire");
            return;
        }
        ++self->remotesOpened;
        GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes fd
        g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0),
                                                                fds);
        g_object_unref(fds);
    }

    std::string _busAddress, _socket;
    std::thread _thread;
    std::mutex _mutex;
    std::condition_variable _changed;
    std::atomic<State> _state{State::Starting};
    GDBusConnection* _bus = nullptr;
    GMainLoop* _loop = nullptr;
};

}  // namespace quorbit::capture::testing
