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
#include "ui/ids.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"
#include "ui/options/encoder_pages.h"

namespace ui {

using namespace gui;

namespace {

// The controls of each tab's template (ui/ids.h).
namespace audio = dlg::opt_audio;
namespace sound = dlg::opt_sound;
namespace audiocfg = dlg::opt_audiocfg;
namespace output = dlg::opt_output;
namespace automation = dlg::opt_automation;
namespace tagging = dlg::opt_tagging;
namespace timing = dlg::opt_time;
namespace plugins = dlg::opt_plugins;

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
    {audio::enabled, "overall.audio.enabled", 0, kCheckBox},
    {audio::source, "overall.audio.source", 0, kComboBox},
    {audio::encoder, "overall.audio.encoder", 0, kComboBox},
    {audio::format, "overall.audio.format", 0, kComboBox},
    {audio::auto_source, "overall.audio.autoSource", 0, kCheckBox},
    {audio::auto_encoder, "overall.audio.autoEncoder", 0, kCheckBox},
    {audio::bit_depth, "overall.audio.bitDepth", 0, kComboBox},
    {audio::replay_gain, "overall.audio.replayGain", 0, kCheckBox},
    {0, nullptr, 0, 0}};

class CDlgAudio : public COptionTab {
public:
    CDlgAudio() : COptionTab(dlg::opt_audio::id, "audio", true, kAudioRows) {}

    bool OnInitDialog() override {
        std::vector<std::string> rates = {Ui("original")};
        for (const std::string& r : SplitListText(GetPrefString("overall.presets.samplerate")))
            if (!r.empty()) rates.push_back(r + " Hz");
        FillCombo(GetItem(audio::sample_rate), rates);
        return true;
    }

    void RefreshStates() override {
        const int rate = GetPrefInt("audiofilter.resample.samplerate");
        if (rate == 0)
            SetComboSel(audio::sample_rate, 0);
        else
            SetItemText(audio::sample_rate, Format("%d Hz", rate).c_str());
        const bool enabled = GetPrefInt("overall.audio.enabled") != 0;
        for (size_t i = 1; rows_[i].id; ++i) EnableWindow(GetItem(static_cast<int>(rows_[i].id)), enabled);
        EnableWindow(GetItem(audio::sample_rate), enabled);
        EnableWindow(GetItem(audio::audio_track), enabled);
        // Audio off greys them all; an automatic choice or a stream copy greys what it decides.
        const bool copy = GetPrefInt("overall.audio.copy") != 0;
        EnableWindow(GetItem(audio::source), enabled && GetPrefInt("overall.audio.autoSource") == 0);
        EnableWindow(GetItem(audio::sample_rate), enabled && !copy);
        EnableWindow(GetItem(audio::format), enabled && !copy);
        EnableWindow(GetItem(audio::encoder), enabled && GetPrefInt("overall.audio.autoEncoder") == 0);
        QueueItem* item = OptionsCurrentItem();
        if (!item) {
            SendItemMessage(audio::audio_track, CB_RESETCONTENT, 0, 0);
            return;
        }
        const bool external = (item->flags.load() & kItemFlagSeparateAudio) != 0;
        if (external) {
            ++loading_;  // showing the path is no edit of it
            SetItemText(audio::audio_file, item->audioFile ? item->audioFile : "");
            --loading_;
        } else if (enabled) {
            const std::vector<std::string> tracks = TrackTexts(item);
            FillCombo(GetItem(audio::audio_track), tracks);
            const int aid = GetPrefInt("overall.decoding.aid");
            SetComboSel(audio::audio_track, aid >= 0 && aid < static_cast<int>(tracks.size()) ? aid : 0);
            EnableWindow(GetItem(audio::sample_rate), !copy);
            EnableWindow(GetItem(audio::bit_depth), !copy);
        }
        ShowControl(GetItem(audio::audio_file), external);
        ShowControl(GetItem(audio::audio_track), !external);
    }

    bool OnControlSelChange(int id) override {
        switch (id) {
        case audio::sample_rate: {
            long long rate = 0;
            if (GetComboSel(audio::sample_rate) > 0 && !LeadingNumber(GetComboText(audio::sample_rate, -1), rate))
                return true;
            SetIntInRange("audiofilter.resample.samplerate", rate);
            AnnounceChange(1, 0);
            return true;
        }
        case audio::bit_depth: AnnounceChange(1, 0); return true;
        case audio::audio_track:
            SetIntInRange("overall.decoding.aid", GetComboSel(audio::audio_track));
            AnnounceChange(1, 0);
            return true;
        case audio::encoder: EncoderChanged(); return true;
        case audio::format: FormatChanged(); return true;
        default: return false;
        }
    }

