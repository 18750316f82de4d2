// GIO with GObject and GLib, opened when a power action is first requested instead of linked: a
// program that never asks the login manager for one does not load them, nor what they pull in, at
// its start. The functions the power actions call are resolved by name into one table typed by
// GIO's headers.
#pragma once

#include <gio/gio.h>

#include "platform/dynlib/function_table.h"

// The functions of each library that the power actions call (g_variant_new and g_variant_get are
// variadic).
#define SQ_GIO_FUNCTIONS(F) F(g_bus_get_sync) F(g_dbus_connection_call_sync)
#define SQ_GOBJECT_FUNCTIONS(F) F(g_object_unref)
#define SQ_GLIB_FUNCTIONS(F) F(g_variant_new) F(g_variant_get) F(g_variant_unref) F(g_error_free)

namespace platform {

// One member per function, under the function's own name and of its own type.
struct GioLib {
    SQ_GIO_FUNCTIONS(SQ_TABLE_FUNCTION)
    SQ_GOBJECT_FUNCTIONS(SQ_TABLE_FUNCTION)
    SQ_GLIB_FUNCTIONS(SQ_TABLE_FUNCTION)
};

// The libraries' table, opened on the first call and kept loaded (GIO's D-Bus connection and its
// worker thread live in them); null, after a line on standard error, when a library or one of its
// functions is missing (tried once).
const GioLib* GioLibrary();

}  // namespace platform
