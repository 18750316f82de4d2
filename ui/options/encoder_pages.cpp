#include "ui/options/encoder_pages.h"

#include "engine/engine_api.h"
#include "ui/ids.h"
#include "ui/options/option_tabs.h"

namespace ui {

using namespace gui;

namespace {

const char* Ui(const char* key) { return UiStrings().GetString(key, 0, key); }


// How a rate-mode page moves its slider and number box between two keys.
struct RateSpec {
    const char* modeKey;
    int slider, box;
    const char* bitrateKey;
    const char* qualityKey;
    bool (*bitrateMode)(int mode);
    int (*step)(int mode, bool bitrate);
    int unitLabel;                     // 0: none
    bool (*unitShown)(int mode, bool bitrate);
    bool fixedRanges;                  // bit rate 16..256 step 8, quality 10..500 step 50
};

bool NotZero(int mode) { return mode != 0; }
bool AboveZero(int mode) { return mode > 0; }
bool NotThree(int mode) { return mode != 3; }
bool UnitWithBitrate(int, bool bitrate) { return bitrate; }
bool UnitAboveZero(int mode, bool) { return mode > 0; }

class CRatePage : public COptionPage {
public:
    CRatePage(int templateId, const char* title, const ControlBinding* table, const RateSpec& spec)
        : COptionPage(templateId, title, false, table), spec_(spec) {}

    // Each request of the table follows the rate mode: both rows take the key of the mode, and the
    // slider its range and page step.
    ControlBinding* GetBindings() override {
        const int mode = GetPrefInt(spec_.modeKey);
        const bool bitrate = spec_.bitrateMode(mode);
        const char* key = bitrate ? spec_.bitrateKey : spec_.qualityKey;
        SetRowKey(spec_.slider, key);
        SetRowKey(spec_.box, key);
        if (hwnd_) {
            int lo = 0, hi = 0, step = spec_.step(mode, bitrate);
            if (spec_.fixedRanges) {
                lo = bitrate ? 16 : 10;
                hi = bitrate ? 256 : 500;
                step = bitrate ? 8 : 50;
            } else {
                KeyRange(key, lo, hi);
            }
            SendItemMessage(spec_.slider, TBM_SETRANGE, TRUE, MAKELPARAM(static_cast<unsigned>(lo), static_cast<unsigned>(hi)));
            SendItemMessage(spec_.slider, TBM_SETPAGESIZE, 0, step);
        }
        return rows_.data();
    }

    void RefreshStates() override {
        if (!spec_.unitLabel) return;
        const int mode = GetPrefInt(spec_.modeKey);
        ShowControl(GetItem(spec_.unitLabel), spec_.unitShown(mode, spec_.bitrateMode(mode)));
    }

protected:
    RateSpec spec_;
};

int LameStep(int, bool bitrate) { return bitrate ? 16 : 1; }

const ControlBinding kLame[] = {
    {dlg::enc_lame::preset, "audioenc.lame.preset", 0, kComboBox},
    {dlg::enc_lame::rate_slider, "audioenc.lame.quality", 0, kTrackbar},
    {dlg::enc_lame::rate_box, "audioenc.lame.quality", 0, kTextField},
    {dlg::enc_lame::mode, "audioenc.lame.mode", 0, kComboBox},
    {dlg::enc_lame::stereo, "audioenc.lame.stereo", 0, kComboBox},
    {dlg::enc_lame::multithreaded, "audioenc.lame.mt", 0, kCheckBox},
    {0, nullptr, 0, 0}};

class CDlgLameMP3 : public CRatePage {
public:
    CDlgLameMP3()
        : CRatePage(dlg::enc_lame::id, "LAME MP3", kLame,
                    {"audioenc.lame.mode", dlg::enc_lame::rate_slider, dlg::enc_lame::rate_box,
                     "audioenc.lame.bitrate", "audioenc.lame.quality", NotZero,
                     LameStep, 0, nullptr, false}) {}

    ControlBinding* GetBindings() override {
        ControlBinding* rows = CRatePage::GetBindings();
        // A preset decides everything else: the other rows wait until it is "None" again.
        if (hwnd_) {
            const bool free = GetPrefInt("audioenc.lame.preset") == 0;
            for (size_t i = 1; rows[i].id; ++i) EnableWindow(GetItem(static_cast<int>(rows[i].id)), free);
        }
        return rows;
    }

