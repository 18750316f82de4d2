// The shipped language list and string tables: every key the program looks up resolves in
// every module and language, and each text's printf conversions are the ones its callers
// pass arguments for, so no translation can crash a formatter.
#include "common/stringtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "env_scope.h"

namespace {

// String-table paths in lang.xml are relative to the program folder, which data/ mirrors.
const std::string kDataDir = std::string(SQ_SOURCE_DIR) + "/data";

// The printf conversions of a format, one letter each: d for integers, f for floating point,
// s for strings; anything else (%n, %p, '*' widths, unknown letters) shows as '?', which no
// caller passes. "%%" is no conversion.
std::string Conversions(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p && std::strchr("-+ #0'", *p)) ++p;
        bool star = false;
        while (*p == '*' || (*p >= '0' && *p <= '9')) star |= *p++ == '*';
        if (*p == '.') {
            ++p;
            while (*p == '*' || (*p >= '0' && *p <= '9')) star |= *p++ == '*';
        }
        while (*p && std::strchr("hlLzjtq", *p)) ++p;
        if (!*p) {
            out += '?';
            break;
        }
        char c = *p;
        if (star) out += '?';
        else if (std::strchr("diuoxXc", c)) out += 'd';
        else if (std::strchr("fFeEgGaA", c)) out += 'f';
        else if (c == 's') out += 's';
        else out += '?';
    }
    return out;
}

TEST(ShippedStringsTest, ConversionsParser) {
    EXPECT_EQ(Conversions("plain"), "");
    EXPECT_EQ(Conversions("100%% done"), "");
    EXPECT_EQ(Conversions("Pass %d of %d: %.1f%%"), "ddf");
    EXPECT_EQ(Conversions("%-10s|%05lu|%lld"), "sdd");
    EXPECT_EQ(Conversions("%n"), "?");
    EXPECT_EQ(Conversions("%*d"), "?");
    EXPECT_EQ(Conversions("ends with %"), "?");
}

struct KeyRow {
    const char* module;
    const char* key;
    const char* conversions;  // what the callers pass, as Conversions() spells it
};

