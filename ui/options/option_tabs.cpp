#include "ui/options/option_tabs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/jobs/jobdriver.h"
#include "platform/gui/shell.h"
#include "ui/filelist/file_list.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"
#include "ui/options/encoder_pages.h"

namespace ui {

using namespace gui;

namespace {

const char* Ui(const char* key) { return UiStrings().GetString(key, 0, key); }

std::string Format(const char* format, int value) {
    char text[256];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "ID: %d" for each audio track of an item.
std::vector<std::string> TrackTexts(const QueueItem* item) {
    std::vector<std::string> texts;
    for (const AudioStreamInfo* a = item ? item->audio : nullptr; a && texts.size() < 256; a = a->next)
        texts.push_back(Format("ID: %d", static_cast<int>(a->id)));
    return texts;
}

// ---------------------------------------------------------------------------------------------
// Audio tab

const ControlBinding kAudioRows[] = {
    {1164, "overall.audio.enabled", 0, kCheckBox},    {1074, "overall.audio.source", 0, kComboBox},
    {1072, "overall.audio.encoder", 0, kComboBox},    {1062, "overall.audio.format", 0, kComboBox},
    {1232, "overall.audio.autoSource", 0, kCheckBox}, {1233, "overall.audio.autoEncoder", 0, kCheckBox},
    {1068, "overall.audio.bitDepth", 0, kComboBox},   {1288, "overall.audio.replayGain", 0, kCheckBox},
    {0, nullptr, 0, 0}};

class CDlgAudio : public COptionTab {
public:
    CDlgAudio() : COptionTab(kAudioTabTemplate, "audio", true, kAudioRows) {}

    bool OnInitDialog() override {
        std::vector<std::string> rates = {Ui("original")};
        for (const std::string& r : SplitListText(GetPrefString("overall.presets.samplerate")))
            if (!r.empty()) rates.push_back(r + " Hz");
        FillCombo(GetItem(1067), rates);
        return true;
    }

    void RefreshStates() override {
        const int rate = GetPrefInt("audiofilter.resample.samplerate");
        if (rate == 0)
            SetComboSel(1067, 0);
        else
            SetItemText(1067, Format("%d Hz", rate).c_str());
        const bool enabled = GetPrefInt("overall.audio.enabled") != 0;
        for (size_t i = 1; rows_[i].id; ++i) EnableWindow(GetItem(static_cast<int>(rows_[i].id)), enabled);
        EnableWindow(GetItem(1067), enabled);
        EnableWindow(GetItem(1157), enabled);
        // Audio off greys them all; an automatic choice or a stream copy greys what it decides.
        const bool copy = GetPrefInt("overall.audio.copy") != 0;
        EnableWindow(GetItem(1074), enabled && GetPrefInt("overall.audio.autoSource") == 0);
        EnableWindow(GetItem(1067), enabled && !copy);
        EnableWindow(GetItem(1062), enabled && !copy);
        EnableWindow(GetItem(1072), enabled && GetPrefInt("overall.audio.autoEncoder") == 0);
        QueueItem* item = OptionsCurrentItem();
        if (!item) {
            SendItemMessage(1157, CB_RESETCONTENT, 0, 0);
            return;
        }
        const bool external = (item->flags.load() & kItemFlagSeparateAudio) != 0;
        if (external) {
            ++loading_;  // showing the path is no edit of it
            SetItemText(1273, item->audioFile ? item->audioFile : "");
            --loading_;
        } else if (enabled) {
            const std::vector<std::string> tracks = TrackTexts(item);
            FillCombo(GetItem(1157), tracks);
            const int aid = GetPrefInt("overall.decoding.aid");
            SetComboSel(1157, aid >= 0 && aid < static_cast<int>(tracks.size()) ? aid : 0);
            EnableWindow(GetItem(1067), !copy);
            EnableWindow(GetItem(1068), !copy);
        }
        ShowControl(GetItem(1273), external);
        ShowControl(GetItem(1157), !external);
    }

    bool OnControlSelChange(int id) override {
        switch (id) {
        case 1067: {
            long long rate = 0;
            if (GetComboSel(1067) > 0 && !LeadingNumber(GetComboText(1067, -1), rate)) return true;
            SetIntInRange("audiofilter.resample.samplerate", rate);
            AnnounceChange(1, 0);
            return true;
        }
        case 1068: AnnounceChange(1, 0); return true;
        case 1157:
            SetIntInRange("overall.decoding.aid", GetComboSel(1157));
            AnnounceChange(1, 0);
            return true;
        case 1072: EncoderChanged(); return true;
        case 1062: FormatChanged(); return true;
        default: return false;
        }
    }

    bool OnControlEditChange(int id) override {
        if (id == 1067) {
            // A typed rate is kept only when it is a rate the resampler takes.
            long long rate = 0;
            if (LeadingNumber(GetItemText(1067), rate) && rate > 0) SetIntInRange("audiofilter.resample.samplerate", rate);
            AnnounceChange(1, 6);
            return true;
        }
        if (id == 1273) {
            QueueItem* item = OptionsCurrentItem();
            // A worker reads the path while the item runs: it is not changed under it.
            if (item && !ItemBusy(item)) SetStringField(&item->audioFile, GetItemText(1273).c_str());
            AnnounceChange(1, 6);
            return true;
        }
        return false;
    }

    bool OnControlCommand(int id) override {
        switch (id) {
        case 1103: OpenSettingsPage("audiosrc", "Audio Source", 800, 600); return true;
        case 1137: OpenSettingsPage("audioenc", "Audio Encoder", 800, 600); return true;
        case 1138: OpenSettingsPage("audiofilter.resample", Ui("menu_settings"), 780, 600); return true;
        default: return false;
        }
    }

    COptionPage* CreateSubPage(int index, HWND tabControl) override {
        if (index < 0 && tabControl) {
            SendMessageA(tabControl, TCM_DELETEALLITEMS, 0, 0);
            InsertTab(tabControl, 0, Ui("summary"));
            for (int i = 0; i < 64; ++i) {
                const char* name = GetPrefEnumText("overall.audio.encoder", i);
                if (!name || !*name) break;
                InsertTab(tabControl, i + 1, name);
            }
            index = ChosenEncoder() + 1;
            SendMessageA(tabControl, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
        } else if (index > 0) {
            // While a job runs, or when the format chooses the encoder, a tab only shows a page.
            if (GetItemState(nullptr) != kItemEncoding && GetPrefInt("overall.audio.autoEncoder") == 0) {
                SetPrefInt("overall.audio.encoder", index - 1);
                LoadControls();
                EncoderChanged();
            }
        }
        return CreateEncoderPage(index < 0 ? 0 : index);
    }

private:
    static int ChosenEncoder() {
        if (GetPrefInt("overall.audio.autoEncoder")) {
            int id = -1;
            GetEncoderName(0, 1, -1, OptionsCurrentItem(), &id);
            if (id >= 0) return id;
        }
        return GetPrefInt("overall.audio.encoder");
    }

    // A format the new encoder cannot write is replaced by the first one it can.
    void EncoderChanged() {
        const int encoder = GetPrefInt("overall.audio.encoder");
        const std::string format = GetPrefEnumText("overall.audio.format", GetPrefInt("overall.audio.format"));
        if (!EncoderSupportsFormat(encoder, format.c_str())) {
            for (int i = 1; i < 64; ++i) {
                const char* option = GetPrefEnumText("overall.audio.format", i);
                if (!option || !*option) break;
                if (EncoderSupportsFormat(encoder, option)) {
                    SetPrefInt("overall.audio.format", i);
                    LoadControls();
                    break;
                }
            }
        }
        AnnounceChange(3, 0);
    }

    void FormatChanged() {
        const int index = GetPrefInt("overall.audio.format");
        const std::string format = GetPrefEnumText("overall.audio.format", index);
        if (GetPrefInt("overall.audio.autoEncoder")) {
            int id = -1;
            GetEncoderName(0, 1, -1, OptionsCurrentItem(), &id);
            if (id >= 0) SetPrefInt("overall.audio.encoder", id);
        } else if (index > 0 && !EncoderSupportsFormat(GetPrefInt("overall.audio.encoder"), format.c_str())) {
            MessageBoxA(hwnd_, Ui("format_unsupported"), "Information", MB_ICONINFORMATION);
        }
        if (format == "HE-AAC") {
            SetPrefInt("audioenc.aacplus.type", 0);
            SetPrefInt("audioenc.aacplus.mode", 1);
        } else if (format == "HE-AAC V2") {
            SetPrefInt("audioenc.aacplus.type", 0);
            SetPrefInt("audioenc.aacplus.mode", 3);
        } else if (format == "LC-AAC") {
            SetPrefInt("audioenc.aacplus.type", 1);
            SetPrefInt("audioenc.aacplus.mode", 1);
        } else if (format == "AMR") {
            if (GetPrefInt("audioenc.amr.codec") == 0) {
                SetPrefInt("audiofilter.resample.samplerate", 8000);
                SetPrefInt("overall.audio.channels", 1);
            } else {
                SetPrefInt("audiofilter.resample.samplerate", 16000);
            }
        }
        LoadControls();
        AnnounceChange(3, 0);
    }
};

// ---------------------------------------------------------------------------------------------
// Sound tab and the compact audio tab

const ControlBinding kSoundRows[] = {
    {1131, "audiofilter.volume.normalization", 0, kCheckBox}, {1290, "audiofilter.volume.balancing", 0, kCheckBox},
    {1289, "audiofilter.volume.clipping", 0, kCheckBox},      {1067, "overall.audio.channels", 0, kComboBox},
    {1068, "audiofilter.volume.gain", 1, kTextField},         {1066, "audiofilter.channels.enabled", 0, kCheckBox},
    {1310, "overall.audio.delay", 0, kTextField},             {1088, "overall.audio.delay", 0, kTrackbar},
    {0, nullptr, 0, 0}};

class CDlgSound : public COptionTab {
public:
    CDlgSound() : COptionTab(kSoundTabTemplate, "sound", true, kSoundRows) {}
    CDlgSound(int templateId, const char* title) : COptionTab(templateId, title, true, kSoundRows) {}

    bool OnInitDialog() override {
        FillCombo(GetItem(1282), SplitListText("1|2|3|4|5|6"));
        SetComboSel(1282, GetPrefInt("audiofilter.channels.output") - 1);
        OnControlSelChange(1282);
        OnControlSelChange(1067);
        SelectSourceChannel();
        PrefInfo info;
        if (GetPrefInfo("audiofilter.volume.gain", 3, &info) == 0)
            SendItemMessage(1084, TBM_SETRANGE, TRUE,
                            MAKELPARAM(static_cast<unsigned>(1000 - info.range[1]), static_cast<unsigned>(1000 - info.range[0])));
        SendItemMessage(1084, TBM_SETPAGESIZE, 0, 5);
        SendItemMessage(1088, TBM_SETRANGE, TRUE, MAKELPARAM(static_cast<unsigned>(-5000), static_cast<unsigned>(5000)));
        SendItemMessage(1088, TBM_SETPAGESIZE, 0, 100);
        RefreshStates();
        return true;
    }

    void RefreshStates() override {
        const bool mapping = GetPrefInt("audiofilter.channels.enabled") != 0;
        for (int id : {1282, 1070, 1069}) EnableWindow(GetItem(id), mapping);
        const float gain = GetPrefFloat("audiofilter.volume.gain");
        SetCheck(1288, gain != 0.0f);
        SendItemMessage(1084, TBM_SETPOS, TRUE, 1000 - static_cast<int>(gain));
        if (HWND tracks = GetItem(1157)) {
            const std::vector<std::string> texts = TrackTexts(OptionsCurrentItem());
            FillCombo(tracks, texts);
            const int aid = GetPrefInt("overall.decoding.aid");
            SetComboSel(1157, aid >= 0 && aid < static_cast<int>(texts.size()) ? aid : 0);
        }
    }

    bool OnControlSelChange(int id) override {
        switch (id) {
        case 1067: {
            static const int kCounts[] = {2, 1, 1, 1, 2, 4, 6, 8};
            const int layout = GetPrefInt("overall.audio.channels");
            const int n = layout >= 0 && layout < 8 ? kCounts[layout] : 2;
            FillChannelCombo(1070, n);
            return true;
        }
        case 1069: SelectSourceChannel(); return true;
        case 1070: {
            const int channel = GetComboSel(1069) + 1;
            if (channel >= 1) SetIntInRange(ChannelKey(channel).c_str(), GetComboSel(1070) + 1);
            return true;
        }
        case 1157: SetIntInRange("overall.decoding.aid", GetComboSel(1157)); return true;
        case 1282:
            SetIntInRange("audiofilter.channels.output", GetComboSel(1282) + 1);
            FillChannelCombo(1069, GetPrefInt("audiofilter.channels.output"));
            return true;
        default: return false;
        }
    }

    bool OnControlCommand(int id) override {
        if (id != 1288 || IsChecked(1288)) return false;
        SetPrefFloat("audiofilter.volume.gain", 0.0f);
        LoadControls();
        return true;
    }

    bool OnControlEditChange(int id) override {
        if (id != 1068) return false;
        const std::string text = GetItemText(1068);
        if (!text.empty()) SetFloatInRange("audiofilter.volume.gain", std::strtod(text.c_str(), nullptr));
        return true;
    }

    bool OnControlScroll(int id, int) override {
        if (id != 1084) return false;
        SetFloatInRange("audiofilter.volume.gain", 1000 - static_cast<int>(SendItemMessage(1084, TBM_GETPOS, 0, 0)));
        LoadControls();
        return true;
    }

private:
    static std::string ChannelKey(int n) { return "audiofilter.channels.channel" + std::to_string(n); }

    void FillChannelCombo(int id, int count) {
        std::vector<std::string> texts;
        for (int i = 1; i <= count && i <= 8; ++i) texts.push_back(std::string(Ui("channel")) + " " + std::to_string(i));
        FillCombo(GetItem(id), texts);
        SetComboSel(id, 0);
    }

    void SelectSourceChannel() {
        const int channel = GetComboSel(1069) + 1;
        if (channel < 1) return;
        SetComboSel(1070, GetPrefInt(ChannelKey(channel).c_str()) - 1);
    }
};

// ---------------------------------------------------------------------------------------------
// Tasking tab

const ControlBinding kOutputRows[] = {{1047, "overall.task.tempdir", 0, kTextField},
                                     {1249, "overall.generic.priority", 0, kComboBox},
                                     {1252, "overall.task.overwrite", 0, kComboBox},
                                     {0, nullptr, 0, 0}};

const char* const kAffinityKeys[] = {"overall.audio.encAffinity", "overall.audio.decAffinity",
                                     "overall.video.encAffinity", "overall.video.decAffinity"};

class CDlgOutput : public COptionTab {
public:
    CDlgOutput() : COptionTab(kOutputTabTemplate, "tasking", true, kOutputRows) {}

    bool OnInitDialog() override {
        FillCombo(GetItem(1250), {Ui("audioenc"), Ui("audiodec"), Ui("videoenc"), Ui("videodec")});
        SetComboSel(1250, 0);
        cores_ = std::min(Shell().context.cpuCount, 16);
        for (int i = 0; i < 16; ++i) EnableWindow(GetItem(2000 + i), i < cores_);
        EnableWindow(GetItem(1093), cores_ > 0);
        if (cores_ > 0) SetCheck(1093, true);
        SendItemMessage(1084, TBM_SETRANGE, TRUE, MAKELPARAM(0, 160));
        std::vector<std::string> jobs;
        for (int n = 1; n <= 8; ++n) {
            std::string text = Format(Ui("parallel_jobs"), n);
            if (n == 1 && !text.empty() && text.back() == 's') text.pop_back();
            jobs.push_back(text);
        }
        FillCombo(GetItem(1251), jobs);
        FillCombo(GetItem(1252), {Ui("ask_action"), Ui("overwrite_existing"), Ui("rename_existing"), Ui("skip_existing")});
        LoadControls();
        return true;
    }

    void RefreshStates() override {
        SetComboSel(1251, GetPrefInt("overall.task.parallelize") - 1);
        const char* key = TargetKey();
        const int mask = key ? GetPrefInt(key) : 0;
        bool all = true;
        for (int i = 0; i < 16; ++i) {
            const bool on = mask == 0 || (mask & (1 << i)) != 0;
            SetCheck(2000 + i, on);
            if (i < cores_ && !on) all = false;
        }
        SetCheck(1093, mask == 0 || all);
        ShowSpeed();
    }

    bool OnControlCommand(int id) override {
        if (id == 1029) {
            char path[4096] = {};
            std::snprintf(path, sizeof path, "%s", GetPrefString("overall.task.tempdir"));
            if (BrowseForPath(path, sizeof path, Ui("browse"), hwnd_) > 0) {
                SetPrefString("overall.task.tempdir", path);
                LoadControls();
            }
            return true;
        }
        if (id == 1066) {
            SetPrefFloat("overall.generic.encodingSpeed", IsChecked(1066) ? 1.0f : 0.0f);
            RefreshStates();
            return true;
        }
        if (id == 1082) {
            ResetPrefToDefault("overall.task.tempdir");
            LoadControls();
            return true;
        }
        if ((id >= 2000 && id < 2016) || id == 1093) {
            int mask = 0;
            if (id != 1093) {
                bool all = cores_ > 0;
                // Only the boxes of cores that exist count: the others show the mask, not a choice.
                for (int i = 0; i < cores_; ++i) {
                    if (IsChecked(2000 + i)) mask |= 1 << i;
                    else all = false;
                }
                // Every shown core is the same as no restriction.
                if (all) mask = 0;
            }
            if (const char* key = TargetKey()) SetPrefInt(key, mask);
            RefreshStates();
            QueueItem* item = OptionsCurrentItem();
            if (item && item->state.load() == kItemEncoding) SetItemPriority(item, 0);
            return true;
        }
        return false;
    }

    bool OnControlSelChange(int id) override {
        if (id == 1249) {
            QueueItem* item = OptionsCurrentItem();
            if (item && item->state.load() == kItemEncoding) SetItemPriority(item, 0);
            return true;
        }
        if (id == 1250) {
            RefreshStates();
            return true;
        }
        if (id == 1251) {
            SetIntInRange("overall.task.parallelize", GetComboSel(1251) + 1);
            return true;
        }
        return false;
    }

    bool OnControlScroll(int id, int code) override {
        if (id != 1084 || code != static_cast<int>(TB_ENDTRACK)) return false;
        const auto pos = static_cast<int>(SendItemMessage(1084, TBM_GETPOS, 0, 0));
        SetPrefFloat("overall.generic.encodingSpeed", pos == 0 ? 0.05f : static_cast<float>(pos * 0.1));
        ShowSpeed();
        return true;
    }

private:
    const char* TargetKey() {
        const int target = GetComboSel(1250);
        return target >= 0 && target < 4 ? kAffinityKeys[target] : nullptr;
    }

    void ShowSpeed() {
        const float speed = GetPrefFloat("overall.generic.encodingSpeed");
        if (speed > 0) {
            char text[128];
            std::snprintf(text, sizeof text, "%s (%.1fx)", Ui("control_speed"), static_cast<double>(speed));
            SetItemText(1066, text);
            SetCheck(1066, true);
            EnableWindow(GetItem(1084), TRUE);
            SendItemMessage(1084, TBM_SETPOS, TRUE, static_cast<LPARAM>(speed * 10 + 0.5f));
        } else {
            SetItemText(1066, Ui("control_speed"));
            SetCheck(1066, false);
            EnableWindow(GetItem(1084), FALSE);
            SendItemMessage(1084, TBM_SETPOS, TRUE, 161);
        }
    }

    int cores_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Automation tab

const ControlBinding kAutomationRows[] = {{1309, "overall.automation.relocInputsPath", 0, kTextField},
                                          {1300, "overall.automation.relocInputs", 0, kComboBox},
                                          {1109, "overall.automation.customPreset", 0, kComboBox},
                                          {1153, "overall.automation.saveReport", 0, kCheckBox},
                                          {1067, "overall.automation.formatting", 0, kCheckBox},
                                          {1062, "overall.automation.fileNameFormat", 0, kComboBox},
                                          {1068, "overall.automation.dupDir", 0, kCheckBox},
                                          {0, nullptr, 0, 0}};

const char* const kRelocKeys[3][2] = {{"overall.automation.relocInputs", "overall.automation.relocInputsPath"},
                                      {"overall.automation.relocErrors", "overall.automation.relocErrorsPath"},
                                      {"overall.automation.relocOutputs", "overall.automation.relocOutputsPath"}};

class CDlgAutomation : public COptionTab {
public:
    CDlgAutomation() : COptionTab(kAutomationTabTemplate, "automation", true, kAutomationRows) {}

    bool OnInitDialog() override {
        FillCombo(GetItem(1109), {"Preset-$(SourceFileExt).xml"});
        FillCombo(GetItem(1062),
                  SplitListText("$(Artist) - $(Title),$(Artist) - $(Album) - $(Title),$(Artist)\\$(Title),"
                                "$(Artist)\\$(Artist) - $(Title),$(Artist)\\$(Track). $(Title),$(Artist)\\$(Album)\\$(Title),"
                                "$(Artist)\\$(Album)\\$(Track). $(Title),$(Year)\\$(Artist) - $(Title),"
                                "$(Year)\\$(Artist)\\$(Title),$(Genre)\\$(Artist) - $(Title),$(Genre)\\$(Artist)\\$(Title),"
                                "$(NowYear)$(NowMonth)$(NowDay)-$(NowHour)$(NowMin)$(NowSec),"
                                "$(SourceFileName)_$(PresetFileName),DSC$(%05d),$(FileTimeCreation),$(FileTimeModified)"));
        // The action list is the page's own: the binder's numbers are replaced, and a rebind
        // does not fill it again.
        FillCombo(GetItem(1300), {Ui("no_action"), Ui("move_to"), Ui("copy_to"), Ui("delete")});
        FillCombo(GetItem(1308), {Ui("done_inputs"), Ui("error_inputs"), Ui("done_outputs")});
        SetComboSel(1308, 0);
        Rebind();
        SetWindowLongPtrA(GetItem(1154), GWL_STYLE,
                          (GetWindowLongPtrA(GetItem(1154), GWL_STYLE) & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_PUSHBUTTON);
        LoadControls();
        return true;
    }

    void RefreshStates() override {
        const bool formatting = GetPrefInt("overall.automation.formatting") != 0;
        EnableWindow(GetItem(1062), formatting);
        EnableWindow(GetItem(1068), !formatting);
        const bool custom = *GetPrefString("overall.automation.customPreset") != 0;
        EnableWindow(GetItem(1109), custom);
        SetCheck(1069, custom);
        const int action = GetComboSel(1300);
        const bool folder = action == 1 || action == 2;
        EnableWindow(GetItem(1309), folder);
        EnableWindow(GetItem(1078), folder);
        SendItemMessage(1154, BM_SETSTATE, GetPrefInt("overall.automation.autoTask") > 0, 0);
    }

    bool OnControlSelChange(int id) override {
        if (id == 1308) {
            Rebind();
            LoadControls();
            return true;
        }
        if (id == 1300 && GetComboSel(1300) == 3 && GetComboSel(1308) != 2)
            MessageBoxA(hwnd_, Ui("delete_notice"), "Information", MB_OK);
        return id == 1300;
    }

    bool OnControlCommand(int id) override {
        switch (id) {
        case 1069:
            SetPrefString("overall.automation.customPreset", IsChecked(1069) ? GetItemText(1109).c_str() : "");
            break;
        case 1078: {
            const ControlBinding* row = Row(1309);
            char path[4096] = {};
            std::snprintf(path, sizeof path, "%s", row && row->key ? GetPrefString(row->key) : "");
            if (row && row->key && BrowseForPath(path, sizeof path, Ui("browse"), hwnd_) > 0) SetPrefString(row->key, path);
            break;
        }
        case 1153:
        case 1154: break;
        default: return false;
        }
        LoadControls();
        return true;
    }

private:
    void Rebind() {
        int target = GetComboSel(1308);
        if (target < 0 || target > 2) target = 0;
        SetRowKey(1300, kRelocKeys[target][0]);
        SetRowKey(1309, kRelocKeys[target][1]);
        if (ControlBinding* row = Row(1300)) row->value = 1;  // a list: the index is the action
    }
};

// ---------------------------------------------------------------------------------------------
// Tagging tab

const ControlBinding kTaggingRows[] = {{1066, "overall.output.tag", 0, kCheckBox},
                                       {1067, "overall.output.creationTime", 0, kCheckBox},
                                       {1068, "overall.output.lastWriteTime", 0, kCheckBox},
                                       {0, nullptr, 0, 0}};

// ---------------------------------------------------------------------------------------------
// Time tab

const ControlBinding kTimeRows[] = {{1195, "overall.task.splitMode", 0, kComboBox},
                                    {1193, "overall.task.splitParam", 0, kTextField},
                                    {0, nullptr, 0, 0}};

constexpr int kStartFields[4] = {1090, 1070, 1091, 1092};
constexpr int kEndFields[4] = {1093, 1094, 1095, 1096};

class CDlgTime : public COptionTab {
public:
    CDlgTime() : COptionTab(kTimeTabTemplate, "time", true, kTimeRows) {}

    bool OnInitDialog() override {
        SendItemMessage(1084, TBM_SETRANGE, TRUE, MAKELPARAM(0, 6000));
        FillCombo(GetItem(1196), SplitListText("1x|2x|3x|4x|5x|6x|7x|8x|9x|10x|20x|30x|40x|50x|60x"));
        SetComboSel(1196, 0);
        return true;
    }

    void RefreshStates() override {
        const bool split = GetPrefInt("overall.task.mode") == 4;
        EnableWindow(GetItem(1195), split);
        EnableWindow(GetItem(1193), split);
        static const char* const kUnits[] = {"secs", "KB", "frames"};
        const int unit = GetPrefInt("overall.task.splitMode");
        SetItemText(1194, Ui(kUnits[unit >= 0 && unit < 3 ? unit : 0]));
        const int speed = GetPrefInt("overall.decoding.speed");
        ++loading_;
        SetItemText(1196, Format("%dx", speed).c_str());
        SetCheck(1066, speed >= 2);
        QueueItem* item = OptionsCurrentItem();
        // A running item's times are in use by its worker: they are shown, not edited.
        const bool editable = item && !ItemBusy(item);
        for (int id : {1090, 1070, 1091, 1092, 1093, 1094, 1095, 1096, 1097, 1084}) EnableWindow(GetItem(id), editable);
        if (item) {
            SetItemText(1097, Format("%d", item->audioOffset).c_str());
            SendItemMessage(1084, TBM_SETPOS, TRUE, item->audioOffset / 10 + 3000);
            ShowTime(kStartFields, item->begin);
            ShowTime(kEndFields, item->end);
        } else {
            SetItemText(1097, "");
        }
        --loading_;
    }

    bool OnControlEditChange(int id) override {
        const bool start = std::find(std::begin(kStartFields), std::end(kStartFields), id) != std::end(kStartFields);
        const bool end = std::find(std::begin(kEndFields), std::end(kEndFields), id) != std::end(kEndFields);
        if (start || end) {
            const uint32_t ms = ReadTime(start ? kStartFields : kEndFields);
            ForTargets(false, [&](QueueItem* item) { (start ? item->begin : item->end) = ms; });
            return true;
        }
        if (id == 1097) {
            long long offset = 0;
            if (!LeadingNumber(GetItemText(1097), offset)) offset = 0;
            offset = std::clamp<long long>(offset, -30000, 30000);
            ForTargets(true, [&](QueueItem* item) { item->audioOffset = static_cast<int32_t>(offset); });
            SendItemMessage(1084, TBM_SETPOS, TRUE, static_cast<LPARAM>(offset / 10 + 3000));
            return true;
        }
        if (id == 1196) {
            long long speed = 0;
            if (LeadingNumber(GetItemText(1196), speed) && SetIntInRange("overall.decoding.speed", speed)) SetCheck(1066, true);
            return true;
        }
        return false;
    }

    bool OnControlSelChange(int id) override {
        if (id != 1196) return false;
        long long speed = 1;
        if (LeadingNumber(GetComboText(1196, -1), speed)) SetIntInRange("overall.decoding.speed", speed);
        SetCheck(1066, GetPrefInt("overall.decoding.speed") >= 2);
        return true;
    }

    bool OnControlCommand(int id) override {
        if (id == 1066 && !IsChecked(1066)) {
            SetPrefInt("overall.decoding.speed", 1);
            RefreshStates();
            return true;
        }
        return id == 1066 || id == 1226;
    }

    bool OnControlScroll(int id, int code) override {
        if (id != 1084 || code != static_cast<int>(TB_ENDTRACK)) return false;
        const int offset = (static_cast<int>(SendItemMessage(1084, TBM_GETPOS, 0, 0)) - 3000) * 10;
        ++loading_;
        SetItemText(1097, Format("%d", offset).c_str());
        --loading_;
        ForTargets(true, [&](QueueItem* item) { item->audioOffset = offset; });
        return true;
    }

private:
    void ShowTime(const int* ids, uint32_t ms) {
        SetItemText(ids[0], Format("%d", static_cast<int>(ms / 3600000)).c_str());
        SetItemText(ids[1], Format("%02d", static_cast<int>(ms / 60000 % 60)).c_str());
        SetItemText(ids[2], Format("%02d", static_cast<int>(ms / 1000 % 60)).c_str());
        SetItemText(ids[3], Format("%03d", static_cast<int>(ms % 1000)).c_str());
    }

    // Hours, minutes, seconds and milliseconds as one time in ms; empty or negative fields count
    // 0 and the sum stops at the largest time an item holds.
    uint32_t ReadTime(const int* ids) {
        static const long long kScale[4] = {3600000, 60000, 1000, 1};
        long long total = 0;
        for (int i = 0; i < 4; ++i) {
            long long v = 0;
            if (!LeadingNumber(GetItemText(ids[i]), v) || v < 0) v = 0;
            total += std::min<long long>(v, 0xFFFFFFFFLL) * kScale[i];
            if (total > 0xFFFFFFFFLL) return 0xFFFFFFFFu;
        }
        return static_cast<uint32_t>(total);
    }

    // The items of the file list's selected rows, or the current item when none is selected
    // (onlySelected: none then). Running items are left alone.
    template <typename Fn>
    void ForTargets(bool onlySelected, Fn fn) {
        CFileList& list = FileList();
        bool any = false;
        for (int row = list.FirstSelected(); row >= 0; row = list.NextSelected(row)) {
            any = true;
            QueueItem* item = list.RowItem(row);
            if (item && !ItemBusy(item)) fn(item);
        }
        if (any || onlySelected) return;
        QueueItem* item = OptionsCurrentItem();
        if (item && !ItemBusy(item)) fn(item);
    }
};

// ---------------------------------------------------------------------------------------------
// Plug-ins (input and DSP plug-ins)

class CDlgPlugins : public COptionTab {
public:
    CDlgPlugins() : COptionTab(kPluginsTabTemplate, "plugins", true, nullptr) {}

    bool OnInitDialog() override {
        // Every button takes the size of the configure button.
        RECT r{};
        GetWindowRect(GetItem(1264), &r);
        buttonWidth_ = r.right - r.left;
        buttonHeight_ = r.bottom - r.top;
        return true;
    }

    // The tree fills the page but for a column at the right edge, where the buttons stack from
    // the bottom up.
    bool OnSize(int width, int height) override {
        const int w = buttonWidth_, h = buttonHeight_, x = width - w;
        MoveWindow(GetItem(1087), 0, 0, std::max(0, x - 3), height, TRUE);
        MoveWindow(GetItem(1264), x, height - h, w, h, TRUE);
        MoveWindow(GetItem(4), x, height - 2 * h, w, h, TRUE);
        MoveWindow(GetItem(1065), x, height - 3 * h, w, h, TRUE);
        MoveWindow(GetItem(1265), x, height - 4 * h - 8, w, h, TRUE);
        return true;
    }

    void RefreshStates() override {
        if (!built_) {
            built_ = true;
            Rebuild();
        }
        const LPARAM chosen = ChosenData();
        EnableWindow(GetItem(1265), chosen >= 0);
        EnableWindow(GetItem(1264), chosen >= 0 && (chosen >> 16) == 0);
        if (chosen >= 0) SetCheck(1265, WinampPluginControl(static_cast<int>(chosen >> 16), 1, chosen & 0xFFFF, nullptr, 0) != 0);
    }

    bool OnNotify(NMHDR* hdr) override {
        if (hdr && hdr->idFrom == 1087 && hdr->code == TVN_SELCHANGEDA) RefreshStates();
        return false;
    }

    bool OnControlCommand(int id) override {
        const LPARAM chosen = ChosenData();
        switch (id) {
        case 4:
            WinampPluginControl(0, 4, 0, nullptr, 0);
            WinampPluginControl(1, 4, 0, nullptr, 0);
            Rebuild();
            break;
        case 1264:
            // Only DSP plug-ins have a configuration.
            if (chosen >= 0 && (chosen >> 16) == 0) WinampPluginControl(0, 3, chosen & 0xFFFF, nullptr, 0);
            break;
        case 1065: AddPlugin(); break;
        case 1265:
            if (chosen >= 0)
                WinampPluginControl(static_cast<int>(chosen >> 16), 2, chosen & 0xFFFF,
                                    IsChecked(1265) ? reinterpret_cast<void*>(1) : nullptr, 0);
            break;
        default: return false;
        }
        RefreshStates();
        return true;
    }

private:
    // Copies a plug-in the user picks into the plug-in folder (an existing one is kept) and
    // reads the lists again.
    void AddPlugin() {
        const std::string folder = GetPrefString("audiosrc.winamp.dir");
        char file[4096] = {};
        OPENFILENAMEA ofn;
        ofn.hwndOwner = hwnd_;
        ofn.lpstrFilter = "Plugin Files\0*.so\0\0";
        ofn.lpstrFile = file;
        ofn.nMaxFile = sizeof file;
        ofn.lpstrInitialDir = folder.c_str();
        ofn.lpstrTitle = Ui("add_plugin");
        ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
        if (!GetOpenFileNameA(&ofn) || folder.empty()) return;
        const std::filesystem::path from(file);
        std::error_code ec;
        if (!std::filesystem::copy_file(from, std::filesystem::path(folder) / from.filename(), ec)) return;
        OnControlCommand(4);
    }

    LPARAM ChosenData() {
        HWND tree = GetItem(1087);
        auto sel = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (!sel) return -1;
        TVITEMA item;
        item.mask = TVIF_PARAM;
        item.hItem = sel;
        if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
        return item.lParam;
    }

    void Rebuild() {
        HWND tree = GetItem(1087);
        SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        const char* const roots[2] = {"dsp_plugins", "in_plugins"};
        for (int list = 0; list < 2; ++list) {
            HTREEITEM root = InsertTreeItem(tree, TVI_ROOT, Ui(roots[list]), -1);
            for (int i = 0; i < 1024; ++i) {
                char name[256] = {};
                WinampPluginControl(list, 0, i, name, sizeof name);
                if (!name[0]) break;
                InsertTreeItem(tree, root, name, (static_cast<LPARAM>(list) << 16) | i);
            }
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        }
    }

    bool built_ = false;
    int buttonWidth_ = 0, buttonHeight_ = 0;
};

// The tasking tab hosts the automation, tagging and plug-in pages in a row of its own.
class CDlgOutputHost : public CDlgOutput {
public:
    COptionPage* CreateSubPage(int index, HWND tabControl) override {
        if (index < 0 && tabControl) {
            SendMessageA(tabControl, TCM_DELETEALLITEMS, 0, 0);
            const char* const names[3] = {"automation", "tagging", "plugins"};
            for (int i = 0; i < 3; ++i) InsertTab(tabControl, i, Ui(names[i]));
            SendMessageA(tabControl, TCM_SETCURSEL, 0, 0);
        }
        return CreateOutputSubTab(index < 0 ? 1 : index + 1);
    }
};

// ---------------------------------------------------------------------------------------------
// The popup that shows one tab as a floating tool window

class CDlgPopup : public CWindow {
public:
    ~CDlgPopup() override { Drop(); }

    void Open(COptionTab* tab, HWND owner) {
        Drop();
        tab_.reset(tab);
        owner_ = owner;
        if (!tab_) return;
        HWND frame = Create(WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW, owner);
        if (!frame) return;
        SetText(tab_->GetTitle());
        if (!tab_->CreatePage(frame)) return;
        RECT r{};
        GetWindowRect(tab_->Handle(), &r);
        MoveWindow(frame, 0, 0, r.right - r.left, r.bottom - r.top + 23, TRUE);
        if (owner_) EnableWindow(owner_, FALSE);
        ShowWindow(tab_->Handle(), SW_SHOW);
        tab_->LoadControls();
        ShowWindow(frame, SW_SHOW);
        SetForegroundWindow(frame);
    }

    bool OnSetFocus() override {
        if (tab_) tab_->RefreshStates();
        return false;
    }
    bool OnClose() override {
        Drop();
        return true;
    }
    COptionTab* Tab() { return tab_.get(); }

    void Drop() {
        if (tab_ && tab_->Handle()) tab_->Close();
        tab_.reset();
        if (hwnd_) Close();
        if (owner_) {
            EnableWindow(owner_, TRUE);
            SetFocus(owner_);
            owner_ = nullptr;
        }
    }

private:
    std::unique_ptr<COptionTab> tab_;
    HWND owner_ = nullptr;
};

CDlgPopup& Popup() {
    static CDlgPopup popup;
    return popup;
}

}  // namespace

COptionTab* CreateOptionTab(int index) {
    switch (index) {
    case 0: return new CDlgAudio();
    case 1: return new CDlgSound();
    case 2: return new CDlgOutputHost();
    case 3: return new CDlgAutomation();
    case 4: return new COptionTab(kTaggingTabTemplate, "text", true, kTaggingRows);
    case 5: return new CDlgTime();
    default: return nullptr;
    }
}

COptionTab* CreateOutputSubTab(int n) {
    switch (n) {
    case 2: return new COptionTab(kTaggingTabTemplate, "text", true, kTaggingRows);
    case 3: return new CDlgPlugins();
    default: return new CDlgAutomation();
    }
}

COptionTab* CreateAudioCfgTab() { return new CDlgSound(kAudioCfgTemplate, "audio"); }

void ShowTabInPopup(COptionTab* tab, HWND owner) { Popup().Open(tab, owner); }

COptionTab* PopupTab() { return Popup().Tab(); }

void ClosePopup() { Popup().Drop(); }

}  // namespace ui
