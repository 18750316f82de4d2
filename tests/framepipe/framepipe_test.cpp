// The framepipe program run as a process: its outputs on inherited pipes or files, its messages and
// exit codes, and a real media file through it and back into ffmpeg.
#include "platform/avs/test_source.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>

extern char** environ;

namespace {

using sqtest::ReadFile;
using sqtest::TempDir;

struct Options {
    std::vector<std::string> args;  // after the program's name
    std::string backend = "test";
    bool videoPipe = true;   // a pipe on descriptor 3
    bool audioPipe = true;   // a pipe on descriptor 4
    size_t closeVideoAfter = SIZE_MAX;  // the reader closes the video pipe after this many bytes
    size_t closeAudioAfter = SIZE_MAX;  // the same for the audio pipe
    std::string workDir;
};

struct Result {
    int status = -2;  // the exit code; -1 when it did not end in time
    std::string out, err, video, audio;
};

// A pipe of one page, both ends close-on-exec and numbered from 10, clear of the child's 3 and 4.
void SmallPipe(int fds[2]) {
    int raw[2];
    ASSERT_EQ(pipe2(raw, O_CLOEXEC), 0);
    fcntl(raw[0], F_SETPIPE_SZ, 4096);
    for (int i = 0; i < 2; ++i) {
        fds[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, 10);
        close(raw[i]);
    }
}

// Starts framepipe with the given outputs and reads all of them at once with poll.
Result RunFramePipe(const Options& o) {
    Result r;
    int out[2], err[2], video[2] = {-1, -1}, audio[2] = {-1, -1};
    SmallPipe(out);
    SmallPipe(err);
    if (o.videoPipe) SmallPipe(video);
    if (o.audioPipe) SmallPipe(audio);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    if (o.videoPipe) posix_spawn_file_actions_adddup2(&fa, video[1], 3);
    if (o.audioPipe) posix_spawn_file_actions_adddup2(&fa, audio[1], 4);
    if (!o.workDir.empty()) posix_spawn_file_actions_addchdir_np(&fa, o.workDir.c_str());

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "SQ_AVS_BACKEND=", 15) != 0) env.emplace_back(*e);
    env.push_back("SQ_AVS_BACKEND=" + o.backend);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {"framepipe"};
    args.insert(args.end(), o.args.begin(), o.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, SQ_FRAMEPIPE, &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    for (int* p : {out, err, video, audio})
        if (p[1] >= 0) close(p[1]);
    if (rc != 0) {
        ADD_FAILURE() << "posix_spawn: " << std::strerror(rc);
        return r;
    }

    struct Stream {
        int fd;
        std::string* sink;
        size_t closeAfter;
    } streams[] = {{out[0], &r.out, SIZE_MAX},
                   {err[0], &r.err, SIZE_MAX},
                   {video[0], &r.video, o.closeVideoAfter},
                   {audio[0], &r.audio, o.closeAudioAfter}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buf[65536];
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Stream*> polled;
        for (auto& s : streams)
            if (s.fd >= 0) {
                fds.push_back({s.fd, POLLIN, 0});
                polled.push_back(&s);
            }
        if (fds.empty()) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            Stream& s = *polled[i];
            ssize_t n = read(s.fd, buf, sizeof buf);
            if (n > 0) s.sink->append(buf, static_cast<size_t>(n));
            if (n <= 0 || s.sink->size() >= s.closeAfter) {
                close(s.fd);
                s.fd = -1;
            }
        }
    }
    for (auto& s : streams)
        if (s.fd >= 0) close(s.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

uint32_t Word(const std::string& s, size_t at) {
    auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])); };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}

// Frame n of a 4:2:0 test clip as written: Y, then U, then V (or V, U when swapped).
std::string Frame420(int n, int w, int h, bool swapUV = false) {
    std::string f;
    auto plane = [&](int p, int pw, int ph) {
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) f.push_back(static_cast<char>(avs::TestPixel(p, x, y, n)));
    };
    plane(0, w, h);
    plane(swapUV ? 2 : 1, w / 2, h / 2);
    plane(swapUV ? 1 : 2, w / 2, h / 2);
    return f;
}

