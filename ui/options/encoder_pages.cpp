#include "ui/options/encoder_pages.h"

#include "engine/engine_api.h"
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
    {1109, "audioenc.lame.preset", 0, kComboBox}, {1004, "audioenc.lame.quality", 0, kTrackbar},
    {1007, "audioenc.lame.quality", 0, kTextField}, {1046, "audioenc.lame.mode", 0, kComboBox},
    {1048, "audioenc.lame.stereo", 0, kComboBox},   {1066, "audioenc.lame.mt", 0, kCheckBox},
    {0, nullptr, 0, 0}};

class CDlgLameMP3 : public CRatePage {
public:
    CDlgLameMP3()
        : CRatePage(102, "LAME MP3", kLame,
                    {"audioenc.lame.mode", 1004, 1007, "audioenc.lame.bitrate", "audioenc.lame.quality", NotZero,
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
        ShowControl(GetItem(1010), !bitrate);
        ShowControl(GetItem(1009), !bitrate);
        ShowControl(GetItem(1014), bitrate);
        SetItemText(1051, Ui(bitrate ? "bitrate" : "quality"));
    }
};

int Step16Or10(int, bool bitrate) { return bitrate ? 16 : 10; }
int Step8Or1(int, bool bitrate) { return bitrate ? 8 : 1; }
int Step16Or1(int, bool bitrate) { return bitrate ? 16 : 1; }
int QaacStep(int mode, bool) { return mode != 0 ? 16 : 1; }
int NoStep(int, bool) { return 1; }

const ControlBinding kVorbis[] = {{1050, "audioenc.vorbis.mode", 0, kRadioButton},
                                  {1049, "audioenc.vorbis.mode", 1, kRadioButton},
                                  {1052, "audioenc.vorbis.quality", 0, kTrackbar},
                                  {1051, "audioenc.vorbis.quality", 0, kTextField},
                                  {0, nullptr, 0, 0}};
const ControlBinding kHelix[] = {{1098, "audioenc.helixmp3.mode", 0, kRadioButton},
                                 {1099, "audioenc.helixmp3.mode", 1, kRadioButton},
                                 {1052, "audioenc.helixmp3.quality", 0, kTrackbar},
                                 {1051, "audioenc.helixmp3.quality", 0, kTextField},
                                 {1048, "audioenc.helixmp3.stereo", 0, kComboBox},
                                 {0, nullptr, 0, 0}};
const ControlBinding kSpeex[] = {{1072, "audioenc.speex.mode", 0, kComboBox},
                                 {1052, "audioenc.speex.quality", 0, kTrackbar},
                                 {1051, "audioenc.speex.quality", 0, kTextField},
                                 {1073, "audioenc.speex.bandwidth", 0, kComboBox},
                                 {1006, "audioenc.speex.aq", 0, kTrackbar},
                                 {1017, "audioenc.speex.aq", 0, kTextField},
                                 {1132, "audioenc.speex.denoise", 0, kCheckBox},
                                 {1131, "audioenc.speex.agc", 0, kCheckBox},
                                 {1133, "audioenc.speex.dtx", 0, kCheckBox},
                                 {1135, "audioenc.speex.vad", 0, kCheckBox},
                                 {0, nullptr, 0, 0}};
const ControlBinding kNero[] = {{1073, "audioenc.nero.mode", 0, kComboBox},
                                {1084, "audioenc.nero.quality", 0, kTrackbar},
                                {1051, "audioenc.nero.quality", 0, kTextField},
                                {1101, "audioenc.nero.hint", 0, kCheckBox},
                                {1088, "audioenc.nero.autoProfile", 0, kCheckBox},
                                {0, nullptr, 0, 0}};
const ControlBinding kQaac[] = {{1073, "audioenc.qaac.mode", 0, kComboBox},
                                {1084, "audioenc.qaac.bitrate", 0, kTrackbar},
                                {1051, "audioenc.qaac.bitrate", 0, kTextField},
                                {1317, "audioenc.qaac.alac", 0, kCheckBox},
                                {1318, "audioenc.qaac.adts", 0, kCheckBox},
                                {0, nullptr, 0, 0}};
const ControlBinding kFaac[] = {{1050, "audioenc.faac.mode", 0, kRadioButton},
                                {1049, "audioenc.faac.mode", 1, kRadioButton},
                                {1052, "audioenc.faac.quality", 0, kTrackbar},
                                {1051, "audioenc.faac.quality", 0, kTextField},
                                {1072, "audioenc.faac.object", 0, kComboBox},
                                {1054, "audioenc.faac.version", 0, kRadioButton},
                                {1055, "audioenc.faac.version", 1, kRadioButton},
                                {1166, "audioenc.faac.container", 0, kComboBox},
                                {0, nullptr, 0, 0}};

// A rate-mode page whose "advanced" button opens the encoder's full settings.
class CAdvancedRatePage : public CRatePage {
public:
    CAdvancedRatePage(int templateId, const char* title, const ControlBinding* table, const RateSpec& spec,
                      const char* settingsPrefix)
        : CRatePage(templateId, title, table, spec), prefix_(settingsPrefix) {}
    bool OnControlCommand(int id) override {
        if (id != 1259) return false;
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

const ControlBinding kAacPlus[] = {{1052, "audioenc.aacplus.bitrate", 0, kTrackbar},
                                   {1051, "audioenc.aacplus.bitrate", 0, kTextField},
                                   {1072, "audioenc.aacplus.mode", 0, kComboBox},
                                   {1073, "audioenc.aacplus.type", 0, kComboBox},
                                   {1066, "audioenc.aacplus.v1", 0, kCheckBox},
                                   {1054, "audioenc.aacplus.version", 0, kRadioButton},
                                   {1055, "audioenc.aacplus.version", 1, kRadioButton},
                                   {0, nullptr, 0, 0}};

class CDlgAACPlus : public CFixedPage {
public:
    CDlgAACPlus() : CFixedPage(145, "CT AAC+", kAacPlus, 1052, 8) {}
    // The profile follows the bit rate: parametric stereo only up to 48 Kbps, the high-bit-rate
    // profile above 128 Kbps, plain LC above 256 Kbps.
    void RefreshStates() override {
        const auto b = static_cast<int>(SendItemMessage(1052, TBM_GETPOS, 0, 0));
        if (b > 48 && GetPrefInt("audioenc.aacplus.mode") == 3) SetPrefInt("audioenc.aacplus.mode", 1);
        int type = GetPrefInt("audioenc.aacplus.type");
        if (b > 128) {
            if (type == 0) type = 2;
        } else if (type == 2) {
            type = 0;
        }
        if (b > 256) type = 1;
        SetPrefInt("audioenc.aacplus.type", type);
        SendItemMessage(1073, CB_SETCURSEL, static_cast<WPARAM>(type), 0);
        SendItemMessage(1072, CB_SETCURSEL, static_cast<WPARAM>(GetPrefInt("audioenc.aacplus.mode")), 0);
    }
};

const ControlBinding k3gpp[] = {{1066, "audioenc.aac3gpp.ps", 0, kCheckBox},
                                {1084, "audioenc.aac3gpp.bitrate", 0, kTrackbar},
                                {1051, "audioenc.aac3gpp.bitrate", 0, kTextField},
                                {1166, "audioenc.aac3gpp.container", 0, kComboBox},
                                {0, nullptr, 0, 0}};
const ControlBinding kOpus[] = {{1112, "audioenc.opus.optimize", 0, kRadioButton},
                                {1113, "audioenc.opus.optimize", 1, kRadioButton},
                                {1004, "audioenc.opus.bitrate", 0, kTrackbar},
                                {1007, "audioenc.opus.bitrate", 0, kTextField},
                                {1046, "audioenc.opus.ratemode", 0, kComboBox},
                                {0, nullptr, 0, 0}};

class CDlgOpus : public CFixedPage {
public:
    CDlgOpus() : CFixedPage(335, "", kOpus) {}
    bool OnControlCommand(int id) override {
        if (id != 1259) return false;
        OpenSettingsPage("audioenc.opus", Ui("menu_settings"), 780, 600);
        return true;
    }
};

const ControlBinding kFfmpeg[] = {{1084, "audioenc.ffmpeg.bitrate", 0, kTrackbar},
                                  {1051, "audioenc.ffmpeg.bitrate", 0, kTextField},
                                  {0, nullptr, 0, 0}};
const ControlBinding kFiis[] = {{1052, "audioenc.fraunhofer.bitrate", 0, kTrackbar},
                                {1051, "audioenc.fraunhofer.bitrate", 0, kTextField},
                                {1072, "audioenc.fraunhofer.mode", 0, kComboBox},
                                {0, nullptr, 0, 0}};

class CDlgFIIS : public CFixedPage {
public:
    CDlgFIIS() : CFixedPage(298, "Fraunhofer MP3", kFiis) {}
    void RefreshStates() override {
        const bool cbr = GetPrefInt("audioenc.fraunhofer.mode") == 0;
        EnableWindow(GetItem(1051), cbr);
        EnableWindow(GetItem(1052), cbr);
    }
};

const ControlBinding kMusePack[] = {{1072, "audioenc.musepack.profile", 0, kComboBox}, {0, nullptr, 0, 0}};
const ControlBinding kAmr[] = {{1051, "audioenc.amr.modenb", 0, kComboBox},
                               {1052, "audioenc.amr.modewb", 0, kComboBox},
                               {1066, "audioenc.amr.dtx", 0, kCheckBox},
                               {1112, "audioenc.amr.codec", 0, kRadioButton},
                               {1113, "audioenc.amr.codec", 1, kRadioButton},
                               {0, nullptr, 0, 0}};

class CDlgAMR : public CFixedPage {
public:
    CDlgAMR() : CFixedPage(205, "AMR", kAmr) {}
    void RefreshStates() override {
        const bool wide = GetPrefInt("audioenc.amr.codec") == 1;
        EnableWindow(GetItem(1051), !wide);
        EnableWindow(GetItem(1052), wide);
    }
    // The codec decides the sample rate and channels the encoder takes.
    bool OnControlCommand(int id) override {
        if (id != 1112 && id != 1113) return false;
        SetPrefInt("audiofilter.resample.samplerate", id == 1112 ? 8000 : 16000);
        SetPrefInt("overall.audio.channels", id == 1112 ? 1 : 4);
        AnnounceChange(1, 0);
        return true;
    }
};

const ControlBinding kWavPack[] = {{1066, "audioenc.wavpack.hybrid", 0, kCheckBox},
                                   {1084, "audioenc.wavpack.bitrate", 0, kTrackbar},
                                   {1051, "audioenc.wavpack.bitrate", 0, kTextField},
                                   {1094, "audioenc.wavpack.correction", 0, kCheckBox},
                                   {1093, "audioenc.wavpack.best", 0, kCheckBox},
                                   {0, nullptr, 0, 0}};

class CDlgWavPack : public CFixedPage {
public:
    CDlgWavPack() : CFixedPage(153, "WavPack", kWavPack) {}
    void RefreshStates() override {
        const bool hybrid = GetPrefInt("audioenc.wavpack.hybrid") != 0;
        for (int id : {1084, 1094, 1051}) EnableWindow(GetItem(id), hybrid);
    }
};

const ControlBinding kFlac[] = {{1084, "audioenc.flac.level", 0, kTrackbar},
                                {1101, "audioenc.flac.level", 0, kTextField},
                                {1066, "audioenc.flac.exhaustive", 0, kCheckBox},
                                {0, nullptr, 0, 0}};
const ControlBinding kApe[] = {{1084, "audioenc.ape.level", 0, kComboBox}, {0, nullptr, 0, 0}};
const ControlBinding kAls[] = {{1066, "audioenc.als.adaptive", 0, kCheckBox},
                               {1160, "audioenc.als.dualStereo", 0, kCheckBox},
                               {1101, "audioenc.als.ltp", 0, kCheckBox},
                               {1072, "audioenc.als.rlsmls", 0, kComboBox},
                               {0, nullptr, 0, 0}};
const ControlBinding kPcm[] = {{1112, "audioenc.pcm.format", 0, kRadioButton},
                               {1113, "audioenc.pcm.format", 1, kRadioButton},
                               {0, nullptr, 0, 0}};
const ControlBinding kCli[] = {{1066, "audioenc.cli.stdin", 0, kCheckBox},
                               {1067, "audioenc.cli.pcm", 0, kCheckBox},
                               {1090, "audioenc.cli.command", 0, kTextField},
                               {1070, "audioenc.cli.fileext", 0, kTextField},
                               {0, nullptr, 0, 0}};
const ControlBinding kNone[] = {{0, nullptr, 0, 0}};

// An encoder without basic settings: any command opens the encoder settings.
class CDlgNull : public COptionPage {
public:
    explicit CDlgNull(const char* name) : COptionPage(239, name, false, kNone) {}
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
        return new CRatePage(105, "Vorbis", kVorbis,
                             {"audioenc.vorbis.mode", 1052, 1051, "audioenc.vorbis.bitrate", "audioenc.vorbis.quality",
                              NotZero, Step16Or10, 1013, UnitWithBitrate, false});
    case 3:
        return new CAdvancedRatePage(232, "Nero", kNero,
                                     {"audioenc.nero.mode", 1084, 1051, "audioenc.nero.bitrate", "audioenc.nero.quality",
                                      AboveZero, Step16Or1, 1013, UnitWithBitrate, false},
                                     "audioenc.nero");
    case 4:
        return new CAdvancedRatePage(336, "QAAC", kQaac,
                                     {"audioenc.qaac.mode", 1084, 1051, "audioenc.qaac.bitrate", "audioenc.qaac.quality",
                                      NotThree, QaacStep, 1013, UnitWithBitrate, false},
                                     "audioenc.qaac");
    case 5:
        return new CRatePage(103, "FAAC", kFaac,
                             {"audioenc.faac.mode", 1052, 1051, "audioenc.faac.bitrate", "audioenc.faac.quality", NotZero,
                              NoStep, 0, nullptr, true});
    case 6: return new CDlgAACPlus();
    case 7: return new CFixedPage(203, "3GPP AAC+", k3gpp);
    case 8: return new CDlgOpus();
    case 10:
        return new CRatePage(202, "Helix MP3", kHelix,
                             {"audioenc.helixmp3.mode", 1052, 1051, "audioenc.helixmp3.bitrate",
                              "audioenc.helixmp3.quality", AboveZero, Step16Or10, 1013, UnitWithBitrate, false});
    case 11: return new CDlgFIIS();
    case 12: return new CFixedPage(299, "MusePack", kMusePack);
    case 13:
        return new CRatePage(300, "Speex", kSpeex,
                             {"audioenc.speex.mode", 1052, 1051, "audioenc.speex.bitrate", "audioenc.speex.quality",
                              NotZero, Step8Or1, 1013, UnitAboveZero, false});
    case 14: return new CDlgAMR();
    case 15: return new CFixedPage(204, "FFMPEG", kFfmpeg, 1084, 64);
    case 17: return new CDlgWavPack();
    case 18: return new CFixedPage(151, "FLAC", kFlac);
    case 19: return new CFixedPage(154, "APE", kApe);
    case 21: return new CFixedPage(229, "ALS", kAls);
    case 23: return new CFixedPage(230, "PCM", kPcm);
    case 25: return new CFixedPage(149, "CLI", kCli);
    default: break;
    }
    if (index < 0) return nullptr;
    const char* name = GetPrefEnumText("overall.audio.encoder", index - 1);
    return new CDlgNull(name ? name : "");
}

const std::vector<int>& EncoderPageTemplates() {
    static const std::vector<int> ids = {102, 105, 232, 336, 103, 145, 203, 335, 202, 298, 299,
                                         300, 205, 204, 153, 151, 154, 229, 230, 149, 239};
    return ids;
}

}  // namespace ui
