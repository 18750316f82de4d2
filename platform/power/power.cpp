#include "platform/power/power.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/power/gio_lib.h"

namespace platform {

namespace {

constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr int kCallTimeoutMs = 5000;

// One method call; takes ownership of a floating parameter tuple. The reply, or null.
GVariant* Call(const GioLib& gio, GDBusConnection* bus, const char* path, const char* iface, const char* method,
               GVariant* params, std::string* error) {
    GError* err = nullptr;
    GVariant* reply = gio.g_dbus_connection_call_sync(bus, kLogindName, path, iface, method, params, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &err);
    if (!reply && error) *error = err ? err->message : "no reply";
    if (err) gio.g_error_free(err);
    return reply;
}

class LogindPowerControl : public PowerControl {
public:
    bool Request(PowerAction action, std::string* error) override {
        // Without GIO the login manager cannot be asked: the action fails as without a bus.
        const GioLib* lib = GioLibrary();
        if (!lib) {
            if (error) *error = "the D-Bus library (GIO) cannot be loaded";
            return false;
        }
        const GioLib& gio = *lib;
        GError* err = nullptr;
        GDBusConnection* bus = gio.g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
        if (!bus) {
            if (error) *error = err ? err->message : "no system bus";
            if (err) gio.g_error_free(err);
            return false;
        }
        GVariant* reply = nullptr;
        switch (action) {
        case PowerAction::PowerOff:
            reply = Call(gio, bus, kLogindPath, kManager, "PowerOff", gio.g_variant_new("(b)", FALSE), error);
            break;
        case PowerAction::Hibernate:
            reply = Call(gio, bus, kLogindPath, kManager, "Hibernate", gio.g_variant_new("(b)", FALSE), error);
            break;
        case PowerAction::Suspend:
            reply = Call(gio, bus, kLogindPath, kManager, "Suspend", gio.g_variant_new("(b)", FALSE), error);
            break;
        case PowerAction::Reboot:
            reply = Call(gio, bus, kLogindPath, kManager, "Reboot", gio.g_variant_new("(b)", FALSE), error);
            break;
        case PowerAction::LogOff: reply = EndSession(gio, bus, error); break;
        }
        gio.g_object_unref(bus);
        if (!reply) return false;
        gio.g_variant_unref(reply);
        return true;
    }

private:
    // The session named by XDG_SESSION_ID, else the one this process belongs to.
    static GVariant* EndSession(const GioLib& gio, GDBusConnection* bus, std::string* error) {
        if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id)
            return Call(gio, bus, kLogindPath, kManager, "TerminateSession", gio.g_variant_new("(s)", id), error);
        GVariant* found = Call(gio, bus, kLogindPath, kManager, "GetSessionByPID",
                               gio.g_variant_new("(u)", static_cast<guint32>(getpid())), error);
        if (!found) return nullptr;
        const gchar* path = nullptr;
        gio.g_variant_get(found, "(&o)", &path);
        GVariant* reply = Call(gio, bus, path, "org.freedesktop.login1.Session", "Terminate", nullptr, error);
        gio.g_variant_unref(found);
        return reply;
    }
};

std::mutex g_lock;
PowerControl* g_installed = nullptr;
std::unique_ptr<PowerControl> g_logind;

}  // namespace

std::unique_ptr<PowerControl> MakeLogindPowerControl() { return std::make_unique<LogindPowerControl>(); }

PowerControl& GetPowerControl() {
    std::lock_guard lk(g_lock);
    if (g_installed) return *g_installed;
    if (!g_logind) g_logind = MakeLogindPowerControl();
    return *g_logind;
}

void SetPowerControl(PowerControl* control) {
    std::lock_guard lk(g_lock);
    g_installed = control;
}

}  // namespace platform