// Samples [from, to) of a 16-bit test clip.
std::string Pcm16(int64_t from, int64_t to, int channels) {
    std::string s;
    for (int64_t i = from; i < to; ++i)
        for (int c = 0; c < channels; ++c) {
            auto v = static_cast<uint16_t>(avs::TestSampleValue(i, c));
            s.push_back(static_cast<char>(v & 0xFF));
            s.push_back(static_cast<char>(v >> 8));
        }
    return s;
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

class FramePipeProcess : public ::testing::Test {
protected:
    std::string Script(const std::string& text) { return dir_.write("clip.txt", text); }
    TempDir dir_;
};

TEST_F(FramePipeProcess, TwoSmallPipesReadTogetherCarryEverything) {
    Options o;
    o.args = {Script("video yv12 64x48 fps 25/1 frames 50 pitch 80\naudio s16 44100 2 samples 88200\n"), "3",
              "4"};
    Result r = RunFramePipe(o);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.video.size(), 40u + 50 * 4608);
    const uint32_t header[10] = {40, 0, 64, 48, 0, 25, 1, 0, 0, 50};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Word(r.video, 4 * i), header[i]) << "word " << i;
    EXPECT_EQ(r.video.substr(40, 4608), Frame420(0, 64, 48));
    EXPECT_EQ(r.video.substr(40 + 49 * 4608), Frame420(49, 64, 48));
    ASSERT_EQ(r.audio.size(), 44u + 88200 * 4);
    EXPECT_EQ(r.audio.substr(0, 4), "RIFF");
    EXPECT_EQ(r.audio.substr(44), Pcm16(0, 88200, 2));
    EXPECT_TRUE(Contains(r.err, "Video info: 64x48 @ 25.000000fps Pixel Type: 0xA0000008 CSP: I420\n")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Audio: 44100Hz 2ch 16bit\n"));
    EXPECT_TRUE(Contains(r.err, "Frame Size: 64x48  Total Frames: 50 frames  End Pos: -1 ms\n"));
    EXPECT_TRUE(Contains(r.err, "50 frames decoded\r"));
    EXPECT_TRUE(r.out.empty());
}

// Both outputs on one descriptor show the order of the writes: after each frame the audio that the
// video's time has reached, and nothing past the last frame's time.
TEST_F(FramePipeProcess, OneStreamShowsAudioInterleavedByTheFrameRate) {
    Options o;
    o.audioPipe = false;
    o.args = {Script("video yv12 16x16 fps 30000/1001 frames 30\naudio s16 48000 1 samples 60000\n"), "3", "3"};
    Result r = RunFramePipe(o);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string& s = r.video;
    ASSERT_GE(s.size(), 84u);
    EXPECT_EQ(s.substr(0, 4), "RIFF");  // the audio header comes first
    EXPECT_EQ(Word(s, 44), 40u);
    size_t at = 84;
    int64_t written = 0;
    for (int n = 1; n <= 30; ++n) {
        ASSERT_EQ(s.substr(at, 384), Frame420(n - 1, 16, 16)) << "frame " << n - 1;
        at += 384;
        const int64_t due = int64_t(n) * 1001 * 48000 / 30000;
        ASSERT_EQ(s.substr(at, static_cast<size_t>(due - written) * 2), Pcm16(written, due, 1)) << "after " << n;
        at += static_cast<size_t>(due - written) * 2;
        written = due;
    }
    EXPECT_EQ(at, s.size()) << "audio past the video's end";
}

// A reader that stops reading one pipe early ends that output; the other goes on (audio) or the run
// ends (video), and the program never hangs.
TEST_F(FramePipeProcess, AReaderClosingOnePipeEarly) {
    const std::string script = Script("video yv12 64x48 fps 25/1 frames 40\naudio s16 44100 2 samples 88200\n");
    Options audioClosed;
    audioClosed.closeAudioAfter = 44;
    audioClosed.args = {script, "3", "4"};
    Result r = RunFramePipe(audioClosed);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "Audio pipe closed\n")) << r.err;
    EXPECT_EQ(r.video.size(), 40u + 40 * 4608);

    Options videoClosed;
    videoClosed.closeVideoAfter = 40;
    videoClosed.args = {script, "3", "4"};
    r = RunFramePipe(videoClosed);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "Error writing planar data to pipe 3\n")) << r.err;
    EXPECT_LT(r.audio.size(), 44u + 88200 * 4);  // the run ended with the video
}

