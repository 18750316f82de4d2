#include "platform/mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>

namespace platform {

namespace {

// An open mixer with its "Master" element; closes itself.
class MasterMixer {
public:
    explicit MasterMixer(const char* card) {
        if (!card || !*card) return;
        if (snd_mixer_open(&handle_, 0) < 0) {
            handle_ = nullptr;
            return;
        }
        if (snd_mixer_attach(handle_, card) < 0 || snd_mixer_selem_register(handle_, nullptr, nullptr) < 0 ||
            snd_mixer_load(handle_) < 0)
            return;
        snd_mixer_selem_id_t* id = nullptr;
        if (snd_mixer_selem_id_malloc(&id) < 0) return;
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_selem_id_set_name(id, "Master");
        snd_mixer_elem_t* e = snd_mixer_find_selem(handle_, id);
        snd_mixer_selem_id_free(id);
        if (e && snd_mixer_selem_has_playback_volume(e) &&
            snd_mixer_selem_get_playback_volume_range(e, &min_, &max_) == 0 && max_ > min_)
            elem_ = e;
    }
    ~MasterMixer() {
        if (handle_) snd_mixer_close(handle_);
    }
    MasterMixer(const MasterMixer&) = delete;
    MasterMixer& operator=(const MasterMixer&) = delete;

    snd_mixer_elem_t* elem() const { return elem_; }
    long min() const { return min_; }
    long max() const { return max_; }

private:
    snd_mixer_t* handle_ = nullptr;
    snd_mixer_elem_t* elem_ = nullptr;
    long min_ = 0, max_ = 0;
};

}  // namespace

int GetMasterVolume(const char* card) {
    MasterMixer m(card);
    if (!m.elem()) return -1;
    long v = 0;
    if (snd_mixer_selem_get_playback_volume(m.elem(), SND_MIXER_SCHN_FRONT_LEFT, &v) < 0) return -1;
    v = std::clamp(v, m.min(), m.max());
    const long long span = m.max() - m.min();
    return static_cast<int>(((v - m.min()) * static_cast<long long>(kVolumeMax) + span / 2) / span);
}

bool SetMasterVolume(int volume, const char* card) {
    MasterMixer m(card);
    if (!m.elem()) return false;
    volume = std::clamp(volume, 0, kVolumeMax);
    const long long span = m.max() - m.min();
    const long v = m.min() + static_cast<long>((volume * span + kVolumeMax / 2) / kVolumeMax);
    return snd_mixer_selem_set_playback_volume_all(m.elem(), v) == 0;
}

}  // namespace platform
