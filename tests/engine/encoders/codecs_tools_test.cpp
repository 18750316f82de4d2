// Every Debian tool of the shipped codecs description, driven the way a conversion drives it:
// the shipped preference files are loaded with the real loaders, the tool's command line is built
// from the description and its variables filled in, the tool is started through the process
// runner and fed a WAV header and two seconds of PCM, and its output must decode to two seconds
// at the expected rate and channel count. Paths and tags carry blanks, quotes, '&' and non-ASCII
// characters. A tool missing on the machine is skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/encoders/codecs.h"
#include "engine/encoders/encoder_info.h"
#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "engine/tools/process.h"
#include "platform/cmdline.h"
#include "support/tempdir.h"
#include "support/shipped_data.h"

namespace {

namespace fs = std::filesystem;

using sqtest::DataFile;

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string file = dirs.substr(start, end - start) + "/" + program;
        if (access(file.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Runs a command line to its end and gives its standard output.
std::string Capture(const std::string& line) {
    CProcessWrapper p(kProcStdout | kProcGrowingBuffer);
    if (!p.Start(line.c_str())) return std::string();
    std::string out;
    for (int i = 0; i < 300; ++i) {
        if (p.ReadOutput(100) > 0) out += p.buffer;
        if (p.Wait(0) == 1) break;
    }
    while (p.ReadOutput(100) > 0) out += p.buffer;
    return out;
}

bool FfmpegHasEncoder(const std::string& name) {
    static const std::string list = Capture("ffmpeg -hide_banner -encoders");
    return list.find(" " + name + " ") != std::string::npos;
}

// Two seconds of a 440 Hz sine on every channel, 16-bit little-endian.
std::string SinePcm(uint32_t rate, uint32_t channels) {
    std::string pcm(size_t{rate} * 2 * channels * 2, '\0');
    auto* s = reinterpret_cast<int16_t*>(pcm.data());
    for (uint32_t i = 0; i < rate * 2; ++i) {
        const auto v = static_cast<int16_t>(std::lround(10000 * std::sin(2 * M_PI * 440 * i / rate)));
        for (uint32_t c = 0; c < channels; ++c) s[i * channels + c] = v;
    }
    return pcm;
}

std::string Field(const std::string& info, const std::string& name) {
    const size_t at = info.find(name + "=");
    if (at == std::string::npos) return std::string();
    const size_t end = info.find('\n', at);
    return info.substr(at + name.size() + 1, end == std::string::npos ? std::string::npos : end - at - name.size() - 1);
}

struct ToolCase {
    const char* what;
    const char* encoder;    // option text of overall.audio.encoder
    const char* program;    // the tool that must be on the machine
    const char* ffEncoder;  // for ffmpeg rows: the encoder ffmpeg must have (null: none)
    std::vector<std::pair<const char*, const char*>> prefs;  // key, value text
    uint32_t rate;
    uint32_t channels;
    uint32_t expectRate;
    bool checkTitle;        // the tool writes the title tag, and it comes back whole
    bool readsToEnd = true; // the tool can be told to ignore the header's data size
    uint32_t expectChannels = 0;  // in the output; 0: as many as went in
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.what; }

const std::vector<ToolCase>& Cases() {
    static const std::vector<ToolCase> cases = {
        {"lame VBR", "LAME MP3", "lame", nullptr, {}, 44100, 2, 44100, true},
        {"lame CBR joint stereo", "LAME MP3", "lame", nullptr,
         {{"audioenc.lame.mode", "CBR"}, {"audioenc.lame.bitrate", "320"}, {"audioenc.lame.stereo", "Joint stereo"}},
         44100, 2, 44100, false},
        {"lame ABR", "LAME MP3", "lame", nullptr, {{"audioenc.lame.mode", "ABR"}}, 48000, 2, 48000, false},
        {"lame preset, mono", "LAME MP3", "lame", nullptr, {{"audioenc.lame.preset", "Standard"}}, 22050, 1, 22050, false},
        {"oggenc quality", "Vorbis", "oggenc", nullptr, {}, 44100, 2, 44100, true},
        {"oggenc bitrate", "Vorbis", "oggenc", nullptr, {{"audioenc.vorbis.mode", "Average bitrate"}}, 48000, 2, 48000,
         false},
        {"opusenc defaults", "Opus", "opusenc", nullptr, {}, 48000, 1, 48000, false},
        {"opusenc", "Opus", "opusenc", nullptr, {{"audioenc.opus.ratemode", "Hard CBR"}, {"audioenc.opus.optimize", "Speech"}},
         44100, 2, 48000, true},
        {"flac", "FLAC", "flac", nullptr, {{"audioenc.flac.level", "8"}, {"audioenc.flac.exhaustive", "true"}}, 44100, 2,
         44100, true},
        {"wavpack", "WavPack", "wavpack", nullptr, {{"audioenc.wavpack.best", "true"}}, 44100, 2, 44100, false},
        {"wavpack hybrid", "WavPack", "wavpack", nullptr,
         {{"audioenc.wavpack.hybrid", "true"}, {"audioenc.wavpack.correction", "true"}}, 44100, 2, 44100, false},
        {"speexenc quality", "Speex", "speexenc", nullptr, {}, 32000, 1, 32000, false, false},
        {"speexenc bitrate wideband", "Speex", "speexenc", nullptr,
         {{"audioenc.speex.mode", "Bitrate"}, {"audioenc.speex.bandwidth", "Wideband"}, {"audioenc.speex.vad", "true"},
          {"audioenc.speex.dtx", "true"}},
         16000, 1, 16000, false, false},
        {"speexenc narrowband", "Speex", "speexenc", nullptr, {{"audioenc.speex.bandwidth", "Narrowband"}}, 8000, 1,
         8000, false, false},
        {"mpcenc", "MusePack", "mpcenc", nullptr, {}, 44100, 2, 44100, false, false},
        {"ffmpeg MP3", "FFmpeg", "ffmpeg", "libmp3lame", {{"overall.audio.format", "MP3"}}, 44100, 2, 44100, true},
        {"ffmpeg Vorbis", "FFmpeg", "ffmpeg", "libvorbis", {{"overall.audio.format", "Vorbis"}}, 44100, 2, 44100, false},
        {"ffmpeg LC-AAC", "FFmpeg", "ffmpeg", "aac", {{"overall.audio.format", "LC-AAC"}}, 48000, 2, 48000, true},
        {"ffmpeg Opus", "FFmpeg", "ffmpeg", "libopus", {{"overall.audio.format", "Opus"}}, 48000, 2, 48000, false},
        {"ffmpeg WMA", "FFmpeg", "ffmpeg", "wmav2", {{"overall.audio.format", "WMA 9"}}, 44100, 2, 44100, false},
        {"ffmpeg Speex", "FFmpeg", "ffmpeg", "libspeex", {{"overall.audio.format", "Speex"}}, 16000, 1, 16000, false},
        {"ffmpeg AC-3", "FFmpeg", "ffmpeg", "ac3", {{"overall.audio.format", "AC-3"}}, 48000, 2, 48000, false},
        {"ffmpeg MP2", "FFmpeg", "ffmpeg", "mp2", {{"overall.audio.format", "MP2"}}, 44100, 2, 44100, false},
        {"ffmpeg ALAC", "FFmpeg", "ffmpeg", "alac", {{"overall.audio.format", "ALAC"}}, 44100, 2, 44100, false},
        {"ffmpeg PCM", "FFmpeg", "ffmpeg", "pcm_s16le", {{"overall.audio.format", "PCM"}}, 44100, 2, 44100, false},
        {"ffmpeg ADPCM", "FFmpeg", "ffmpeg", "adpcm_ms", {{"overall.audio.format", "ADPCM"}}, 44100, 2, 44100, false},
        {"ffmpeg WavPack", "FFmpeg", "ffmpeg", "wavpack", {{"overall.audio.format", "WavPack"}}, 44100, 2, 44100, false},
        {"ffmpeg FLAC", "FFmpeg", "ffmpeg", "flac", {{"overall.audio.format", "FLAC"}}, 44100, 2, 44100, false},
        {"ffmpeg TTA", "FFmpeg", "ffmpeg", "tta", {{"overall.audio.format", "TTA"}}, 44100, 2, 44100, false},
        {"WMA through ffmpeg", "WMA", "ffmpeg", "wmav2", {}, 44100, 2, 44100, false},
        {"TTA through ffmpeg", "TTA", "ffmpeg", "tta", {}, 44100, 2, 44100, false},
        {"AMR through ffmpeg", "AMR", "ffmpeg", "libopencore_amrnb", {}, 8000, 1, 8000, false},
        // Six channels in a canonical header (no speaker layout): each tool encodes them all, or
        // the description downmixes to what the format holds.
        {"flac, 6 channels", "FLAC", "flac", nullptr, {}, 48000, 6, 48000, true},
        {"oggenc, 6 channels", "Vorbis", "oggenc", nullptr, {}, 44100, 6, 44100, false},
        {"opusenc, 6 channels", "Opus", "opusenc", nullptr, {}, 48000, 6, 48000, false},
        {"wavpack, 6 channels", "WavPack", "wavpack", nullptr, {}, 44100, 6, 44100, false},
        {"MP3, 6 channels to stereo", "LAME MP3", "ffmpeg", "libmp3lame",
         {{"audioenc.lame.mode", "CBR"}, {"audioenc.lame.bitrate", "192"}}, 44100, 6, 44100, true, true, 2},
        {"MP3 preset, 6 channels to stereo", "LAME MP3", "ffmpeg", "libmp3lame", {{"audioenc.lame.preset", "Standard"}},
         48000, 6, 48000, false, true, 2},
        {"MP3 mono, 6 channels", "LAME MP3", "ffmpeg", "libmp3lame", {{"audioenc.lame.stereo", "Mono"}}, 44100, 6,
         44100, false, true, 1},
        {"Speex, 6 channels to stereo", "Speex", "ffmpeg", "libspeex", {{"audioenc.speex.bandwidth", "Wideband"}},
         16000, 6, 16000, true, true, 2},
        {"ffmpeg WMA, 6 channels to stereo", "FFmpeg", "ffmpeg", "wmav2", {{"overall.audio.format", "WMA 9"}}, 44100,
         6, 44100, false, true, 2},
        {"WMA through ffmpeg, 6 channels to stereo", "WMA", "ffmpeg", "wmav2", {}, 44100, 6, 44100, false, true, 2},
        {"ffmpeg AC-3, 6 channels", "FFmpeg", "ffmpeg", "ac3", {{"overall.audio.format", "AC-3"}}, 48000, 6, 48000,
         false},
        {"ffmpeg FLAC, 6 channels", "FFmpeg", "ffmpeg", "flac", {{"overall.audio.format", "FLAC"}}, 44100, 6, 44100,
         false},
    };
    return cases;
}

class CodecsToolsTest : public ::testing::TestWithParam<ToolCase> {
protected:
    void SetUp() override {
        PrefStore& prefs = GetPrefStore();
        ASSERT_EQ(LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        for (const char* file : {"qxcore64.xml", "defaults.xml", "sonquill.xml"})
            ASSERT_EQ(LoadPrefsFile(DataFile(file).c_str(), 0, nullptr), 0) << file;
        ASSERT_EQ(LoadCodecsDefinition(false, DataFile("qxcodecs.xml").c_str(), 0), 0);
        ASSERT_TRUE(prefs.GetBool("overall.output.tag"));
    }
};

TEST_P(CodecsToolsTest, EncodesTwoSecondsThroughAPipe) {
    const ToolCase& c = GetParam();
    if (!OnPath(c.program)) GTEST_SKIP() << c.program << " is not installed";
    if (!OnPath("ffprobe") || !OnPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    if (c.ffEncoder && !FfmpegHasEncoder(c.ffEncoder)) GTEST_SKIP() << "ffmpeg has no " << c.ffEncoder;

    PrefStore& prefs = GetPrefStore();
    ASSERT_TRUE(prefs.SetFromText("overall.audio.encoder", c.encoder));
    for (const auto& [key, value] : c.prefs) ASSERT_TRUE(prefs.SetFromText(key, value)) << key;

    sqtest::TempDir tmp;
    const std::string outDir = tmp.file("out ü & \"q\" 'x'");
    fs::create_directories(outDir);
    prefs.SetString("overall.task.destdir", outDir.c_str());

    QueueItem item;
    item.file = strdup((tmp.file("in dir") + "/söng & \"it\".wav").c_str());
    item.flags = kItemFlagInUse | kItemFlagHasTags;
    const std::string title = "Tïtle \"q\" & more\\";
    item.tagTitle = strdup(title.c_str());
    item.tagArtist = strdup("Bänd 'x'");
    item.tagAlbum = strdup("$(Title) album");
    AudioTask task;
    task.item = &item;
    task.sourceId = 1;  // the PCM comes through the tool's standard input
    task.channels = static_cast<uint16_t>(c.channels);
    task.sampleRate = c.rate;
    task.bitsPerSample = 16;
    task.blockAlign = static_cast<uint16_t>(c.channels * 2);
    task.byteRate = c.rate * c.channels * 2;
    item.audioTask = &task;
    item.state = kItemEncoding;

    CAudioEncoder enc;
    enc.name = prefs.GetEnumText("overall.audio.encoder", -1);
    ASSERT_EQ(enc.name, c.encoder);
    std::string configured;
    ASSERT_TRUE(BuildEncoderCommandLine(&enc, &item, &configured));
    task.encoders[0] = &enc;
    const std::string dest = GetTaskVariable(&item, &task, "DestFileAudio");
    const std::string line = ExpandCommandLineVariables(&task, configured.c_str(), &item);
    SCOPED_TRACE(line);
    ASSERT_EQ(dest.rfind(outDir + "/söng & \"it\".", 0), 0u) << dest;
    if (c.checkTitle) {
        EXPECT_TRUE(enc.flags & kEncoderTagsOutput);  // the tool tags, not the engine
    }

    CProcessWrapper tool(kProcStdin | kProcStderr | kProcGrowingBuffer);
    ASSERT_TRUE(tool.Start(line.c_str()));
    const std::string pcm = SinePcm(c.rate, c.channels);
    if (!(enc.flags & kEncoderRawPcm)) {
        // The header's data size falls short of the stream, as an unknown length does for a
        // stream past 2 GiB or an estimated one for a longer source: a tool that stops at the
        // size loses the rest. Tools that cannot ignore it get the unknown-length header.
        WaveHeader h;
        InitWaveHeader(&h, c.rate, c.channels, 16, c.readsToEnd ? static_cast<int64_t>(pcm.size() / 2) : -1);
        ASSERT_EQ(tool.Write(&h, sizeof h), static_cast<int>(sizeof h));
    }
    for (size_t at = 0; at < pcm.size(); at += 32768) {
        const int n = static_cast<int>(std::min<size_t>(32768, pcm.size() - at));
        ASSERT_EQ(tool.Write(pcm.data() + at, n), n);
    }
    tool.CloseStdin();
    ASSERT_EQ(tool.Wait(60000), 1);
    int code = -1;
    tool.IsRunning(&code);
    const std::string said = tool.ReadError(0) > 0 ? tool.buffer : "";
    ASSERT_EQ(code, 0) << said;
    ASSERT_TRUE(fs::exists(dest)) << said;

    const std::string info = Capture(
        "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels:stream_tags=title:"
        "format_tags=title -of default=noprint_wrappers=1 " + platform::QuoteArg(dest));
    EXPECT_EQ(Field(info, "sample_rate"), std::to_string(c.expectRate)) << info;
    EXPECT_EQ(Field(info, "channels"), std::to_string(c.expectChannels ? c.expectChannels : c.channels)) << info;
    if (c.checkTitle) {
        std::string tag = Field(info, "TAG:title");
        if (tag.empty()) tag = Field(info, "TAG:TITLE");
        EXPECT_EQ(tag, "Tïtle 'q' & more\\") << info;
    }
    // Decoded, the output holds two seconds of audio (within the tools' padding).
    const std::string raw = tmp.file("decoded.raw");
    int decoded = -1;
    ASSERT_TRUE(RunAndWait(("ffmpeg -v error -nostdin -y -i " + platform::QuoteArg(dest) + " -f s16le -ac 1 -ar " +
                            std::to_string(c.expectRate) + " " + platform::QuoteArg(raw)).c_str(),
                           nullptr, kProcNoStdHandles, &decoded, 60000));
    ASSERT_EQ(decoded, 0);
    const double seconds = static_cast<double>(fs::file_size(raw)) / 2 / c.expectRate;
    EXPECT_NEAR(seconds, 2.0, 0.1);

    item.audioTask = nullptr;
    for (char* s : {item.file, item.tagTitle, item.tagArtist, item.tagAlbum}) std::free(s);
}

INSTANTIATE_TEST_SUITE_P(DebianTools, CodecsToolsTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ToolCase>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// Each described program answers its version query (a guard against a renamed or missing tool).
TEST(ShippedCodecsTools, VersionQueriesAnswer) {
    ASSERT_EQ(LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
    for (const char* file : {"qxcore64.xml", "defaults.xml"})
        ASSERT_EQ(LoadPrefsFile(DataFile(file).c_str(), 0, nullptr), 0) << file;
    ASSERT_EQ(LoadCodecsDefinition(false, DataFile("qxcodecs.xml").c_str(), 0), 0);
    struct Query {
        std::string program;
        std::string arg;
        std::string begin;
    };
    std::vector<Query> queries;
    CXML& doc = GetCodecsDocument();
    doc.Lock();
    for (int i = 0; doc.goToKey("//verinfo", i); ++i) {
        const std::string arg = doc.getAttribute("arg", "");
        const std::string begin = doc.getAttribute("begin", "");
        // The program: the version query's own key, else the entry's first path.
        const char* ownKey = doc.getAttribute("key");
        std::string program = ownKey ? GetPrefStore().GetString(ownKey) : "";
        doc.goParent();
        if (!doc.goChild()) continue;
        do {
            if (std::strcmp(doc.getNodeName(), "path") == 0) {
                const char* key = doc.getAttribute("key");
                program = key ? GetPrefStore().GetString(key) : (doc.getNodeValue(0) ? doc.getNodeValue(0) : "");
            }
        } while (program.empty() && doc.goNext());
        queries.push_back({program, arg, begin});
    }
    doc.Unlock();
    ASSERT_GE(queries.size(), 15u);
    int asked = 0;
    for (const Query& q : queries) {
        if (q.program.empty() || !OnPath(q.program)) continue;
        CProcessWrapper p(kProcStdout | kProcStderrToStdout | kProcGrowingBuffer);
        ASSERT_TRUE(p.Start(("\"" + q.program + "\" " + q.arg).c_str())) << q.program;
        std::string out;
        for (int i = 0; i < 100 && p.Wait(0) != 1; ++i) {
            if (p.ReadOutput(100) > 0) out += p.buffer;
        }
        while (p.ReadOutput(100) > 0) out += p.buffer;
        EXPECT_FALSE(out.empty()) << q.program;
        if (!q.begin.empty()) {
            EXPECT_NE(out.find(q.begin), std::string::npos) << q.program << ": " << out.substr(0, 200);
        }
        ++asked;
    }
    EXPECT_GT(asked, 0);
}

}  // namespace
