#include <cmath>
#include <cstring>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"

#include "engine/devices/capture_source.h"
#include "engine/devices/cd_source.h"
#include "engine/sources/avs_source.h"
#include "engine/sources/decoder_sources.h"
#include "engine/sources/winamp_host.h"
#include "engine/sources/wave_sources.h"

std::unique_ptr<CAudioSource> CreateAudioSource(int id) {
    switch (id) {
        case kSourceDefault: return std::make_unique<CAudioSource>();
        case kSourceMplayer: return std::make_unique<CMplayerSource>();
        case kSourceMencoder: return std::make_unique<CMEncoderAudioSource>();
        case kSourceFFmpeg: return std::make_unique<CFFmpegAudioSource>();
        case kSourceWinamp: return std::make_unique<CWinampInput>();
        case kSourceAvs: return std::make_unique<CAvsAudioSource>();
        case kSourceCapture: return std::make_unique<CAudioCapSource>();
        case kSourceLame: return std::make_unique<CLameDecoder>();
        case kSourceFlac: return std::make_unique<CFLACDecoder>();
        case kSourceWavPack: return std::make_unique<CWavPackDecoder>();
        case kSourceApe: return std::make_unique<CAPEDecoder>();
        case kSourceWaveFile: return std::make_unique<CWaveFileSource>();
        case kSourceMultiWave: return std::make_unique<CMultiWaveFileSource>();
        case kSourceCdAudio: return std::make_unique<CCDAudioSource>();
        default: return nullptr;
    }
}

int ChooseSourceId(const AudioTask* task, bool copyAudio) {
    PrefStore& prefs = GetPrefStore();
    if (prefs.GetInt("overall.audio.autoSource") == 0) return prefs.GetInt("overall.audio.source");
    if (copyAudio) return kSourceDefault;
    const QueueItem* item = task ? task->item : nullptr;
    if (!item || !item->audio) return kSourceMplayer;
    const uint32_t type = item->inputType ? item->inputType->typeId : 0;
    if (type == 42) return kSourceCdAudio;
    if (type == 50) return kSourceCapture;
    const int rate = prefs.GetInt("audiofilter.resample.samplerate");
    const float gain = prefs.GetFloat("audiofilter.volume.gain");
    if ((rate != 0 && static_cast<uint32_t>(rate) != item->audio->samplerate) || prefs.GetInt("audiofilter.volume.normalization") ||
        gain != 0.0f || std::isnan(gain))
        return kSourceMplayer;
    if (type == 20) return kSourceApe;
    if (type == 23) return kSourceWavPack;
    if (type == 47) return kSourceWaveFile;
    return kSourceMplayer;
}
