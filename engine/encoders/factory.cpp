#include "engine/encoders/encoder.h"
#include "engine/encoders/library_encoders.h"
#include "engine/encoders/pcm_encoder.h"
#include "engine/encoders/tool_encoders.h"
#include "engine/prefs/prefstore.h"

namespace {

std::unique_ptr<CAudioEncoder> MakeForId(int id) {
    switch (id) {
        case kEncLame: return std::make_unique<CLameMP3>();
        case kEncVorbis: return std::make_unique<CVorbis>();
        case kEncNero: return std::make_unique<CNeroEncoder>();
        case kEncFaac: return std::make_unique<CFaac>();
        case kEncAacPlus: return std::make_unique<CAACPlus>();
        case kEncHelixMp3: return std::make_unique<CHelixMP3>();
        case kEncFiisMp3: return std::make_unique<CFIISMP3>();
        case kEncSpeex: return std::make_unique<CSpeex>();
        case kEncAmr: return std::make_unique<CAmr>();
        case kEncFFmpeg: return std::make_unique<CFFmpegAudioEncoder>();
        case kEncApe: return std::make_unique<CApe>();
        case kEncPcm: return std::make_unique<CPcm>();
        case kEncGeneric: return std::make_unique<CGeneric>();
        case kEncNull: return std::make_unique<CNullAudioEncoder>();
        default: return std::make_unique<CAudioEncoder>();
    }
}

}  // namespace

std::unique_ptr<CAudioEncoder> CreateAudioEncoder(int id) {
    if (id < 0) return nullptr;  // "no encoder chosen yet" is not an encoder
    auto encoder = MakeForId(id);
    encoder->SetName(GetPrefStore().GetEnumText("overall.audio.encoder", id));
    return encoder;
}