// Every key the program looks up, by module, with the arguments its callers format it with.
const KeyRow kKeys[] = {
    // qxcore
    {"qxcore", "SCAN_PLUGINS", ""},
    {"qxcore", "inited", ""},
    {"qxcore", "httpd_starting", "d"},
    {"qxcore", "httpd_started", "d"},
    {"qxcore", "httpd_error", ""},
    {"qxcore", "settings_not_applied", ""},
    {"qxcore", "WAIT_PROCESS", ""},
    {"qxcore", "UNLOADING_DLL", ""},
    {"qxcore", "INVALID_BITRATE", ""},
    {"qxcore", "ERROR_PS", ""},
    {"qxcore", "ERROR_LOADING", "s"},
    {"qxcore", "INCORRECT_VERSION", ""},
    {"qxcore", "LOADED", "s"},
    {"qxcore", "UNLOADED", "s"},
    {"qxcore", "STOPPED", ""},
    {"qxcore", "CT_INFO", ""},
    {"qxcore", "LOAD_ENCODER", "s"},
    {"qxcore", "SOURCE_FAIL", "s"},
    {"qxcore", "INVALID_SAMPLE_RATE", "s"},
    {"qxcore", "INCORRECT_SETTINGS", ""},
    {"qxcore", "FOUND_MATCH_PLUGIN", "s"},
    {"qxcore", "ERROR_DECODE_AUDIO", "s"},
    {"qxcore", "ERROR_AUDIO", ""},
    {"qxcore", "benchmarking", ""},
    {"qxcore", "streaming", ""},
    {"qxcore", "preprocessing", ""},
    {"qxcore", "transcoding_audio", ""},
    {"qxcore", "analyze_stream", ""},
    {"qxcore", "parse_url", ""},
    {"qxcore", "scan_stream", ""},
    {"qxcore", "scan_audio", ""},
    {"qxcore", "test_phase", ""},
    {"qxcore", "relocating", ""},
    {"qxcore", "transcode_paused", ""},
    {"qxcore", "transcode_resuming", ""},
    {"qxcore", "encode_thread_block", ""},
    {"qxcore", "decode_thread_block", ""},
    {"qxcore", "audio_transcoding", ""},
    {"qxcore", "test_failure", ""},
    {"qxcore", "START_JOB", "s"},
    {"qxcore", "FINISH_JOB", "s"},
    {"qxcore", "TRANSCODE_INTERRUPTED", ""},
    {"qxcore", "NO_FILE_OUTPUTED", ""},
    {"qxcore", "TRANSCODE_DONE", ""},
    {"qxcore", "TRANSCODE_REPORT", "ddd"},
    {"qxcore", "TRANSCODE_FAIL", ""},
    {"qxcore", "TRANSCODE_PARTLY", ""},
    {"qxcore", "TRANSCODE_FAILED_ITEMS", ""},
    {"qxcore", "ITEM_FAILED", "sds"},
    {"qxcore", "ITEM_ERROR", ""},
    {"qxcore", "ITEM_ERROR_5", ""},
    {"qxcore", "ITEM_ERROR_6", ""},
    {"qxcore", "ITEM_ERROR_8", ""},
    {"qxcore", "ITEM_ERROR_11", ""},
    {"qxcore", "ITEM_ERROR_12", ""},
    {"qxcore", "ITEM_ERROR_13", ""},
    {"qxcore", "ITEM_ERROR_15", ""},
    {"qxcore", "ITEM_ERROR_17", ""},
    {"qxcore", "ITEM_ERROR_18", ""},
    {"qxcore", "JOIN_TIP1", "ss"},
    {"qxcore", "JOIN_TIP2", "ss"},
    {"qxcore", "INVALID_TEMP_DIR", ""},
    {"qxcore", "INVALID_TEMP_SPACE", ""},
    {"qxcore", "OVERWRITE_CONFIRM", "s"},
    {"qxcore", "OVERWRITE_KEEP", ""},
    {"qxcore", "ERROR_DELETE", "s"},
    {"qxcore", "ERROR_MAKE_DIR", "s"},
    {"qxcore", "output_not_writable", ""},
    {"qxcore", "PREVIEW_TIP2", ""},
    // qxgui
    {"qxgui", "update_prompt", ""},
    {"qxgui", "start_transcoding", ""},
    {"qxgui", "fetch_rss", ""},
    {"qxgui", "httpd_error", ""},
    {"qxgui", "menu_setup_wizard", ""},
    {"qxgui", "job_done", ""},
    {"qxgui", "job_stopped", ""},
    {"qxgui", "job_skipped", ""},
    {"qxgui", "prompt_ok", ""},
    {"qxgui", "prompt_cancel", ""},
    {"qxgui", "prompt_yes", ""},
    {"qxgui", "prompt_no", ""},
    {"qxgui", "message", ""},
    {"qxgui", "confirm", ""},
    {"qxgui", "prompt", ""},
    {"qxgui", "persist_choice", ""},
    {"qxgui", "prompt_errcode", "d"},
    {"qxgui", "prompt_countdown", "d"},
    {"qxgui", "NO_FILE", ""},
    {"qxgui", "DRIVE_ABSENT", ""},
    {"qxgui", "CHANGE_DEST_DIR", ""},
    {"qxgui", "NO_READY_ITEM", ""},
    {"qxgui", "NO_ITEM", ""},
    {"qxgui", "preprocessing", ""},
    {"qxgui", "shutdown_notice", ""},
    {"qxgui", "switch_benchmark", ""},
    {"qxgui", "revert_notice", ""},
    {"qxgui", "mins", ""},
    {"qxgui", "secs", ""},
    {"qxgui", "tip_add", ""},
    {"qxgui", "tip_remove", ""},
    {"qxgui", "tip_clear", ""},
    {"qxgui", "tip_info", ""},
    {"qxgui", "tip_play", ""},
    {"qxgui", "tip_wizard", ""},
    {"qxgui", "tip_dropbox", ""},
    {"qxgui", "tip_settings", ""},
    {"qxgui", "tip_pause", ""},
    {"qxgui", "tip_start", ""},
    {"qxgui", "logger", ""},
    {"qxgui", "audio_opts", ""},
    {"qxgui", "no_rss", ""},
    {"qxgui", "video", ""},
    {"qxgui", "audio", ""},
    {"qxgui", "container", ""},
    {"qxgui", "original", ""},
    {"qxgui", "time_elapsed", ""},
    {"qxgui", "frames", ""},
    {"qxgui", "encoding_speed", ""},
    {"qxgui", "compression", ""},
    {"qxgui", "gain_applied", ""},
    {"qxgui", "menu_left_channel", ""},
    {"qxgui", "menu_right_channel", ""},
    {"qxgui", "Track", ""},
    {"qxgui", "cpu_util", ""},
    {"qxgui", "videodec", ""},
    {"qxgui", "videoenc", ""},
    {"qxgui", "transcoded", ""},
    {"qxgui", "benchmark", ""},
    {"qxgui", "state_idle", ""},
    {"qxgui", "benchmarking", ""},
    {"qxgui", "transcoding", ""},
    {"qxgui", "paused", ""},
    {"qxgui", "splitting", ""},
    {"qxgui", "stopping", ""},
    {"qxgui", "error", ""},
    {"qxgui", "preset_loaded", ""},
    {"qxgui", "preset_saved", ""},
    {"qxgui", "progress_test", "f"},
    {"qxgui", "progress_audio", "f"},
    {"qxgui", "progress_1pass", "f"},
    {"qxgui", "progress_npass", "ddf"},
    {"qxgui", "EXIT_CONFIRM", ""},
    {"qxgui", "comments", ""},
    {"qxgui", "add_comments", ""},
    {"qxgui", "phone", ""},
    {"qxgui", "pmp", ""},
    {"qxgui", "game", ""},
    {"qxgui", "home", ""},
    {"qxgui", "pda", ""},
    {"qxgui", "other", ""},
    {"qxgui", "COMMAND_ERROR", ""},
    {"qxgui", "enter_url", ""},
    {"qxgui", "NO_ENCODER_VER", "s"},
    {"qxgui", "pause_error", ""},
    {"qxgui", "need_restart", ""},
    {"qxgui", "select_processed", ""},
    {"qxgui", "queue_manager", ""},
    {"qxgui", "Quorvex Dropbox", ""},
    {"qxgui", "fl_name", ""},
    {"qxgui", "fl_size", ""},
    {"qxgui", "fl_duration", ""},
    {"qxgui", "fl_state", ""},
    {"qxgui", "fl_speed", ""},
    {"qxgui", "fl_type", ""},
    {"qxgui", "fl_group", ""},
    {"qxgui", "fl_preset", ""},
    {"qxgui", "fl_path", ""},
    {"qxgui", "fl_destdir", ""},
    {"qxgui", "ready", ""},
    {"qxgui", "done", ""},
    {"qxgui", "skipped", ""},
    {"qxgui", "encoding", ""},
    {"qxgui", "skipping", ""},
    {"qxgui", "finishing", ""},
    {"qxgui", "original_folder", ""},
    {"qxgui", "sound", ""},
    {"qxgui", "tasking", ""},
    {"qxgui", "automation", ""},
    {"qxgui", "text", ""},
    {"qxgui", "time", ""},
    {"qxgui", "summary", ""},
    {"qxgui", "tagging", ""},
    {"qxgui", "plugins", ""},
    {"qxgui", "format_unsupported", ""},
    {"qxgui", "channel", ""},
    {"qxgui", "audioenc", ""},
    {"qxgui", "audiodec", ""},
    {"qxgui", "parallel_jobs", "d"},
    {"qxgui", "ask_action", ""},
    {"qxgui", "overwrite_existing", ""},
    {"qxgui", "rename_existing", ""},
    {"qxgui", "skip_existing", ""},
    {"qxgui", "control_speed", ""},
    {"qxgui", "no_action", ""},
    {"qxgui", "move_to", ""},
    {"qxgui", "copy_to", ""},
    {"qxgui", "delete", ""},
    {"qxgui", "done_inputs", ""},
    {"qxgui", "error_inputs", ""},
    {"qxgui", "done_outputs", ""},
    {"qxgui", "delete_notice", ""},
    {"qxgui", "KB", ""},
    {"qxgui", "dsp_plugins", ""},
    {"qxgui", "in_plugins", ""},
    {"qxgui", "add_plugin", ""},
    {"qxgui", "bitrate", ""},
    {"qxgui", "duration", ""},
    {"qxgui", "overhead", ""},
    {"qxgui", "codec", ""},
    {"qxgui", "profile", ""},
    {"qxgui", "resolution", ""},
    {"qxgui", "aspect_ratio", ""},
    {"qxgui", "PAR", ""},
    {"qxgui", "framerate", ""},
    {"qxgui", "fps", ""},
    {"qxgui", "scan", ""},
    {"qxgui", "srate", ""},
    {"qxgui", "bit_depth", ""},
    {"qxgui", "delay", ""},
    {"qxgui", "volume", ""},
    {"qxgui", "selfile", ""},
    {"qxgui", "target_format", ""},
    {"qxgui", "muxer", ""},
    {"qxgui", "stream_copy", ""},
    {"qxgui", "encoder", ""},
    {"qxgui", "mode", ""},
    {"qxgui", "ABR", ""},
    {"qxgui", "VBR", ""},
    {"qxgui", "CBR", ""},
    {"qxgui", "CQP", ""},
    {"qxgui", "twopass", ""},
    {"qxgui", "threepass", ""},
    {"qxgui", "quality", ""},
    {"qxgui", "video_quant", ""},
    {"qxgui", "deint", ""},
    {"qxgui", "estsize", ""},
    {"qxgui", "positioning", ""},
    {"qxgui", "startoffset", ""},
    {"qxgui", "length", ""},
    {"qxgui", "split_into", ""},
    {"qxgui", "menu_file", ""},
    {"qxgui", "menu_item", ""},
    {"qxgui", "menu_job", ""},
    {"qxgui", "menu_options", ""},
    {"qxgui", "menu_support", ""},
    {"qxgui", "menu_exit", ""},
    {"qxgui", "menu_start", ""},
    {"qxgui", "menu_start_audio", ""},
    {"qxgui", "menu_stop", ""},
    {"qxgui", "menu_about", ""},
    {"qxgui", "menu_version", ""},
    {"qxgui", "menu_set_out_folder", ""},
    {"qxgui", "menu_add_file", ""},
    {"qxgui", "menu_add_dir", ""},
    {"qxgui", "menu_add_dir_all", ""},
    {"qxgui", "menu_add_track", ""},
    {"qxgui", "menu_add_url", ""},
    {"qxgui", "menu_add_rss", ""},
    {"qxgui", "menu_add_folder_watcher", ""},
    {"qxgui", "menu_play", ""},
    {"qxgui", "menu_play_result", ""},
    {"qxgui", "menu_preview", ""},
    {"qxgui", "menu_settings", ""},
    {"qxgui", "menu_load_preset", ""},
    {"qxgui", "menu_save_preset", ""},
    {"qxgui", "menu_revert", ""},
    {"qxgui", "menu_toggle_console", ""},
    {"qxgui", "menu_toggle_stats", ""},
    {"qxgui", "menu_check_update", ""},
    {"qxgui", "menu_load_queue", ""},
    {"qxgui", "menu_save_queue", ""},
    {"qxgui", "menu_remove", ""},
    {"qxgui", "menu_save_settings", ""},
    {"qxgui", "menu_remove_all", ""},
    {"qxgui", "menu_remove_finished", ""},
    {"qxgui", "menu_remove_error", ""},
    {"qxgui", "menu_remove_skipped", ""},
    {"qxgui", "menu_audioenc_ver", ""},
    {"qxgui", "menu_videoenc_ver", ""},
    {"qxgui", "menu_muxer_ver", ""},
    {"qxgui", "menu_website", ""},
    {"qxgui", "menu_forum", ""},
    {"qxgui", "menu_state_done", ""},
    {"qxgui", "menu_state_undone", ""},
    {"qxgui", "menu_state_reset", ""},
    {"qxgui", "menu_ui_normal", ""},
    {"qxgui", "menu_ui_expert", ""},
    {"qxgui", "menu_ui_simple", ""},
    {"qxgui", "menu_detail_dest", ""},
    {"qxgui", "menu_detail_src", ""},
    {"qxgui", "menu_set_out_file", ""},
    {"qxgui", "menu_set_preset", ""},
    {"qxgui", "menu_crop_disabled", ""},
    {"qxgui", "menu_crop_manual", ""},
    {"qxgui", "menu_crop_to_fit", ""},
    {"qxgui", "menu_expand_to_fit", ""},
    {"qxgui", "menu_no_action", ""},
    {"qxgui", "menu_poweroff", ""},
    {"qxgui", "menu_hibernate", ""},
    {"qxgui", "menu_standby", ""},
    {"qxgui", "menu_reboot", ""},
    {"qxgui", "menu_logoff", ""},
    {"qxgui", "menu_invert_sel", ""},
    {"qxgui", "menu_show_ui", ""},
    {"qxgui", "menu_pause", ""},
    {"qxgui", "menu_skip", ""},
    {"qxgui", "menu_select_all", ""},
    {"qxgui", "menu_move_up", ""},
    {"qxgui", "menu_move_down", ""},
    {"qxgui", "menu_group", ""},
    {"qxgui", "menu_ungroup", ""},
    {"qxgui", "menu_finish_job", ""},
    {"qxgui", "menu_load_dropbox_url", ""},
    {"qxgui", "menu_load_dropbox_file", ""},
    {"qxgui", "menu_switch_ui", ""},
    {"qxgui", "menu_play_ext", ""},
    {"qxgui", "menu_set_ext_player", ""},
    {"qxgui", "menu_transcoding_stats", ""},
    {"qxgui", "menu_default", ""},
    {"qxgui", "menu_ui_lang", ""},
    {"qxgui", "menu_features", ""},
    {"qxgui", "menu_extensions", ""},
    {"qxgui", "enabled", ""},
    {"qxgui", "auto_select", ""},
    {"qxgui", "compute_replaygain", ""},
    {"qxgui", "source", ""},
    {"qxgui", "resample", ""},
    {"qxgui", "normalize", ""},
    {"qxgui", "balance_channels", ""},
    {"qxgui", "soft_clip", ""},
    {"qxgui", "channel_mapping", ""},
    {"qxgui", "gain", ""},
    {"qxgui", "aid", ""},
    {"qxgui", "all_cores", ""},
    {"qxgui", "browse", ""},
    {"qxgui", "default", ""},
    {"qxgui", "gen_report_file", ""},
    {"qxgui", "format_name", ""},
    {"qxgui", "keep_dir", ""},
    {"qxgui", "load_custom_preset", ""},
    {"qxgui", "auto_task", ""},
    {"qxgui", "transfer_tags", ""},
    {"qxgui", "transfer_creation_time", ""},
    {"qxgui", "transfer_write_time", ""},
    {"qxgui", "playback_speed_xform", ""},
    {"qxgui", "select", ""},
    {"qxgui", "rescan", ""},
    {"qxgui", "configure", ""},
    {"qxgui", "add", ""},
    {"qxgui", "enable_mt", ""},
    {"qxgui", "highest", ""},
    {"qxgui", "lowest", ""},
    {"qxgui", "average_bitrate", ""},
    {"qxgui", "denoiser", ""},
    {"qxgui", "hint_track", ""},
    {"qxgui", "optimal_profile", ""},
    {"qxgui", "enable_ps", ""},
    {"qxgui", "music", ""},
    {"qxgui", "speech", ""},
    {"qxgui", "advanced", ""},
    {"qxgui", "enable_dtx", ""},
    {"qxgui", "amrnb", ""},
    {"qxgui", "amrwb", ""},
    {"qxgui", "hybrid_compression", ""},
    {"qxgui", "correction_file", ""},
    {"qxgui", "best_compression", ""},
    {"qxgui", "flac_exhaustive", ""},
    {"qxgui", "als_apo", ""},
    {"qxgui", "isc", ""},
    {"qxgui", "ltp", ""},
    {"qxgui", "waveform_file", ""},
    {"qxgui", "pcm_file", ""},
    {"qxgui", "stdin_as_input", ""},
    {"qxgui", "pcm_as_input", ""},
    {"qxgui", "no_basic_settings", ""},
    {"qxgui", "device", ""},
    {"qxgui", "start", ""},
    {"qxgui", "crop", ""},
    {"qxgui", "effects", ""},
    {"qxgui", "subtitle", ""},
    {"qxgui", "play", ""},
    {"qxgui", "stop", ""},
    {"qxgui", "use_avs", ""},
    {"qxgui", "parallel", ""},
    {"qxgui", "display_frames", ""},
    {"qxgui", "scale", ""},
    {"qxgui", "thumbnails", ""},
    {"qxgui", "delogo", ""},
    {"qxgui", "FFmpeg", ""},
    {"qxgui", "Xvid", ""},
    {"qxgui", "x264", ""},
    {"qxgui", "CUDA Encoder", ""},
    {"qxgui", "Intel Encoder", ""},
    {"qxgui", "PLUGIN_XML_ERROR", ""},
    // plugins
    {"plugins", "device", ""},
    {"plugins", "play", ""},
    {"plugins", "stop", ""},
    {"plugins", "start", ""},
    {"plugins", "use_avs", ""},
    {"plugins", "parallel", ""},
    {"plugins", "display_frames", ""},
    {"plugins", "scale", ""},
    {"plugins", "thumbnails", ""},
    {"plugins", "deint", ""},
    {"plugins", "effects", ""},
    {"plugins", "delogo", ""},
    {"plugins", "FFmpeg", ""},
    {"plugins", "Xvid", ""},
    {"plugins", "x264", ""},
    {"plugins", "CUDA Encoder", ""},
    {"plugins", "Intel Encoder", ""},
    {"plugins", "menu_settings", ""},
    {"plugins", "PLUGIN_XML_ERROR", ""},
    {"plugins", "video", ""},
    {"plugins", "audio", ""},
    {"plugins", "video_quant", ""},
    {"plugins", "split_into", ""},
    {"plugins", "secs", ""},
    {"plugins", "KB", ""},
    {"plugins", "summary", ""},
    {"plugins", "time", ""},
    {"plugins", "crop", ""},
    {"plugins", "subtitle", ""},
    {"plugins", "text", ""},
};