    void RefreshStates() override {
        const bool bitrate = GetPrefInt("audioenc.lame.mode") != 0;
        ShowControl(GetItem(dlg::enc_lame::highest_label), !bitrate);
        ShowControl(GetItem(dlg::enc_lame::lowest_label), !bitrate);
        ShowControl(GetItem(dlg::enc_lame::kbps_label), bitrate);
        SetItemText(dlg::enc_lame::rate_label, Ui(bitrate ? "bitrate" : "quality"));
    }
};

int Step16Or10(int, bool bitrate) { return bitrate ? 16 : 10; }
int Step8Or1(int, bool bitrate) { return bitrate ? 8 : 1; }
int Step16Or1(int, bool bitrate) { return bitrate ? 16 : 1; }
int QaacStep(int mode, bool) { return mode != 0 ? 16 : 1; }
int NoStep(int, bool) { return 1; }

const ControlBinding kVorbis[] = {
    {dlg::enc_vorbis::quality_mode, "audioenc.vorbis.mode", 0, kRadioButton},
    {dlg::enc_vorbis::bitrate_mode, "audioenc.vorbis.mode", 1, kRadioButton},
    {dlg::enc_vorbis::rate_slider, "audioenc.vorbis.quality", 0, kTrackbar},
    {dlg::enc_vorbis::rate_box, "audioenc.vorbis.quality", 0, kTextField},
    {0, nullptr, 0, 0}};
const ControlBinding kHelix[] = {
    {dlg::enc_helix::vbr, "audioenc.helixmp3.mode", 0, kRadioButton},
    {dlg::enc_helix::cbr, "audioenc.helixmp3.mode", 1, kRadioButton},
    {dlg::enc_helix::rate_slider, "audioenc.helixmp3.quality", 0, kTrackbar},
    {dlg::enc_helix::rate_box, "audioenc.helixmp3.quality", 0, kTextField},
    {dlg::enc_helix::stereo, "audioenc.helixmp3.stereo", 0, kComboBox},
    {0, nullptr, 0, 0}};
const ControlBinding kSpeex[] = {
    {dlg::enc_speex::mode, "audioenc.speex.mode", 0, kComboBox},
    {dlg::enc_speex::rate_slider, "audioenc.speex.quality", 0, kTrackbar},
    {dlg::enc_speex::rate_box, "audioenc.speex.quality", 0, kTextField},
    {dlg::enc_speex::bandwidth, "audioenc.speex.bandwidth", 0, kComboBox},
    {dlg::enc_speex::complexity_slider, "audioenc.speex.aq", 0, kTrackbar},
    {dlg::enc_speex::complexity_box, "audioenc.speex.aq", 0, kTextField},
    {dlg::enc_speex::denoise, "audioenc.speex.denoise", 0, kCheckBox},
    {dlg::enc_speex::agc, "audioenc.speex.agc", 0, kCheckBox},
    {dlg::enc_speex::dtx, "audioenc.speex.dtx", 0, kCheckBox},
    {dlg::enc_speex::vad, "audioenc.speex.vad", 0, kCheckBox},
    {0, nullptr, 0, 0}};
const ControlBinding kNero[] = {
    {dlg::enc_nero::mode, "audioenc.nero.mode", 0, kComboBox},
    {dlg::enc_nero::rate_slider, "audioenc.nero.quality", 0, kTrackbar},
    {dlg::enc_nero::rate_box, "audioenc.nero.quality", 0, kTextField},
    {dlg::enc_nero::hint_track, "audioenc.nero.hint", 0, kCheckBox},
    {dlg::enc_nero::auto_profile, "audioenc.nero.autoProfile", 0, kCheckBox},
    {0, nullptr, 0, 0}};
const ControlBinding kQaac[] = {
    {dlg::enc_qaac::mode, "audioenc.qaac.mode", 0, kComboBox},
    {dlg::enc_qaac::rate_slider, "audioenc.qaac.bitrate", 0, kTrackbar},
    {dlg::enc_qaac::rate_box, "audioenc.qaac.bitrate", 0, kTextField},
    {dlg::enc_qaac::alac, "audioenc.qaac.alac", 0, kCheckBox},
    {dlg::enc_qaac::adts, "audioenc.qaac.adts", 0, kCheckBox},
    {0, nullptr, 0, 0}};
const ControlBinding kFaac[] = {
    {dlg::enc_faac::quality_mode, "audioenc.faac.mode", 0, kRadioButton},
    {dlg::enc_faac::bitrate_mode, "audioenc.faac.mode", 1, kRadioButton},
    {dlg::enc_faac::rate_slider, "audioenc.faac.quality", 0, kTrackbar},
    {dlg::enc_faac::rate_box, "audioenc.faac.quality", 0, kTextField},
    {dlg::enc_faac::object_type, "audioenc.faac.object", 0, kComboBox},
    {dlg::enc_faac::mpeg2, "audioenc.faac.version", 0, kRadioButton},
    {dlg::enc_faac::mpeg4, "audioenc.faac.version", 1, kRadioButton},
    {dlg::enc_faac::container, "audioenc.faac.container", 0, kComboBox},
    {0, nullptr, 0, 0}};

// A rate-mode page whose "advanced" button opens the encoder's full settings.
constexpr int kAdvancedButton = dlg::enc_nero::advanced;
static_assert(dlg::enc_qaac::advanced == kAdvancedButton, "the rate pages with an advanced button share its id");

class CAdvancedRatePage : public CRatePage {
public:
    CAdvancedRatePage(int templateId, const char* title, const ControlBinding* table, const RateSpec& spec,
                      const char* settingsPrefix)
        : CRatePage(templateId, title, table, spec), prefix_(settingsPrefix) {}
    bool OnControlCommand(int id) override {
        if (id != kAdvancedButton) return false;
        OpenSettingsPage(prefix_, Ui("menu_settings"), 780, 600);
        return true;
    }

private:
    const char* prefix_;
};

// --- pages with fixed tables ---

class CFixedPage : public COptionPage {
public:
    CFixedPage(int templateId, const char* title, const ControlBinding* table, int slider = 0, int step = 0)
        : COptionPage(templateId, title, false, table), slider_(slider), step_(step) {}
    bool OnInitDialog() override {
        if (slider_) SendItemMessage(slider_, TBM_SETPAGESIZE, 0, step_);
        return true;
    }

private:
    int slider_, step_;
};

const ControlBinding kAacPlus[] = {
    {dlg::enc_aacplus::bitrate_slider, "audioenc.aacplus.bitrate", 0, kTrackbar},
    {dlg::enc_aacplus::bitrate_box, "audioenc.aacplus.bitrate", 0, kTextField},
    {dlg::enc_aacplus::mode, "audioenc.aacplus.mode", 0, kComboBox},
    {dlg::enc_aacplus::type, "audioenc.aacplus.type", 0, kComboBox},
    {dlg::enc_aacplus::version1, "audioenc.aacplus.v1", 0, kCheckBox},
    {dlg::enc_aacplus::mpeg2, "audioenc.aacplus.version", 0, kRadioButton},
    {dlg::enc_aacplus::mpeg4, "audioenc.aacplus.version", 1, kRadioButton},
    {0, nullptr, 0, 0}};

class CDlgAACPlus : public CFixedPage {
public:
    CDlgAACPlus() : CFixedPage(dlg::enc_aacplus::id, "CT AAC+", kAacPlus, dlg::enc_aacplus::bitrate_slider, 8) {}
    // The profile follows the bit rate: parametric stereo only up to 48 Kbps, the high-bit-rate
    // profile above 128 Kbps, plain LC above 256 Kbps.
    void RefreshStates() override {
        const auto b = static_cast<int>(SendItemMessage(dlg::enc_aacplus::bitrate_slider, TBM_GETPOS, 0, 0));
        if (b > 48 && GetPrefInt("audioenc.aacplus.mode") == 3) SetPrefInt("audioenc.aacplus.mode", 1);
        int type = GetPrefInt("audioenc.aacplus.type");
        if (b > 128) {
            if (type == 0) type = 2;
        } else if (type == 2) {
            type = 0;
        }
        if (b > 256) type = 1;
        SetPrefInt("audioenc.aacplus.type", type);
        SendItemMessage(dlg::enc_aacplus::type, CB_SETCURSEL, static_cast<WPARAM>(type), 0);
        const auto mode = static_cast<WPARAM>(GetPrefInt("audioenc.aacplus.mode"));
        SendItemMessage(dlg::enc_aacplus::mode, CB_SETCURSEL, mode, 0);
    }
};

const ControlBinding k3gpp[] = {
    {dlg::enc_3gpp::parametric_stereo, "audioenc.aac3gpp.ps", 0, kCheckBox},
    {dlg::enc_3gpp::bitrate_slider, "audioenc.aac3gpp.bitrate", 0, kTrackbar},
    {dlg::enc_3gpp::bitrate_box, "audioenc.aac3gpp.bitrate", 0, kTextField},
    {dlg::enc_3gpp::container, "audioenc.aac3gpp.container", 0, kComboBox},
    {0, nullptr, 0, 0}};
const ControlBinding kOpus[] = {
    {dlg::enc_opus::music, "audioenc.opus.optimize", 0, kRadioButton},
    {dlg::enc_opus::speech, "audioenc.opus.optimize", 1, kRadioButton},
    {dlg::enc_opus::bitrate_slider, "audioenc.opus.bitrate", 0, kTrackbar},
    {dlg::enc_opus::bitrate_box, "audioenc.opus.bitrate", 0, kTextField},
    {dlg::enc_opus::rate_mode, "audioenc.opus.ratemode", 0, kComboBox},
    {0, nullptr, 0, 0}};

class CDlgOpus : public CFixedPage {
public:
    CDlgOpus() : CFixedPage(dlg::enc_opus::id, "", kOpus) {}
    bool OnControlCommand(int id) override {
        if (id != dlg::enc_opus::advanced) return false;
        OpenSettingsPage("audioenc.opus", Ui("menu_settings"), 780, 600);
        return true;
    }
};

const ControlBinding kFfmpeg[] = {
    {dlg::enc_ffmpeg::bitrate_slider, "audioenc.ffmpeg.bitrate", 0, kTrackbar},
    {dlg::enc_ffmpeg::bitrate_box, "audioenc.ffmpeg.bitrate", 0, kTextField},
    {0, nullptr, 0, 0}};
const ControlBinding kFiis[] = {
    {dlg::enc_fiis::bitrate_slider, "audioenc.fraunhofer.bitrate", 0, kTrackbar},
    {dlg::enc_fiis::bitrate_box, "audioenc.fraunhofer.bitrate", 0, kTextField},
    {dlg::enc_fiis::mode, "audioenc.fraunhofer.mode", 0, kComboBox},
    {0, nullptr, 0, 0}};

class CDlgFIIS : public CFixedPage {
public:
    CDlgFIIS() : CFixedPage(dlg::enc_fiis::id, "Fraunhofer MP3", kFiis) {}
    void RefreshStates() override {
        const bool cbr = GetPrefInt("audioenc.fraunhofer.mode") == 0;
        EnableWindow(GetItem(dlg::enc_fiis::bitrate_box), cbr);
        EnableWindow(GetItem(dlg::enc_fiis::bitrate_slider), cbr);
    }
};

const ControlBinding kMusePack[] = {
    {dlg::enc_musepack::profile, "audioenc.musepack.profile", 0, kComboBox},
    {0, nullptr, 0, 0}};
const ControlBinding kAmr[] = {
    {dlg::enc_amr::narrowband_mode, "audioenc.amr.modenb", 0, kComboBox},
    {dlg::enc_amr::wideband_mode, "audioenc.amr.modewb", 0, kComboBox},
    {dlg::enc_amr::dtx, "audioenc.amr.dtx", 0, kCheckBox},
    {dlg::enc_amr::narrowband, "audioenc.amr.codec", 0, kRadioButton},
    {dlg::enc_amr::wideband, "audioenc.amr.codec", 1, kRadioButton},
    {0, nullptr, 0, 0}};

class CDlgAMR : public CFixedPage {
public:
    CDlgAMR() : CFixedPage(dlg::enc_amr::id, "AMR", kAmr) {}
    void RefreshStates() override {
        const bool wide = GetPrefInt("audioenc.amr.codec") == 1;
        EnableWindow(GetItem(dlg::enc_amr::narrowband_mode), !wide);
        EnableWindow(GetItem(dlg::enc_amr::wideband_mode), wide);
    }
    // The codec decides the sample rate and channels the encoder takes.
    bool OnControlCommand(int id) override {
        if (id != dlg::enc_amr::narrowband && id != dlg::enc_amr::wideband) return false;
        SetPrefInt("audiofilter.resample.samplerate", id == dlg::enc_amr::narrowband ? 8000 : 16000);
        SetPrefInt("overall.audio.channels", id == dlg::enc_amr::narrowband ? 1 : 4);
        AnnounceChange(1, 0);
        return true;
    }
};

const ControlBinding kWavPack[] = {
    {dlg::enc_wavpack::hybrid, "audioenc.wavpack.hybrid", 0, kCheckBox},
    {dlg::enc_wavpack::bitrate_slider, "audioenc.wavpack.bitrate", 0, kTrackbar},
    {dlg::enc_wavpack::bitrate_box, "audioenc.wavpack.bitrate", 0, kTextField},
    {dlg::enc_wavpack::correction_file, "audioenc.wavpack.correction", 0, kCheckBox},
    {dlg::enc_wavpack::best_compression, "audioenc.wavpack.best", 0, kCheckBox},
    {0, nullptr, 0, 0}};

class CDlgWavPack : public CFixedPage {
public:
    CDlgWavPack() : CFixedPage(dlg::enc_wavpack::id, "WavPack", kWavPack) {}
    void RefreshStates() override {
        const bool hybrid = GetPrefInt("audioenc.wavpack.hybrid") != 0;
        for (int id : {dlg::enc_wavpack::bitrate_slider, dlg::enc_wavpack::correction_file, dlg::enc_wavpack::bitrate_box})
            EnableWindow(GetItem(id), hybrid);
    }
};

const ControlBinding kFlac[] = {
    {dlg::enc_flac::level_slider, "audioenc.flac.level", 0, kTrackbar},
    {dlg::enc_flac::level_box, "audioenc.flac.level", 0, kTextField},
    {dlg::enc_flac::exhaustive, "audioenc.flac.exhaustive", 0, kCheckBox},
    {0, nullptr, 0, 0}};
const ControlBinding kApe[] = {{dlg::enc_ape::level, "audioenc.ape.level", 0, kComboBox}, {0, nullptr, 0, 0}};
const ControlBinding kAls[] = {
    {dlg::enc_als::adaptive, "audioenc.als.adaptive", 0, kCheckBox},
    {dlg::enc_als::dual_stereo, "audioenc.als.dualStereo", 0, kCheckBox},
    {dlg::enc_als::ltp, "audioenc.als.ltp", 0, kCheckBox},
    {dlg::enc_als::rlsmls, "audioenc.als.rlsmls", 0, kComboBox},
    {0, nullptr, 0, 0}};
const ControlBinding kPcm[] = {
    {dlg::enc_pcm::wave_file, "audioenc.pcm.format", 0, kRadioButton},
    {dlg::enc_pcm::raw_file, "audioenc.pcm.format", 1, kRadioButton},
    {0, nullptr, 0, 0}};
const ControlBinding kCli[] = {
    {dlg::enc_cli::stdin_input, "audioenc.cli.stdin", 0, kCheckBox},
    {dlg::enc_cli::pcm_input, "audioenc.cli.pcm", 0, kCheckBox},
    {dlg::enc_cli::command, "audioenc.cli.command", 0, kTextField},
    {dlg::enc_cli::extension, "audioenc.cli.fileext", 0, kTextField},
    {0, nullptr, 0, 0}};
const ControlBinding kNone[] = {{0, nullptr, 0, 0}};

// An encoder without basic settings: any command opens the encoder settings.
class CDlgNull : public COptionPage {
public:
    explicit CDlgNull(const char* name) : COptionPage(dlg::enc_none::id, name, false, kNone) {}
    bool OnControlCommand(int) override {
        OpenSettingsPage("audioenc", "Audio Encoder", 800, 600);
        return true;
    }
};

}  // namespace

COptionPage* CreateEncoderPage(int index) {
    switch (index) {
    case 0: return CreateSummaryPage();
    case 1: return new CDlgLameMP3();
    case 2:
        return new CRatePage(dlg::enc_vorbis::id, "Vorbis", kVorbis,
                             {"audioenc.vorbis.mode", dlg::enc_vorbis::rate_slider, dlg::enc_vorbis::rate_box,
                              "audioenc.vorbis.bitrate", "audioenc.vorbis.quality",
                              NotZero, Step16Or10, dlg::enc_vorbis::kbps_label, UnitWithBitrate, false});
    case 3:
        return new CAdvancedRatePage(dlg::enc_nero::id, "Nero", kNero,
                                     {"audioenc.nero.mode", dlg::enc_nero::rate_slider, dlg::enc_nero::rate_box,
                                      "audioenc.nero.bitrate", "audioenc.nero.quality",
                                      AboveZero, Step16Or1, dlg::enc_nero::kbps_label, UnitWithBitrate, false},
                                     "audioenc.nero");
    case 4:
        return new CAdvancedRatePage(dlg::enc_qaac::id, "QAAC", kQaac,
                                     {"audioenc.qaac.mode", dlg::enc_qaac::rate_slider, dlg::enc_qaac::rate_box,
                                      "audioenc.qaac.bitrate", "audioenc.qaac.quality",
                                      NotThree, QaacStep, dlg::enc_qaac::kbps_label, UnitWithBitrate, false},
                                     "audioenc.qaac");
    case 5:
        return new CRatePage(dlg::enc_faac::id, "FAAC", kFaac,
                             {"audioenc.faac.mode", dlg::enc_faac::rate_slider, dlg::enc_faac::rate_box,
                              "audioenc.faac.bitrate", "audioenc.faac.quality", NotZero,
                              NoStep, 0, nullptr, true});
    case 6: return new CDlgAACPlus();
    case 7: return new CFixedPage(dlg::enc_3gpp::id, "3GPP AAC+", k3gpp);
    case 8: return new CDlgOpus();
    case 10:
        return new CRatePage(dlg::enc_helix::id, "Helix MP3", kHelix,
                             {"audioenc.helixmp3.mode", dlg::enc_helix::rate_slider, dlg::enc_helix::rate_box,
                              "audioenc.helixmp3.bitrate",
                              "audioenc.helixmp3.quality", AboveZero, Step16Or10, dlg::enc_helix::kbps_label, UnitWithBitrate, false});
    case 11: return new CDlgFIIS();
    case 12: return new CFixedPage(dlg::enc_musepack::id, "MusePack", kMusePack);
    case 13:
        return new CRatePage(dlg::enc_speex::id, "Speex", kSpeex,
                             {"audioenc.speex.mode", dlg::enc_speex::rate_slider, dlg::enc_speex::rate_box,
                              "audioenc.speex.bitrate", "audioenc.speex.quality",
                              NotZero, Step8Or1, dlg::enc_speex::kbps_label, UnitAboveZero, false});
    case 14: return new CDlgAMR();
    case 15: return new CFixedPage(dlg::enc_ffmpeg::id, "FFMPEG", kFfmpeg, dlg::enc_ffmpeg::bitrate_slider, 64);
    case 17: return new CDlgWavPack();
    case 18: return new CFixedPage(dlg::enc_flac::id, "FLAC", kFlac);
    case 19: return new CFixedPage(dlg::enc_ape::id, "APE", kApe);
    case 21: return new CFixedPage(dlg::enc_als::id, "ALS", kAls);
    case 23: return new CFixedPage(dlg::enc_pcm::id, "PCM", kPcm);
    case 25: return new CFixedPage(dlg::enc_cli::id, "CLI", kCli);
    default: break;
    }
    if (index < 0) return nullptr;
    const char* name = GetPrefEnumText("overall.audio.encoder", index - 1);
    return new CDlgNull(name ? name : "");
}

const std::vector<int>& EncoderPageTemplates() {
    static const std::vector<int> ids = {
        dlg::enc_lame::id,    dlg::enc_vorbis::id,   dlg::enc_nero::id, dlg::enc_qaac::id,     dlg::enc_faac::id,
        dlg::enc_aacplus::id, dlg::enc_3gpp::id,     dlg::enc_opus::id, dlg::enc_helix::id,    dlg::enc_fiis::id,
        dlg::enc_musepack::id, dlg::enc_speex::id,   dlg::enc_amr::id,  dlg::enc_ffmpeg::id,   dlg::enc_wavpack::id,
        dlg::enc_flac::id,    dlg::enc_ape::id,      dlg::enc_als::id,  dlg::enc_pcm::id,      dlg::enc_cli::id,
        dlg::enc_none::id};
    return ids;
}

}  // namespace ui
