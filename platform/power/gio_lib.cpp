#include "platform/power/gio_lib.h"

namespace platform {

namespace {

const GioLib* Load() {
    static GioLib gio;
    FunctionTableLoader loader("power");
#define SQ_GIO_RESOLVE(name) loader.Resolve(#name, gio.name);
    loader.Open("libgio-2.0.so.0");
    SQ_GIO_FUNCTIONS(SQ_GIO_RESOLVE)
    loader.Open("libgobject-2.0.so.0");
    SQ_GOBJECT_FUNCTIONS(SQ_GIO_RESOLVE)
    loader.Open("libglib-2.0.so.0");
    SQ_GLIB_FUNCTIONS(SQ_GIO_RESOLVE)
#undef SQ_GIO_RESOLVE
    return loader.Finish() ? &gio : nullptr;
}

}  // namespace

const GioLib* GioLibrary() {
    static const GioLib* const gio = Load();
    return gio;
}

}  // namespace platform