const char* const kModules[] = {"qxcore", "qxgui", "plugins"};

// The ids of lang.xml, in order.
std::vector<std::string> Languages() {
    std::vector<char> list(4096, 0);
    CStringTable table;
    table.Load("lang.xml", "qxcore", 1, list.data(), static_cast<int>(list.size()));
    std::vector<std::string> ids;
    std::string all = list.data();
    for (std::size_t start = 0; start <= all.size() && !all.empty();) {
        std::size_t end = all.find(';', start);
        if (end == std::string::npos) end = all.size();
        ids.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

TEST(ShippedStringsTest, LanguageList) {
    sqtest::CwdScope cwd(kDataDir);
    const std::vector<std::string> ids = Languages();
    ASSERT_GE(ids.size(), 2u);

    // The engine reads the list into 512 bytes: a language past that could not be chosen.
    std::vector<char> engineBuf(512, 0);
    CStringTable engine;
    ASSERT_EQ(engine.Load("lang.xml", "qxcore", 0, engineBuf.data(), 512), 0);
    EXPECT_EQ(std::count(engineBuf.data(), engineBuf.data() + std::strlen(engineBuf.data()), ';') + 1,
              static_cast<long>(ids.size()));

    // Language 2 is the Chinese one (the web pages' "/zh"); automatic choice finds it on a
    // Chinese system and English elsewhere.
    struct {
        const char* codePage;
        std::size_t expected;
    } automatic[] = {{"936", 1}, {"1252", 0}, {"437", 0}};
    for (const auto& c : automatic) {
        sqtest::EnvScope cp("SQ_ANSI_CODEPAGE", c.codePage);
        CStringTable table;
        ASSERT_EQ(table.Load("lang.xml", "qxgui", 0, nullptr, 0), 0);
        EXPECT_EQ(table.GetLanguageId(), ids[c.expected]) << c.codePage;
    }
}

TEST(ShippedStringsTest, EveryKeyResolvesWithItsConversions) {
    sqtest::CwdScope cwd(kDataDir);
    const std::vector<std::string> ids = Languages();
    ASSERT_FALSE(ids.empty());

    for (const char* module : kModules) {
        CStringTable english;
        ASSERT_EQ(english.Load("lang.xml", module, 1, nullptr, 0), 0) << module;
        for (std::size_t lang = 1; lang <= ids.size(); ++lang) {
            CStringTable table;
            ASSERT_EQ(table.Load("lang.xml", module, static_cast<int>(lang), nullptr, 0), 0)
                << module << " in " << ids[lang - 1];
            for (const KeyRow& row : kKeys) {
                if (std::strcmp(row.module, module) != 0) continue;
                SCOPED_TRACE(std::string(module) + "/" + row.key + " in " + ids[lang - 1]);
                // A missing key comes back as the key itself.
                const char* text = table.GetString(row.key);
                ASSERT_NE(text, row.key) << "missing";
                EXPECT_NE(text[0], 0) << "empty";
                EXPECT_EQ(Conversions(text), row.conversions) << text;
                EXPECT_EQ(Conversions(text), Conversions(english.GetString(row.key))) << text;
                if (!*row.conversions) {
                    EXPECT_EQ(std::strchr(text, '%'), nullptr) << text;
                }
            }
        }
    }
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each first group of the pattern found in the files below a folder with the extension, with the
// file it was first seen in.
void Collect(const std::string& folder, const std::string& extension, const std::regex& pattern,
             std::map<std::string, std::string>& keys) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() != extension) continue;
        const std::string text = ReadFile(entry.path());
        for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
            keys.emplace((*it)[1].str(), entry.path().filename().string());
    }
}

