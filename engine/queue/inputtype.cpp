#include "engine/queue/inputtype.h"

#include <cstring>

#include "common/fileutil.h"

namespace {

const InputTypeRow kSpecialRows[kSpecialInputRowCount] = {
    {nullptr, 43, "Bluray Track", "video/h264", kInputKindVideo},
    {nullptr, 44, "DVD Track", "video/mpeg", kInputKindVideo},
    {nullptr, 45, "Video CD Track", "video/mpeg", kInputKindVideo},
    {nullptr, 42, "Audio CD Track", "x-content/audio-cdda", kInputKindAudio},
    {nullptr, 38, "Network Stream", "application/octet-stream", kInputKindVideo},
    {nullptr, 50, "Capture Device", "application/octet-stream", kInputKindVideo},
    {"", 0, "", "application/octet-stream", kInputKindUnknown},
};

// Searched in order; the first equal extension wins ("mpa" stands twice, the first is found).
const InputTypeRow kExtensionRows[kInputTypeCount + 1] = {
    {"mp2", 9, "MPEG-1 Layer 2", "audio/mpeg", 1},
    {"mpa", 9, "MPEG-1 Audio", "audio/mpeg", 1},
    {"mp3", 11, "MPEG-1 Layer 3", "audio/mpeg", 1},
    {"mp4", 6, "MPEG-4 Video", "video/mp4", 2},
    {"m4v", 6, "MPEG-4 Video", "video/mp4", 2},
    {"mpa", 9, "MPEG Audio", "audio/mpeg", 1},
    {"m4a", 12, "MPEG-4 Audio", "audio/mp4", 1},
    {"ac3", 7, "AC-3 Audio", "audio/x-ac3", 1},
    {"dts", 8, "DTS Audio", "audio/x-dts", 1},
    {"3gp", 10, "3GPP", "video/3gpp", 2},
    {"3g2", 10, "3GPP2", "video/3gpp", 2},
    {"ogg", 13, "Ogg/Vorbis", "application/ogg", 1},
    {"aac", 14, "MPEG-4 AAC", "audio/x-aac", 1},
    {"wav", 47, "Waveform", "audio/x-wav", 1},
    {"pcm", 46, "Raw Audio", "audio/x-pcm", 1},
    {"ra", 15, "RealAudio", "audio/x-pn-realaudio", 1},
    {"ram", 15, "RealAudio", "audio/x-pn-realaudio", 1},
    {"amr", 17, "AMR NB/WB", "audio/amr", 1},
    {"spx", 17, "Speex Audio", "audio/x-speex", 1},
    {"mpc", 18, "MusePack", "audio/x-musepack", 1},
    {"wma", 19, "Windows Media Audio", "audio/x-ms-wma", 1},
    {"ape", 20, "Monkey's Audio", "audio/x-ape", 1},
    {"tta", 21, "True Audio", "audio/x-tta", 1},
    {"apl", 20, "Monkey's Audio", "audio/x-apl", 1},
    {"flac", 22, "FLAC Audio", "audio/x-flac", 1},
    {"wv", 23, "WavPack Audio", "audio/x-wavpack", 1},
    {"als", 24, "MPEG4 Lossless", "application/octet-stream", 1},
    {"cda", 42, "CD Audio Track", "application/octet-stream", 1},
    {"mpg", 1, "MPEG Video", "video/mpeg", 2},
    {"mpeg", 1, "MPEG Video", "video/mpeg", 2},
    {"m1v", 2, "MPEG-1 Video ES", "video/mpeg", 2},
    {"m2v", 3, "MPEG-2 Video ES", "video/mpeg", 2},
    {"mpv", 1, "MPEG Video", "video/mpeg", 2},
    {"vdr", 3, "MPEG-2 Video", "video/mpeg", 2},
    {"dat", 2, "Video CD Track", "video/mpeg", 2},
    {"mka", 25, "Matroska Audio", "audio/x-matroska", 1},
    {"mkv", 26, "Matroska Video", "video/x-matroska", 2},
    {"avi", 27, "Audio Video Interleave", "video/avi", 2},
    {"rm", 16, "RealMedia", "video/x-pn-realvideo", 2},
    {"rmvb", 16, "RealMedia (VBR)", "application/vnd.rn-realmedia", 2},
    {"mov", 28, "Quick Time", "video/quicktime", 2},
    {"wmv", 29, "Windows Media Video", "video/x-ms-asf", 2},
    {"wm", 29, "Windows Media", "video/x-ms-wm", 2},
    {"asf", 29, "Windows Media Stream", "video/x-ms-asf", 2},
    {"vob", 3, "DVD/MPEG2", "video/mpeg", 2},
    {"tp", 4, "MPEG TS", "video/x-mpegts", 2},
    {"ts", 4, "MPEG TS", "video/x-mpegts", 2},
    {"m2ts", 5, "AVCHD", "video/x-mpegts", 2},
    {"mts", 5, "AVCHD", "video/x-mpegts", 2},
    {"263", 30, "H.263 ES", "application/octet-stream", 2},
    {"264", 31, "H.264 ES", "video/x-mpeg-avc", 2},
    {"avc", 31, "H.264 ES", "video/x-mpeg-avc", 2},
    {"avs", 39, "AviSynth Script", "text/plain", 16},
    {"flv", 32, "Flash Video", "video/flv", 2},
    {"cue", 33, "CUE Sheet", "text/plain", 16},
    {"y4m", 48, "YUV4MPEG Video", "application/octet-stream", 2},
    {"divx", 6, "DivX Video", "video/divx", 2},
    {"yuv", 49, "YUV Raw Video", "application/octet-stream", 2},
    {"yv12", 49, "YV12 Raw Video", "application/octet-stream", 2},
    {"gif", 40, "GIF Image", "image/gif", 2},
    {"jpg", 40, "JPEG Image", "image/jpeg", 2},
    {"jpeg", 40, "JPEG Image", "image/jpeg", 2},
    {"mpo", 40, "Multi-Object Image", "image/mpo", 2},
    {"png", 40, "PNG Image", "image/png", 2},
    {"slg", 41, "D-ADU Data File", "application/octet-stream", 2},
    {"log", 41, "D-ADU Data File", "application/octet-stream", 2},
    {"m3u", 34, "M3U Playlist", "text/plain", 32},
    {"lst", 35, "Playlist", "text/plain", 32},
    {"txt", 36, "Plain Text", "text/plain", 8},
    {nullptr, 0, nullptr, nullptr, 0},
};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The extension (text after the last '.') compared in place with a table entry, A-Z folded to
// lower case. No copy is made, so an extension of any length is safe.
bool ExtensionEquals(const char* ext, std::size_t length, const char* tableExt) {
    if (std::strlen(tableExt) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (AsciiLower(ext[i]) != tableExt[i]) return false;
    }
    return true;
}

}  // namespace

