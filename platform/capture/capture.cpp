#include "platform/capture/capture.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/capture/pulse_lib.h"

namespace platform::capture {

namespace {

constexpr char kAlsaPrefix[] = "alsa:";
constexpr char kPulsePrefix[] = "pulse:";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string FirstLine(const char* text) {
    std::string s = text ? text : "";
    const size_t nl = s.find('\n');
    return nl == std::string::npos ? s : s.substr(0, nl);
}

void ListAlsaCards(std::vector<Endpoint>* out) {
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, ("hw:" + std::to_string(card)).c_str(), 0) < 0) continue;
        snd_ctl_card_info_t* info;
        snd_ctl_card_info_alloca(&info);
        std::string cardName = "Card " + std::to_string(card);
        if (snd_ctl_card_info(ctl, info) == 0) cardName = snd_ctl_card_info_get_name(info);
        int dev = -1;
        while (snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0) {
            snd_pcm_info_t* pcm;
            snd_pcm_info_alloca(&pcm);
            snd_pcm_info_set_device(pcm, static_cast<unsigned>(dev));
            snd_pcm_info_set_subdevice(pcm, 0);
            snd_pcm_info_set_stream(pcm, SND_PCM_STREAM_CAPTURE);
            if (snd_ctl_pcm_info(ctl, pcm) < 0) continue;
            out->push_back({cardName + ": " + snd_pcm_info_get_name(pcm),
                            std::string(kAlsaPrefix) + "plughw:" + std::to_string(card) + "," + std::to_string(dev)});
        }
        snd_ctl_close(ctl);
    }
}

// The PCMs of the ALSA configuration that are not bound to a card (those the card scan lists).
void ListAlsaPcms(std::vector<Endpoint>* out) {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) return;
    for (void** h = hints; *h; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* desc = snd_device_name_get_hint(*h, "DESC");
        char* ioid = snd_device_name_get_hint(*h, "IOID");
        if (name && desc && (!ioid || strcmp(ioid, "Input") == 0) && !strstr(name, "CARD="))
            out->push_back({FirstLine(desc), std::string(kAlsaPrefix) + name});
        free(name);
        free(desc);
        free(ioid);
    }
    snd_device_name_free_hint(hints);
}

// The PulseAudio sources, asked with a bounded wait; none when no server answers or PulseAudio's
// libraries cannot be loaded.
void ListPulseSources(std::vector<Endpoint>* out) {
    const PulseLib* pa = PulseLibrary();
    if (!pa) return;
    pa_mainloop* loop = pa->pa_mainloop_new();
    if (!loop) return;
    pa_context* context = pa->pa_context_new(pa->pa_mainloop_get_api(loop), "Sonquill");
    struct Listing {
        std::vector<Endpoint> found;
        bool done = false;
    } listing;
    if (context && pa->pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        pa_operation* op = nullptr;
        while (!listing.done && std::chrono::steady_clock::now() < deadline) {
            pa->pa_mainloop_iterate(loop, 0, nullptr);
            const pa_context_state_t state = pa->pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state)) break;
            if (state == PA_CONTEXT_READY && !op) {
                op = pa->pa_context_get_source_info_list(
                    context,
                    [](pa_context*, const pa_source_info* info, int eol, void* data) {
                        auto* l = static_cast<Listing*>(data);
                        if (eol) l->done = true;
                        else if (info) l->found.push_back({info->description ? info->description : info->name,
                                                           std::string(kPulsePrefix) + info->name});
                    },
                    &listing);
                if (!op) break;
            }
            if (!listing.done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (op) pa->pa_operation_unref(op);
        pa->pa_context_disconnect(context);
    }
    if (context) pa->pa_context_unref(context);
    pa->pa_mainloop_free(loop);
    if (listing.done) out->insert(out->end(), listing.found.begin(), listing.found.end());
}

class AlsaStream : public Stream {
public:
    AlsaStream(snd_pcm_t* pcm, const Format& format) : pcm_(pcm), format_(format) {}
    ~AlsaStream() override { snd_pcm_close(pcm_); }
    Format GetFormat() const override { return format_; }