TEST_F(FramePipeProcess, EveryFailurePrintsItsMessage) {
    struct Case {
        const char* name;
        std::string script;
        std::string backend;
        std::vector<std::string> outputs;
        std::string message;
        size_t videoBytes;  // SIZE_MAX: not checked
        const char* scriptName = "clip.txt";
    } cases[] = {
        {"no back-end", "video yv12 16x16 fps 25/1 frames 2\n", "none", {"3", "4"},
         "AVS: avs_create_script_environment failed\n", 0},
        {"script error", "fail import Script error: x\n", "test", {"3", "4"}, "AVS: Avisynth error: Script error: x\n", 0},
        {"no clip", "fail noclip\n", "test", {"3", "4"}, "AVS: Avisynth doesn't return a clip\n", 0},
        {"take_clip", "video yv12 16x16 fps 25/1 frames 2\nfail take_clip\n", "test", {"3", "4"},
         "AVS: avs_take_clip() failed\n", 0},
        {"video info", "video yv12 16x16 fps 25/1 frames 2\nfail video_info\n", "test", {"3", "4"},
         "AVS: avs_get_video_info() call failed\n", 0},
        {"frame", "video yv12 16x16 fps 25/1 frames 9\nfail get_frame 3\n", "test", {"3", "4"},
         "AVS: frame 3 could not be read\n", 40 + 3 * 384},
        {"audio read", "video yv12 16x16 fps 25/1 frames 9\naudio s16 100 1 samples 100\nfail get_audio 10\n",
         "test", {"3", "4"}, "AVS: avs_get_audio() failed\n", 40 + 9 * 384},
        {"audio type", "video yv12 16x16 fps 25/1 frames 2\naudio other 100 1 samples 100\n", "test",
         {"3", "4"}, "AVS: unknown audio type, disabling\n", 40 + 2 * 384},
        {"no audio", "video yv12 16x16 fps 25/1 frames 2\n", "test", {"3", "4"}, "Audio: N/A\n", 40 + 2 * 384},
        {"no outputs", "video yv12 16x16 fps 25/1 frames 2\n", "test", {"0", "0"}, "No stream to process.\n", 0},
        {"unopenable file", "video yv12 16x16 fps 25/1 frames 2\n", "test", {"/nonexistent/v.raw", "4"},
         "Cannot open \"/nonexistent/v.raw\": No such file or directory\n", 0},
        {"no compressor", "video yv12 16x16 fps 25/1 frames 2\n", "test", {"3", "4", "-1", "", "nonexistent"},
         "ICCompressBegin failed\n", 0},
        {"swapuv on RGB", "video rgb32 16x16 fps 25/1 frames 2\n", "test", {"3", "4", "-1", "yv12"},
         "AVS: Avisynth error: SwapUV: the clip is not YUV\n", 0},
        {"not media", "video yv12 16x16 fps 25/1 frames 2\n", "media", {"3", "4"},
         "AVS: Avisynth error: Import: couldn't open \"", 0},
        {"script statement", "LoadPlugin(\"x.so\")\nBlur(1.0)\n", "media", {"3", "4"},
         "AVS: Avisynth error: Script error: there is no function named \"Blur\" (line 2)\n", 0, "clip.avs"},
    };
    for (const Case& c : cases) {
        Options o;
        o.backend = c.backend;
        o.args = {dir_.write(c.scriptName, c.script)};
        o.args.insert(o.args.end(), c.outputs.begin(), c.outputs.end());
        Result r = RunFramePipe(o);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
        if (c.videoBytes != SIZE_MAX) {
            EXPECT_EQ(r.video.size(), c.videoBytes) << c.name;
        }
    }

    Options two;
    two.args = {Script("video yv12 16x16 fps 25/1 frames 2\n"), "3"};
    Result r = RunFramePipe(two);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err + r.out + r.video + r.audio, "");
}

