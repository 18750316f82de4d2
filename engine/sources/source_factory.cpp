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

namespace {

// True when "Output channels" or "Bit depth" asks for PCM other than what the file's own reader
// delivers: those readers (WAV file, APE, WavPack) pass the file's format through, so the
// conversion needs the player. An unknown stream format counts as different.
bool FormatSettingsNeedConversion(PrefStore& prefs, const AudioStreamInfo& stream, uint32_t type) {
    static const uint32_t kChannelsOfSetting[] = {0, 1, 1, 1, 2, 4, 6, 8};
    const int channelSetting = prefs.GetInt("overall.audio.channels");
    if (channelSetting >= 1 && channelSetting <= 7 && kChannelsOfSetting[channelSetting] != stream.channels) return true;
    static const uint32_t kBitsOfSetting[] = {0, 16, 24, 32};
    const int bitsSetting = prefs.GetInt("overall.audio.bitDepth");
    if (bitsSetting < 1 || bitsSetting > 3) return false;
    uint32_t delivered = stream.samplebits;
    if (type == 47 && (delivered == 8 || delivered == 32)) delivered = 16;  // the WAV reader widens these
    return kBitsOfSetting[bitsSetting] != delivered;
}

}  // namespace

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
    if ((type == 20 || type == 23 || type == 47) && FormatSettingsNeedConversion(prefs, *item->audio, type)) return kSourceMplayer;
    if (type == 20) return kSourceApe;
    if (type == 23) return kSourceWavPack;
    if (type == 47) return kSourceWaveFile;
    return kSourceMplayer;
}