    ReadResult Read(void* buffer, size_t bytes, int timeoutMs) override {
        const size_t frameBytes = format_.channels * format_.bits / 8;
        auto* out = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        bool first = true;
        while (done < bytes) {
            const int ready = snd_pcm_wait(pcm_, first ? timeoutMs : 1000);
            if (ready == 0) {
                if (first) return ReadResult::kTimeout;
                return ReadResult::kFailed;  // stopped delivering in the middle of a period
            }
            if (ready < 0 && snd_pcm_recover(pcm_, ready, 1) < 0) return ReadResult::kFailed;
            first = false;
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, out + done, (bytes - done) / frameBytes);
            if (got == -EAGAIN) continue;
            if (got < 0) {
                if (snd_pcm_recover(pcm_, static_cast<int>(got), 1) < 0) return ReadResult::kFailed;
                continue;
            }
            done += static_cast<size_t>(got) * frameBytes;
        }
        return ReadResult::kData;
    }

private:
    snd_pcm_t* pcm_;
    Format format_;
};

std::unique_ptr<Stream> OpenAlsa(const std::string& name, const Format& wanted, std::string* error) {
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (rc < 0) {
        if (error) *error = snd_strerror(rc);
        return nullptr;
    }
    Format format = wanted;
    unsigned rate = wanted.rate;
    snd_pcm_uframes_t period = rate / 10;
    snd_pcm_uframes_t buffer = period * 4;
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    rc = snd_pcm_hw_params_any(pcm, hw);
    if (rc >= 0) rc = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (rc >= 0) rc = snd_pcm_hw_params_set_format(pcm, hw, wanted.isFloat ? SND_PCM_FORMAT_FLOAT_LE : SND_PCM_FORMAT_S16_LE);
    if (rc >= 0) rc = snd_pcm_hw_params_set_channels_near(pcm, hw, &format.channels);
    if (rc >= 0) rc = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr);
    if (rc >= 0) rc = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
    if (rc >= 0) rc = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if (rc >= 0) rc = snd_pcm_hw_params(pcm, hw);
    if (rc >= 0) rc = snd_pcm_start(pcm);
    if (rc < 0) {
        if (error) *error = snd_strerror(rc);
        snd_pcm_close(pcm);
        return nullptr;
    }
    format.rate = rate;
    format.bits = wanted.isFloat ? 32 : 16;
    return std::make_unique<AlsaStream>(pcm, format);
}

class PulseStream : public Stream {
public:
    PulseStream(const PulseLib* pulse, pa_simple* s, const Format& format) : pulse_(pulse), simple_(s), format_(format) {}
    ~PulseStream() override { pulse_->pa_simple_free(simple_); }
    Format GetFormat() const override { return format_; }
    // The server paces the reads; a broken connection answers with an error at once.
    ReadResult Read(void* buffer, size_t bytes, int) override {
        int err = 0;
        return pulse_->pa_simple_read(simple_, buffer, bytes, &err) < 0 ? ReadResult::kFailed : ReadResult::kData;
    }

private:
    const PulseLib* pulse_;
    pa_simple* simple_;
    Format format_;
};

std::unique_ptr<Stream> OpenPulse(const std::string& source, const Format& wanted, std::string* error) {
    const PulseLib* pa = PulseLibrary();
    if (!pa) {
        if (error) *error = "PulseAudio's libraries cannot be loaded";
        return nullptr;
    }
    pa_sample_spec spec{};
    spec.format = wanted.isFloat ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S16LE;
    spec.rate = wanted.rate;
    spec.channels = static_cast<uint8_t>(wanted.channels);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa->pa_usec_to_bytes(100000, &spec));
    int err = 0;
    pa_simple* s = pa->pa_simple_new(nullptr, "Sonquill", PA_STREAM_RECORD, source.c_str(), "capture", &spec, nullptr, &attr, &err);
    if (!s) {
        if (error) *error = pa->pa_strerror(err);
        return nullptr;
    }
    Format format = wanted;
    format.bits = wanted.isFloat ? 32 : 16;
    return std::make_unique<PulseStream>(pa, s, format);
}

}  // namespace

std::vector<Endpoint> ListEndpoints() {
    std::vector<Endpoint> out;
    ListAlsaCards(&out);
    ListAlsaPcms(&out);
    ListPulseSources(&out);
    return out;
}

std::unique_ptr<Stream> OpenStream(const std::string& id, const Format& wanted, std::string* error) {
    if (StartsWith(id, kAlsaPrefix)) return OpenAlsa(id.substr(sizeof kAlsaPrefix - 1), wanted, error);
    if (StartsWith(id, kPulsePrefix)) return OpenPulse(id.substr(sizeof kPulsePrefix - 1), wanted, error);
    if (error) *error = "unknown capture endpoint";
    return nullptr;
}

}  // namespace platform::capture