    bool OnControlEditChange(int id) override {
        if (id == audio::sample_rate) {
            // A typed rate is kept only when it is a rate the resampler takes.
            long long rate = 0;
            if (LeadingNumber(GetItemText(audio::sample_rate), rate) && rate > 0)
                SetIntInRange("audiofilter.resample.samplerate", rate);
            AnnounceChange(1, 6);
            return true;
        }
        if (id == audio::audio_file) {
            QueueItem* item = OptionsCurrentItem();
            // A worker reads the path while the item runs: it is not changed under it.
            if (item && !ItemBusy(item)) SetStringField(&item->audioFile, GetItemText(audio::audio_file).c_str());
            AnnounceChange(1, 6);
            return true;
        }
        return false;
    }

    bool OnControlCommand(int id) override {
        switch (id) {
        case audio::source_button: OpenSettingsPage("audiosrc", "Audio Source", 800, 600); return true;
        case audio::encoder_button: OpenSettingsPage("audioenc", "Audio Encoder", 800, 600); return true;
        case audio::resample_button: OpenSettingsPage("audiofilter.resample", Ui("menu_settings"), 780, 600); return true;
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
    {sound::normalize, "audiofilter.volume.normalization", 0, kCheckBox},
    {sound::balance, "audiofilter.volume.balancing", 0, kCheckBox},
    {sound::soft_clip, "audiofilter.volume.clipping", 0, kCheckBox},
    {sound::channels, "overall.audio.channels", 0, kComboBox},
    {sound::gain, "audiofilter.volume.gain", 1, kTextField},
    {sound::channel_mapping, "audiofilter.channels.enabled", 0, kCheckBox},
    {sound::delay, "overall.audio.delay", 0, kTextField},
    {sound::delay_slider, "overall.audio.delay", 0, kTrackbar},
    {0, nullptr, 0, 0}};

class CDlgSound : public COptionTab {
public:
    CDlgSound() : COptionTab(dlg::opt_sound::id, "sound", true, kSoundRows) {}
    CDlgSound(int templateId, const char* title) : COptionTab(templateId, title, true, kSoundRows) {}

    bool OnInitDialog() override {
        FillCombo(GetItem(sound::output_channels), SplitListText("1|2|3|4|5|6"));
        SetComboSel(sound::output_channels, GetPrefInt("audiofilter.channels.output") - 1);
        OnControlSelChange(sound::output_channels);
        OnControlSelChange(sound::channels);
        SelectSourceChannel();
        PrefInfo info;
        if (GetPrefInfo("audiofilter.volume.gain", 3, &info) == 0)
            SendItemMessage(sound::gain_slider, TBM_SETRANGE, TRUE,
                            MAKELPARAM(static_cast<unsigned>(1000 - info.range[1]), static_cast<unsigned>(1000 - info.range[0])));
        SendItemMessage(sound::gain_slider, TBM_SETPAGESIZE, 0, 5);
        SendItemMessage(sound::delay_slider, TBM_SETRANGE, TRUE, MAKELPARAM(static_cast<unsigned>(-5000), static_cast<unsigned>(5000)));
        SendItemMessage(sound::delay_slider, TBM_SETPAGESIZE, 0, 100);
        RefreshStates();
        return true;
    }

    void RefreshStates() override {
        const bool mapping = GetPrefInt("audiofilter.channels.enabled") != 0;
        for (int id : {sound::output_channels, sound::map_to, sound::map_from}) EnableWindow(GetItem(id), mapping);
        const float gain = GetPrefFloat("audiofilter.volume.gain");
        SetCheck(sound::gain_check, gain != 0.0f);
        SendItemMessage(sound::gain_slider, TBM_SETPOS, TRUE, 1000 - static_cast<int>(gain));
        if (HWND tracks = GetItem(audiocfg::audio_track)) {
            const std::vector<std::string> texts = TrackTexts(OptionsCurrentItem());
            FillCombo(tracks, texts);
            const int aid = GetPrefInt("overall.decoding.aid");
            SetComboSel(audiocfg::audio_track, aid >= 0 && aid < static_cast<int>(texts.size()) ? aid : 0);
        }
    }

    bool OnControlSelChange(int id) override {
        switch (id) {
        case sound::channels: {
            static const int kCounts[] = {2, 1, 1, 1, 2, 4, 6, 8};
            const int layout = GetPrefInt("overall.audio.channels");
            const int n = layout >= 0 && layout < 8 ? kCounts[layout] : 2;
            FillChannelCombo(sound::map_to, n);
            return true;
        }
        case sound::map_from: SelectSourceChannel(); return true;
        case sound::map_to: {
            const int channel = GetComboSel(sound::map_from) + 1;
            if (channel >= 1) SetIntInRange(ChannelKey(channel).c_str(), GetComboSel(sound::map_to) + 1);
            return true;
        }
        case audiocfg::audio_track:
            SetIntInRange("overall.decoding.aid", GetComboSel(audiocfg::audio_track));
            return true;
        case sound::output_channels:
            SetIntInRange("audiofilter.channels.output", GetComboSel(sound::output_channels) + 1);
            FillChannelCombo(sound::map_from, GetPrefInt("audiofilter.channels.output"));
            return true;
        default: return false;
        }
    }

    bool OnControlCommand(int id) override {
        if (id != sound::gain_check || IsChecked(sound::gain_check)) return false;
        SetPrefFloat("audiofilter.volume.gain", 0.0f);
        LoadControls();
        return true;
    }

    bool OnControlEditChange(int id) override {
        if (id != sound::gain) return false;
        const std::string text = GetItemText(sound::gain);
        if (!text.empty()) SetFloatInRange("audiofilter.volume.gain", std::strtod(text.c_str(), nullptr));
        return true;
    }

    bool OnControlScroll(int id, int) override {
        if (id != sound::gain_slider) return false;
        const auto position = static_cast<int>(SendItemMessage(sound::gain_slider, TBM_GETPOS, 0, 0));
        SetFloatInRange("audiofilter.volume.gain", 1000 - position);
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
        const int channel = GetComboSel(sound::map_from) + 1;
        if (channel < 1) return;
        SetComboSel(sound::map_to, GetPrefInt(ChannelKey(channel).c_str()) - 1);
    }
};

// ---------------------------------------------------------------------------------------------
// Tasking tab

const ControlBinding kOutputRows[] = {
    {output::temp_dir, "overall.task.tempdir", 0, kTextField},
    {output::priority, "overall.generic.priority", 0, kComboBox},
    {output::overwrite, "overall.task.overwrite", 0, kComboBox},
    {0, nullptr, 0, 0}};

const char* const kAffinityKeys[] = {"overall.audio.encAffinity", "overall.audio.decAffinity",
                                     "overall.video.encAffinity", "overall.video.decAffinity"};

class CDlgOutput : public COptionTab {
public:
    CDlgOutput() : COptionTab(dlg::opt_output::id, "tasking", true, kOutputRows) {}

    bool OnInitDialog() override {
        FillCombo(GetItem(output::speed_target), {Ui("audioenc"), Ui("audiodec"), Ui("videoenc"), Ui("videodec")});
        SetComboSel(output::speed_target, 0);
        cores_ = std::min(Shell().context.cpuCount, 16);
        for (int i = 0; i < 16; ++i) EnableWindow(GetItem(output::core0 + i), i < cores_);
        EnableWindow(GetItem(output::all_cores), cores_ > 0);
        if (cores_ > 0) SetCheck(output::all_cores, true);
        SendItemMessage(output::speed_slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 160));
        std::vector<std::string> jobs;
        for (int n = 1; n <= 8; ++n) {
            std::string text = Format(Ui("parallel_jobs"), n);
            if (n == 1 && !text.empty() && text.back() == 's') text.pop_back();
            jobs.push_back(text);
        }
        FillCombo(GetItem(output::parallel_jobs), jobs);
        FillCombo(GetItem(output::overwrite), {Ui("ask_action"), Ui("overwrite_existing"), Ui("rename_existing"), Ui("skip_existing")});
        LoadControls();
        return true;
    }

    void RefreshStates() override {
        SetComboSel(output::parallel_jobs, GetPrefInt("overall.task.parallelize") - 1);
        const char* key = TargetKey();
        const int mask = key ? GetPrefInt(key) : 0;
        bool all = true;
        for (int i = 0; i < 16; ++i) {
            const bool on = mask == 0 || (mask & (1 << i)) != 0;
            SetCheck(output::core0 + i, on);
            if (i < cores_ && !on) all = false;
        }
        SetCheck(output::all_cores, mask == 0 || all);
        ShowSpeed();
    }

    bool OnControlCommand(int id) override {
        if (id == output::browse) {
            char path[4096] = {};
            std::snprintf(path, sizeof path, "%s", GetPrefString("overall.task.tempdir"));
            if (BrowseForPath(path, sizeof path, Ui("browse"), hwnd_) > 0) {
                SetPrefString("overall.task.tempdir", path);
                LoadControls();
            }
            return true;
        }
        if (id == output::control_speed) {
            SetPrefFloat("overall.generic.encodingSpeed", IsChecked(output::control_speed) ? 1.0f : 0.0f);
            RefreshStates();
            return true;
        }
        if (id == output::default_dir) {
            ResetPrefToDefault("overall.task.tempdir");
            LoadControls();
            return true;
        }
        if ((id >= output::core0 && id <= output::core15) || id == output::all_cores) {
            int mask = 0;
            if (id != output::all_cores) {
                bool all = cores_ > 0;
                // Only the boxes of cores that exist count: the others show the mask, not a choice.
                for (int i = 0; i < cores_; ++i) {
                    if (IsChecked(output::core0 + i)) mask |= 1 << i;
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
        if (id == output::priority) {
            QueueItem* item = OptionsCurrentItem();
            if (item && item->state.load() == kItemEncoding) SetItemPriority(item, 0);
            return true;
        }
        if (id == output::speed_target) {
            RefreshStates();
            return true;
        }
        if (id == output::parallel_jobs) {
            SetIntInRange("overall.task.parallelize", GetComboSel(output::parallel_jobs) + 1);
            return true;
        }
        return false;
    }

    bool OnControlScroll(int id, int code) override {
        if (id != output::speed_slider || code != static_cast<int>(TB_ENDTRACK)) return false;
        const auto pos = static_cast<int>(SendItemMessage(output::speed_slider, TBM_GETPOS, 0, 0));
        SetPrefFloat("overall.generic.encodingSpeed", pos == 0 ? 0.05f : static_cast<float>(pos * 0.1));
        ShowSpeed();
        return true;
    }

private:
    const char* TargetKey() {
        const int target = GetComboSel(output::speed_target);
        return target >= 0 && target < 4 ? kAffinityKeys[target] : nullptr;
    }

    void ShowSpeed() {
        const float speed = GetPrefFloat("overall.generic.encodingSpeed");
        if (speed > 0) {
            char text[128];
            std::snprintf(text, sizeof text, "%s (%.1fx)", Ui("control_speed"), static_cast<double>(speed));
            SetItemText(output::control_speed, text);
            SetCheck(output::control_speed, true);
            EnableWindow(GetItem(output::speed_slider), TRUE);
            SendItemMessage(output::speed_slider, TBM_SETPOS, TRUE, static_cast<LPARAM>(speed * 10 + 0.5f));
        } else {
            SetItemText(output::control_speed, Ui("control_speed"));
            SetCheck(output::control_speed, false);
            EnableWindow(GetItem(output::speed_slider), FALSE);
            SendItemMessage(output::speed_slider, TBM_SETPOS, TRUE, 161);
        }
    }

    int cores_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Automation tab

const ControlBinding kAutomationRows[] = {
    {automation::reloc_path, "overall.automation.relocInputsPath", 0, kTextField},
    {automation::reloc_action, "overall.automation.relocInputs", 0, kComboBox},
    {automation::custom_preset, "overall.automation.customPreset", 0, kComboBox},
    {automation::save_report, "overall.automation.saveReport", 0, kCheckBox},
    {automation::format_names, "overall.automation.formatting", 0, kCheckBox},
    {automation::name_format, "overall.automation.fileNameFormat", 0, kComboBox},
    {automation::keep_dirs, "overall.automation.dupDir", 0, kCheckBox},
    {0, nullptr, 0, 0}};

const char* const kRelocKeys[3][2] = {{"overall.automation.relocInputs", "overall.automation.relocInputsPath"},
                                      {"overall.automation.relocErrors", "overall.automation.relocErrorsPath"},
                                      {"overall.automation.relocOutputs", "overall.automation.relocOutputsPath"}};

class CDlgAutomation : public COptionTab {
public:
    CDlgAutomation() : COptionTab(dlg::opt_automation::id, "automation", true, kAutomationRows) {}

    bool OnInitDialog() override {
        FillCombo(GetItem(automation::custom_preset), {"Preset-$(SourceFileExt).xml"});
        FillCombo(GetItem(automation::name_format),
                  SplitListText("$(Artist) - $(Title),$(Artist) - $(Album) - $(Title),$(Artist)\\$(Title),"
                                "$(Artist)\\$(Artist) - $(Title),$(Artist)\\$(Track). $(Title),$(Artist)\\$(Album)\\$(Title),"
                                "$(Artist)\\$(Album)\\$(Track). $(Title),$(Year)\\$(Artist) - $(Title),"
                                "$(Year)\\$(Artist)\\$(Title),$(Genre)\\$(Artist) - $(Title),$(Genre)\\$(Artist)\\$(Title),"
                                "$(NowYear)$(NowMonth)$(NowDay)-$(NowHour)$(NowMin)$(NowSec),"
                                "$(SourceFileName)_$(PresetFileName),DSC$(%05d),$(FileTimeCreation),$(FileTimeModified)"));
        // The action list is the page's own: the binder's numbers are replaced, and a rebind
        // does not fill it again.
        FillCombo(GetItem(automation::reloc_action), {Ui("no_action"), Ui("move_to"), Ui("copy_to"), Ui("delete")});
        FillCombo(GetItem(automation::reloc_target), {Ui("done_inputs"), Ui("error_inputs"), Ui("done_outputs")});
        SetComboSel(automation::reloc_target, 0);
        Rebind();
        HWND autoTask = GetItem(automation::auto_task);
        SetWindowLongPtrA(autoTask, GWL_STYLE,
                          (GetWindowLongPtrA(autoTask, GWL_STYLE) & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_PUSHBUTTON);
        LoadControls();
        return true;
    }

    void RefreshStates() override {
        const bool formatting = GetPrefInt("overall.automation.formatting") != 0;
        EnableWindow(GetItem(automation::name_format), formatting);
        EnableWindow(GetItem(automation::keep_dirs), !formatting);
        const bool custom = *GetPrefString("overall.automation.customPreset") != 0;
        EnableWindow(GetItem(automation::custom_preset), custom);
        SetCheck(automation::custom_preset_check, custom);
        const int action = GetComboSel(automation::reloc_action);
        const bool folder = action == 1 || action == 2;
        EnableWindow(GetItem(automation::reloc_path), folder);
        EnableWindow(GetItem(automation::browse), folder);
        SendItemMessage(automation::auto_task, BM_SETSTATE, GetPrefInt("overall.automation.autoTask") > 0, 0);
    }

    bool OnControlSelChange(int id) override {
        if (id == automation::reloc_target) {
            Rebind();
            LoadControls();
            return true;
        }
        if (id == automation::reloc_action && GetComboSel(automation::reloc_action) == 3 &&
            GetComboSel(automation::reloc_target) != 2)
            MessageBoxA(hwnd_, Ui("delete_notice"), "Information", MB_OK);
        return id == automation::reloc_action;
    }

    bool OnControlCommand(int id) override {
        switch (id) {
        case automation::custom_preset_check:
            SetPrefString("overall.automation.customPreset",
                          IsChecked(automation::custom_preset_check) ? GetItemText(automation::custom_preset).c_str() : "");
            break;
        case automation::browse: {
            const ControlBinding* row = Row(automation::reloc_path);
            char path[4096] = {};
            std::snprintf(path, sizeof path, "%s", row && row->key ? GetPrefString(row->key) : "");
            if (row && row->key && BrowseForPath(path, sizeof path, Ui("browse"), hwnd_) > 0) SetPrefString(row->key, path);
            break;
        }
        case automation::save_report:
        case automation::auto_task: break;
        default: return false;
        }
        LoadControls();
        return true;
    }

private:
    void Rebind() {
        int target = GetComboSel(automation::reloc_target);
        if (target < 0 || target > 2) target = 0;
        SetRowKey(automation::reloc_action, kRelocKeys[target][0]);
        SetRowKey(automation::reloc_path, kRelocKeys[target][1]);
        if (ControlBinding* row = Row(automation::reloc_action)) row->value = 1;  // a list: the index is the action
    }
};

// ---------------------------------------------------------------------------------------------
// Tagging tab

const ControlBinding kTaggingRows[] = {
    {tagging::transfer_tags, "overall.output.tag", 0, kCheckBox},
    {tagging::creation_time, "overall.output.creationTime", 0, kCheckBox},
    {tagging::write_time, "overall.output.lastWriteTime", 0, kCheckBox},
    {0, nullptr, 0, 0}};

// ---------------------------------------------------------------------------------------------
// Time tab

const ControlBinding kTimeRows[] = {
    {timing::split_mode, "overall.task.splitMode", 0, kComboBox},
    {timing::split_param, "overall.task.splitParam", 0, kTextField},
    {0, nullptr, 0, 0}};

constexpr int kStartFields[4] = {timing::start_hours, timing::start_minutes, timing::start_seconds,
                                 timing::start_millis};
constexpr int kEndFields[4] = {timing::end_hours, timing::end_minutes, timing::end_seconds, timing::end_millis};

class CDlgTime : public COptionTab {
public:
    CDlgTime() : COptionTab(dlg::opt_time::id, "time", true, kTimeRows) {}

    bool OnInitDialog() override {
        SendItemMessage(timing::audio_offset_slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 6000));
        FillCombo(GetItem(timing::speed), SplitListText("1x|2x|3x|4x|5x|6x|7x|8x|9x|10x|20x|30x|40x|50x|60x"));
        SetComboSel(timing::speed, 0);
        return true;
    }

    void RefreshStates() override {
        const bool split = GetPrefInt("overall.task.mode") == 4;
        EnableWindow(GetItem(timing::split_mode), split);
        EnableWindow(GetItem(timing::split_param), split);
        static const char* const kUnits[] = {"secs", "KB", "frames"};
        const int unit = GetPrefInt("overall.task.splitMode");
        SetItemText(timing::split_unit, Ui(kUnits[unit >= 0 && unit < 3 ? unit : 0]));
        const int speed = GetPrefInt("overall.decoding.speed");
        ++loading_;
        SetItemText(timing::speed, Format("%dx", speed).c_str());
        SetCheck(timing::speed_transform, speed >= 2);
        QueueItem* item = OptionsCurrentItem();
        // A running item's times are in use by its worker: they are shown, not edited.
        const bool editable = item && !ItemBusy(item);
        for (int id : kStartFields) EnableWindow(GetItem(id), editable);
        for (int id : kEndFields) EnableWindow(GetItem(id), editable);
        for (int id : {timing::audio_offset, timing::audio_offset_slider}) EnableWindow(GetItem(id), editable);
        if (item) {
            SetItemText(timing::audio_offset, Format("%d", item->audioOffset).c_str());
            SendItemMessage(timing::audio_offset_slider, TBM_SETPOS, TRUE, item->audioOffset / 10 + 3000);
            ShowTime(kStartFields, item->begin);
            ShowTime(kEndFields, item->end);
        } else {
            SetItemText(timing::audio_offset, "");
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
        if (id == timing::audio_offset) {
            long long offset = 0;
            if (!LeadingNumber(GetItemText(timing::audio_offset), offset)) offset = 0;
            offset = std::clamp<long long>(offset, -30000, 30000);
            ForTargets(true, [&](QueueItem* item) { item->audioOffset = static_cast<int32_t>(offset); });
            SendItemMessage(timing::audio_offset_slider, TBM_SETPOS, TRUE, static_cast<LPARAM>(offset / 10 + 3000));
            return true;
        }
        if (id == timing::speed) {
            long long speed = 0;
            if (LeadingNumber(GetItemText(timing::speed), speed) && SetIntInRange("overall.decoding.speed", speed))
                SetCheck(timing::speed_transform, true);
            return true;
        }
        return false;
    }

    bool OnControlSelChange(int id) override {
        if (id != timing::speed) return false;
        long long speed = 1;
        if (LeadingNumber(GetComboText(timing::speed, -1), speed)) SetIntInRange("overall.decoding.speed", speed);
        SetCheck(timing::speed_transform, GetPrefInt("overall.decoding.speed") >= 2);
        return true;
    }

    bool OnControlCommand(int id) override {
        if (id == timing::speed_transform && !IsChecked(timing::speed_transform)) {
            SetPrefInt("overall.decoding.speed", 1);
            RefreshStates();
            return true;
        }
        return id == timing::speed_transform || id == timing::select;
    }

    bool OnControlScroll(int id, int code) override {
        if (id != timing::audio_offset_slider || code != static_cast<int>(TB_ENDTRACK)) return false;
        const auto position = static_cast<int>(SendItemMessage(timing::audio_offset_slider, TBM_GETPOS, 0, 0));
        const int offset = (position - 3000) * 10;
        ++loading_;
        SetItemText(timing::audio_offset, Format("%d", offset).c_str());
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
    CDlgPlugins() : COptionTab(dlg::opt_plugins::id, "plugins", true, nullptr) {}

    bool OnInitDialog() override {
        // Every button takes the size of the configure button.
        RECT r{};
        GetWindowRect(GetItem(plugins::configure), &r);
        buttonWidth_ = r.right - r.left;
        buttonHeight_ = r.bottom - r.top;
        return true;
    }

    // The tree fills the page but for a column at the right edge, where the buttons stack from
    // the bottom up.
    bool OnSize(int width, int height) override {
        const int w = buttonWidth_, h = buttonHeight_, x = width - w;
        MoveWindow(GetItem(plugins::tree), 0, 0, std::max(0, x - 3), height, TRUE);
        MoveWindow(GetItem(plugins::configure), x, height - h, w, h, TRUE);
        MoveWindow(GetItem(4), x, height - 2 * h, w, h, TRUE);
        MoveWindow(GetItem(plugins::add), x, height - 3 * h, w, h, TRUE);
        MoveWindow(GetItem(plugins::enabled), x, height - 4 * h - 8, w, h, TRUE);
        return true;
    }

    void RefreshStates() override {
        if (!built_) {
            built_ = true;
            Rebuild();
        }
        const LPARAM chosen = ChosenData();
        EnableWindow(GetItem(plugins::enabled), chosen >= 0);
        EnableWindow(GetItem(plugins::configure), chosen >= 0 && (chosen >> 16) == 0);
        if (chosen >= 0) SetCheck(plugins::enabled, WinampPluginControl(static_cast<int>(chosen >> 16), 1, chosen & 0xFFFF, nullptr, 0) != 0);
    }

    bool OnNotify(NMHDR* hdr) override {
        if (hdr && hdr->idFrom == plugins::tree && hdr->code == TVN_SELCHANGEDA) RefreshStates();
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
        case plugins::configure:
            // Only DSP plug-ins have a configuration.
            if (chosen >= 0 && (chosen >> 16) == 0) WinampPluginControl(0, 3, chosen & 0xFFFF, nullptr, 0);
            break;
        case plugins::add: AddPlugin(); break;
        case plugins::enabled:
            if (chosen >= 0)
                WinampPluginControl(static_cast<int>(chosen >> 16), 2, chosen & 0xFFFF,
                                    IsChecked(plugins::enabled) ? reinterpret_cast<void*>(1) : nullptr, 0);
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
        HWND tree = GetItem(plugins::tree);
        auto sel = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (!sel) return -1;
        TVITEMA item;
        item.mask = TVIF_PARAM;
        item.hItem = sel;
        if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
        return item.lParam;
    }

    void Rebuild() {
        HWND tree = GetItem(plugins::tree);
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
    case 4: return new COptionTab(dlg::opt_tagging::id, "text", true, kTaggingRows);
    case 5: return new CDlgTime();
    default: return nullptr;
    }
}

COptionTab* CreateOutputSubTab(int n) {
    switch (n) {
    case 2: return new COptionTab(dlg::opt_tagging::id, "text", true, kTaggingRows);
    case 3: return new CDlgPlugins();
    default: return new CDlgAutomation();
    }
}

COptionTab* CreateAudioCfgTab() { return new CDlgSound(dlg::opt_audiocfg::id, "audio"); }

void ShowTabInPopup(COptionTab* tab, HWND owner) { Popup().Open(tab, owner); }

COptionTab* PopupTab() { return Popup().Tab(); }

void ClosePopup() { Popup().Drop(); }

}  // namespace ui
