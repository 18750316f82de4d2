// PulseAudio's client libraries, opened when a capture first asks for the sound server instead of
// linked: a program that never lists or records its sources does not load them, nor what they pull
// in (Xlib, libsndfile and its codecs, D-Bus), at its start. The functions capture calls are
// resolved by name into one table typed by PulseAudio's headers.
#pragma once

#include <pulse/error.h>
#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

#include "platform/dynlib/function_table.h"

// The functions of each library that capture calls.
#define SQ_PULSE_SIMPLE_FUNCTIONS(F) F(pa_simple_new) F(pa_simple_read) F(pa_simple_free)
#define SQ_PULSE_FUNCTIONS(F)                                                                                      \
    F(pa_mainloop_new) F(pa_mainloop_get_api) F(pa_mainloop_iterate) F(pa_mainloop_free) F(pa_context_new)        \
    F(pa_context_connect) F(pa_context_get_state) F(pa_context_get_source_info_list) F(pa_context_disconnect)     \
    F(pa_context_unref) F(pa_operation_unref) F(pa_strerror) F(pa_usec_to_bytes)

namespace platform::capture {

// One member per function, under the function's own name and of its own type.
struct PulseLib {
    SQ_PULSE_SIMPLE_FUNCTIONS(SQ_TABLE_FUNCTION)
    SQ_PULSE_FUNCTIONS(SQ_TABLE_FUNCTION)
};

// The libraries' table, opened on the first call and kept loaded; null, after a line on standard
// error, when a library or one of its functions is missing (tried once).
const PulseLib* PulseLibrary();

}  // namespace platform::capture
