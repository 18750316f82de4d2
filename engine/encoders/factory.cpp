#include "engine/encoders/encoder.h"
#include "engine/prefs/prefstore.h"

std::unique_ptr<CAudioEncoder> CreateAudioEncoder(int id) {
    if (id < 0) return nullptr;  // "no encoder chosen yet" is not an encoder
    auto encoder = std::make_unique<CAudioEncoder>();
    encoder->SetName(GetPrefStore().GetEnumText("overall.audio.encoder", id));
    return encoder;
}