TEST_F(FramePipeProcess, ColourSpaceWordsLabelsAndHeaderCodes) {
    struct Case {
        const char* clip;
        const char* word;
        std::string label;
        uint32_t code;
        size_t frameBytes;
    } cases[] = {
        {"yv12", "", "I420", 0, 384},
        {"yv12", "YV12", "I420", 0, 384},  // the words are case-sensitive: no conversion
        {"yv12", "yv12", "YV12", 1, 384},
        {"i420", "i420", "I420", 0, 384},
        {"yv12", "i422", "YV16", 2, 512},
        {"yv12", "i444", "YV24", 3, 768},
        {"rgb32", "", "RGB32", 8, 1024},
        {"yuy2", "", "YUY2", 4, 512},
        {"yv12", "rgb24", "RGB24", 6, 768},
        {"yv12", "yuy2", "YUY2", 4, 512},
    };
    for (const Case& c : cases) {
        Options o;
        o.audioPipe = false;
        o.args = {Script(std::string("video ") + c.clip + " 16x16 fps 25/1 frames 2\n"), "3", "0", "-1", c.word};
        Result r = RunFramePipe(o);
        const std::string what = std::string(c.clip) + " '" + c.word + "'";
        EXPECT_TRUE(Contains(r.err, "CSP: " + c.label + "\n")) << what << ": " << r.err;
        ASSERT_EQ(r.video.size(), 40 + 2 * c.frameBytes) << what;
        EXPECT_EQ(Word(r.video, 4), c.code) << what;
    }
    // "yv12" exchanges the chroma planes: the output is in YV12 order, V before U.
    Options o;
    o.audioPipe = false;
    o.args = {Script("video yv12 16x16 fps 25/1 frames 2\n"), "3", "0", "-1", "yv12"};
    EXPECT_EQ(RunFramePipe(o).video.substr(40, 384), Frame420(0, 16, 16, true));
}

TEST_F(FramePipeProcess, CountsForDurationsAndClipsWithoutFrameRate) {
    const std::string av = "video yv12 16x16 fps 25/1 frames 50\naudio s16 44100 1 samples 88200\n";
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> args;  // outputs and the rest
        size_t videoBytes, audioSamples;
        std::string message;
    } cases[] = {
        {"one second", av, {"3", "4", "1000"}, 40 + 25 * 384, 44100, "Total Frames: 25 frames  End Pos: 1000 ms"},
        {"10 ms", av, {"3", "4", "10"}, 40 + 384, 441, ""},
        {"audio beyond the video stops with it", "video yv12 16x16 fps 25/1 frames 10\naudio s16 44100 1 samples 44100\n",
         {"3", "4"}, 40 + 10 * 384, 17640, ""},
        {"audio only", "audio s16 44100 1 samples 88200\n", {"3", "4"}, 0, 88200,
         "Duration: -1 ms / 88200 samples\n"},
        {"audio only, 0 ms", "audio s16 44100 1 samples 88200\n", {"0", "4", "0"}, 0, 88200,
         "Duration: 0 ms / 88200 samples\n"},
        {"audio only, 1 ms", "audio s16 44100 1 samples 88200\n", {"0", "4", "1"}, 0, 44, ""},
        {"no frame rate", "video yv12 16x16 fps 25/0 frames 50\naudio s16 44100 1 samples 88200\n", {"3", "4"},
         0, 88200, "@ 0.000000fps"},
    };
    for (const Case& c : cases) {
        Options o;
        o.args = {Script(c.script)};
        o.args.insert(o.args.end(), c.args.begin(), c.args.end());
        Result r = RunFramePipe(o);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.video.size(), c.videoBytes) << c.name;
        EXPECT_EQ(r.audio.size(), 44 + c.audioSamples * 2) << c.name;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
    }
}

// Paths are files whatever their first character; a file is cut to what is written and readable.
TEST_F(FramePipeProcess, FileOutputsAreCutToLengthAndReadable) {
    const std::string video = dir_.write("out/v.raw", std::string(100000, 'x'));
    dir_.write("out/a.wav", std::string(100000, 'x'));
    Options o;
    o.videoPipe = o.audioPipe = false;
    o.workDir = dir_.file("out");
    o.args = {Script("video yv12 16x16 fps 25/1 frames 3\naudio s16 100 1 samples 10\n"), video, "a.wav"};
    Result r = RunFramePipe(o);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(video).size(), 40u + 3 * 384);
    EXPECT_EQ(ReadFile(dir_.file("out/a.wav")), ReadFile(dir_.file("out/a.wav")).substr(0, 44) + Pcm16(0, 10, 1));
    const std::string fresh = dir_.file("out/new.raw");
    o.args = {Script("video yv12 16x16 fps 25/1 frames 3\n"), fresh, "0"};
    RunFramePipe(o);
    struct stat st {};
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IRUSR);
    EXPECT_EQ(st.st_size, 40 + 3 * 384);
}

std::string Shell(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), pclose);
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p.get())) > 0) out.append(buf, n);
    return out;
}