// What the windows show: template captions beginning with '_', menu entries written as keys (lower
// case words joined by '_') and the texts the user-interface code looks up. A key without English
// text would show as the raw key.
TEST(ShippedStringsTest, EveryKeyATemplateAMenuOrTheCodeUsesHasEnglishText) {
    std::map<std::string, std::string> used;
    Collect(kDataDir + "/ui/dialogs", ".xml", std::regex(R"re(caption="_([A-Za-z0-9_]+)")re"), used);
    Collect(kDataDir + "/ui/menus", ".xml", std::regex(R"re(text="([a-z][a-z0-9]*(?:_[a-z0-9]+)+)")re"), used);
    const std::string code = std::string(SQ_SOURCE_DIR) + "/ui";
    Collect(code, ".cpp", std::regex(R"re(\bUi\("([^"]+)"\))re"), used);
    Collect(code, ".cpp", std::regex(R"re(UiStrings\(\)\.GetString\("([^"]+)")re"), used);
    ASSERT_GT(used.size(), 200u) << "the templates, menus or sources were not found";
    EXPECT_TRUE(used.count("menu_file") && used.count("menu_open_out") && used.count("EXIT_CONFIRM"));

    sqtest::CwdScope cwd(kDataDir);
    CStringTable english;
    ASSERT_EQ(english.Load("lang.xml", "qxgui", 1, nullptr, 0), 0);
    for (const auto& [key, where] : used) {
        const char* text = english.GetString(key.c_str(), 0, "");
        EXPECT_TRUE(text && *text) << key << " (used in " << where << ") has no English text";
    }
}

}  // namespace
