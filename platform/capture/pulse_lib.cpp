#include "platform/capture/pulse_lib.h"

namespace platform::capture {

namespace {

const PulseLib* Load() {
    static PulseLib pulse;
    FunctionTableLoader loader("capture");
#define SQ_PULSE_RESOLVE(name) loader.Resolve(#name, pulse.name);
    loader.Open("libpulse-simple.so.0");
    SQ_PULSE_SIMPLE_FUNCTIONS(SQ_PULSE_RESOLVE)
    loader.Open("libpulse.so.0");
    SQ_PULSE_FUNCTIONS(SQ_PULSE_RESOLVE)
#undef SQ_PULSE_RESOLVE
    return loader.Finish() ? &pulse : nullptr;
}

}  // namespace

const PulseLib* PulseLibrary() {
    static const PulseLib* const pulse = Load();
    return pulse;
}

}  // namespace platform::capture