const InputTypeRow* GetSpecialInputRow(int which) {
    if (which < 0 || which >= kSpecialInputRowCount) return &kSpecialRows[kInputRowUnknown];
    return &kSpecialRows[which];
}

const InputTypeRow* UnknownInputRow() { return &kSpecialRows[kInputRowUnknown]; }

const InputTypeRow* ClassifyInput(const char* path) {
    if (!path) return UnknownInputRow();
    if (StartsWith(path, "br://")) return &kSpecialRows[kInputRowBluray];
    if (StartsWith(path, "dvd://")) return &kSpecialRows[kInputRowDvd];
    if (StartsWith(path, "vcd://")) return &kSpecialRows[kInputRowVcd];
    if (StartsWith(path, "cdda://")) return &kSpecialRows[kInputRowAudioCd];
    std::size_t length = std::strlen(path);
    if (length >= 4 && ExtensionEquals(path + length - 4, 4, ".cda")) return &kSpecialRows[kInputRowAudioCd];
    if (IsCapDevicePath(path)) return &kSpecialRows[kInputRowCapture];
    if (std::strstr(path, "://")) return &kSpecialRows[kInputRowNetwork];
    const char* dot = std::strrchr(path, '.');
    if (!dot) return UnknownInputRow();
    const char* ext = dot + 1;
    std::size_t extLength = std::strlen(ext);
    for (const InputTypeRow* row = kExtensionRows; row->ext; ++row) {
        if (ExtensionEquals(ext, extLength, row->ext)) return row;
    }
    return UnknownInputRow();
}

const InputTypeRow* GetInputTypeRow(int index) {
    if (index < 0 || index > kInputTypeCount) return nullptr;
    return &kExtensionRows[index];
}

std::string BuildFileTypesDefault() {
    // A folder scan takes the files that hold audio or video: not pictures (a cover), data files
    // (a rip log), text, scripts, cue sheets or playlists that sit beside them.
    constexpr uint32_t kImageType = 40, kDataFileType = 41;
    std::string text;
    for (const InputTypeRow* row = kExtensionRows; row->ext; ++row) {
        if (row->kind != kInputKindAudio && row->kind != kInputKindVideo) continue;
        if (row->typeId == kImageType || row->typeId == kDataFileType) continue;
        if (!text.empty()) text += ';';
        text += row->ext;
    }
    return text;
}
