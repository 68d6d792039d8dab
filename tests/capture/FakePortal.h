#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace quorbit::capture::testing {

// A camera portal on a private session bus, answering as the desktop's would: it knows a
// camera or not, grants or refuses access (its Response on the request object), and hands
// out connections to a PipeWire socket. Its calls are served on a thread of its own.
class FakePortal {
  public:
    std::atomic<bool> cameraPresent{true};
    std::atomic<unsigned> response{0};  // 0 granted, 1 denied by the user
    std::atomic<int> accessRequests{0};

    FakePortal(const std::string& busAddress, std::string pipeWireSocket)
        : _socket(std::move(pipeWireSocket)) {
        // Calls are dispatched to the context that is the thread default at registration.
        g_main_context_push_thread_default(_context);
        _bus = g_dbus_connection_new_for_address_sync(
            busAddress.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (_bus) {
            static const GDBusInterfaceVTable vtable = {onMethod, onProperty, nullptr, {}};
            _registration = g_dbus_connection_register_object(
                _bus, "/org/freedesktop/portal/desktop", _info->interfaces[0], &vtable, this,
                nullptr, nullptr);
            GVariant* owned = g_dbus_connection_call_sync(
                _bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (owned) g_variant_unref(owned);
        }
        g_main_context_pop_thread_default(_context);
        _thread = std::thread([this] {
            while (!_stop)
                g_main_context_iteration(_context, TRUE);
        });
    }
    ~FakePortal() {
        _stop = true;
        g_main_context_wakeup(_context);
        _thread.join();
        if (_registration) g_dbus_connection_unregister_object(_bus, _registration);
        if (_bus) {
            g_dbus_connection_close_sync(_bus, nullptr, nullptr);
            g_object_unref(_bus);
        }
        g_dbus_node_info_unref(_info);
        g_main_context_unref(_context);
    }

  private:
    static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GError**, gpointer data) {
        return g_variant_new_boolean(static_cast<FakePortal*>(data)->cameraPresent);
    }

    static void onMethod(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*,
                         const gchar* method, GVariant* parameters,
                         GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        if (std::strcmp(method, "AccessCamera") == 0) {
            ++self->accessRequests;
            const char* token = "t";
            GVariant* options = g_variant_get_child_value(parameters, 0);
            g_variant_lookup(options, "handle_token", "&s", &token);
            std::string path = std::string("/org/freedesktop/portal/desktop/request/") +
                               (sender + 1) + "/" + token;
            g_variant_unref(options);
            std::replace(path.begin(), path.end(), '.', '_');
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
            g_dbus_connection_emit_signal(
                bus, sender, path.c_str(), "org.freedesktop.portal.Request", "Response",
                g_variant_new("(u@a{sv})", self->response.load(), g_variant_new("a{sv}", nullptr)),
                nullptr);
            return;
        }
        // OpenPipeWireRemote: a fresh connection to the daemon, or none without access.
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, self->_socket.c_str(), sizeof address.sun_path - 1);
        if (self->response != 0 ||
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.NotAllowed", "no camera connection");
            return;
        }
        GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes fd
        g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0),
                                                                fds);
        g_object_unref(fds);
    }

    std::string _socket;
    GMainContext* _context = g_main_context_new();
    GDBusNodeInfo* _info = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.portal.Camera'>"
        "<method name='AccessCamera'><arg type='a{sv}' direction='in'/>"
        "<arg type='o' direction='out'/></method>"
        "<method name='OpenPipeWireRemote'><arg type='a{sv}' direction='in'/>"
        "<arg type='h' direction='out'/></method>"
        "<property name='IsCameraPresent' type='b' access='read'/>"
        "</interface></node>",
        nullptr);
    GDBusConnection* _bus = nullptr;
    guint _registration = 0;
    std::atomic<bool> _stop{false};
    std::thread _thread;
};

}  // namespace quorbit::capture::testing