// The MD5 column of ffmpeg's framemd5 lines.
std::vector<std::string> FrameMd5s(const std::string& text) {
    std::vector<std::string> md5s;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line[0] != '#') md5s.push_back(line.substr(line.rfind(' ') + 1));
        at = end + 1;
    }
    return md5s;
}

// A file made by ffmpeg goes through framepipe's media back-end, directly and through a one-line
// script, and comes out as ffmpeg itself decodes it.
TEST_F(FramePipeProcess, MediaFileComesOutAsFfmpegDecodesIt) {
    const std::string media = dir_.file("in.mkv");
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -f lavfi -i testsrc=size=96x64:rate=25:duration=2 -f lavfi "
                           "-i sine=frequency=440:sample_rate=44100:duration=2 -c:v mpeg4 -pix_fmt yuv420p "
                           "-c:a pcm_s16le -y " + media).c_str()),
              0);
    const auto expectedMd5 = FrameMd5s(Shell("ffmpeg -v error -nostdin -i " + media + " -map 0:v -f framemd5 -"));
    const std::string expectedPcm = Shell("ffmpeg -v error -nostdin -i " + media + " -map 0:a -f s16le -");
    ASSERT_EQ(expectedMd5.size(), 50u);
    ASSERT_EQ(expectedPcm.size(), 88200u * 2);

    const std::string script = dir_.write("in.avs", "LoadPlugin(\"DirectShowSource.dll\")\nDirectShowSource(\"" + media +
                                                        "\")\nConvertAudioTo16bit()\n");
    for (const std::string& input : {media, script}) {
        Options o;
        o.backend = "media";
        o.videoPipe = o.audioPipe = false;
        const std::string video = dir_.file("v.raw"), audio = dir_.file("a.wav");
        o.args = {input, video, audio};
        Result r = RunFramePipe(o);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto md5 = FrameMd5s(Shell("tail -c +41 " + video +
                                         " | ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 96x64 -r 25 -i - "
                                         "-f framemd5 -"));
        EXPECT_EQ(md5, expectedMd5) << input;
        const std::string wav = ReadFile(audio);
        ASSERT_GE(wav.size(), 44u);
        EXPECT_TRUE(wav.substr(44) == expectedPcm) << input << ": " << wav.size() - 44 << " PCM bytes";
        // ffmpeg reads the WAV despite its fixed sizes, to its real end: 2 seconds.
        EXPECT_EQ(Shell("ffmpeg -v error -nostdin -i " + audio + " -f s16le - | wc -c"), "176400\n");
    }

    // Compressed with an encoder of the media libraries: raw packets that ffmpeg decodes again, and
    // the audio still follows.
    Options o;
    o.backend = "media";
    o.videoPipe = o.audioPipe = false;
    const std::string video = dir_.file("v.m4v"), audio = dir_.file("c.wav");
    o.args = {media, video, audio, "-1", "", "mpeg4"};
    Result r = RunFramePipe(o);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FrameMd5s(Shell("ffmpeg -v error -nostdin -f m4v -i " + video + " -f framemd5 -")).size(), 50u);
    EXPECT_EQ(ReadFile(audio).size(), 44 + expectedPcm.size());
}

// Audio delayed in the script is longer than the video: it is sent only as far as the video goes,
// raw or compressed.
TEST_F(FramePipeProcess, DelayedAudioEndsWithTheVideo) {
    const std::string media = dir_.file("two.mkv");
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -f lavfi -i testsrc=size=64x48:rate=25:duration=2 -f lavfi "
                           "-i sine=frequency=440:sample_rate=44100:duration=2 -c:v mpeg4 -pix_fmt yuv420p "
                           "-c:a pcm_s16le -y " + media).c_str()),
              0);
    const std::string script = dir_.write("delay.avs", "DirectShowSource(\"" + media + "\")\nDelayAudio(0.5)\n");
    for (const char* compressor : {"", "mpeg4"}) {
        SCOPED_TRACE(*compressor ? compressor : "raw");
        Options o;
        o.backend = "media";
        o.videoPipe = o.audioPipe = false;
        const std::string video = dir_.file("v.out"), audio = dir_.file("a.wav");
        o.args = {script, video, audio, "-1", "", compressor};
        Result r = RunFramePipe(o);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadFile(audio).size(), 44u + 88200 * 2);
        EXPECT_EQ(Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + audio), "2.000000\n");
    }
}

}  // namespace
