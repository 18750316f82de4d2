// The streaming server's transcoding proxy with the real engine and real clients: a player reads
// the output while the job writes it, clients that leave or stop reading hold up nothing, requested
// names stay inside the cache folder, and the server's defences hold with the streaming routes.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "engine/engine_init.h"
#include "engine/jobs/job_fixture.h"
#include "engine/queue/queue.h"
#include "remote/handlers/routes.h"
#include "remote/handlers/servers.h"
#include "remote/handlers/stream_handlers.h"
#include "remote/httpd/httpd_fixture.h"
#include "remote/httpd/web_server.h"
#include "support/control_server.h"

namespace {

namespace fs = std::filesystem;

class StreamProxy : public sqtest::JobFixture {
protected:
    void SetUp() override {
        sqtest::JobFixture::SetUp();
        PrefStore& p = GetPrefStore();
        p.SetInt("overall.streaming.bindIP", 1);
        p.SetBool("overall.audio.autoEncoder", true);
        events.context().taskMode = 6;
        cache = out.path() / "cache";
        fs::create_directories(cache);
        port = StartStreamingServer(0, MakeStreamingRoutes(), cache.c_str());
        ASSERT_GT(port, 0);
    }
    void TearDown() override {
        StopStreamingServer();
        sqtest::JobFixture::TearDown();
    }

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    // A tone of that many seconds in the input folder.
    std::string Tone(const std::string& name, int seconds) {
        const std::string path = in.file(name);
        EXPECT_TRUE(sqtest::Shell("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
                                  ":sample_rate=44100 -ac 2 -y '" + path + "'"));
        return path;
    }

    static double Duration(const std::string& file) {
        return std::atof(sqtest::Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'").c_str());
    }

    // Waits (bounded) until the condition holds.
    template <typename F>
    static bool WaitFor(F condition, int seconds = 60) {
        for (int i = 0; i < seconds * 50; ++i) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return condition();
    }

    static bool QueueEmpty() { return sqtest::QueueFiles().empty(); }

    std::set<std::string> CacheFiles() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(cache)) names.insert(e.path().filename().string());
        return names;
    }

    fs::path cache;
    int port = 0;
};

TEST_F(StreamProxy, PlayerReadsTheOutputWhileItIsConverted) {
    const std::string source = Tone("tone.wav", 60);
    const std::string url = Url("/proxy/" + source + "/stream.ts");
    const std::string played = out.file("played.wav");
    auto player = std::async(std::launch::async, [&] {
        return httpdtest::Shell("ffmpeg -v error -i '" + url + "' -c:a pcm_s16le -f wav -y '" + played + "'", 120);
    });
    // While the player is connected the job converts: its item is in the queue, encoding.
    bool sawEncoding = false;
    while (player.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QueueLockGuard lock;
        QueueItem* item = QueueGetItem(0);
        if (item && item->state.load() == kItemEncoding && item->file && source == item->file) sawEncoding = true;
    }
    const httpdtest::CommandResult r = player.get();
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(sawEncoding);
    EXPECT_NEAR(Duration(played), 60.0, 0.2);

    // The stream ended with its job: the item left the queue and the output got its final name.
    EXPECT_TRUE(QueueEmpty()) << sqtest::QueueFiles();
    const std::set<std::string> files = CacheFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string cached = *files.begin();
    EXPECT_EQ(fs::path(cached).extension(), ".ts");
    EXPECT_EQ(cached.find('/'), std::string::npos);

    // A second request is served from the cache without a job, and in full.
    events.clear();
    const std::string headers = sqtest::Capture("curl -s --max-time 30 -D - -o '" + out.file("again.ts") + "' '" + url + "'");
    EXPECT_EQ(httpdtest::HeaderValue(headers + "\r\n\r\n", "Content-Type"), "video/MP2T") << headers;
    EXPECT_EQ(fs::file_size(out.file("again.ts")), fs::file_size(cache / cached));
    EXPECT_TRUE(events.texts(kEventQueueChanged).empty());
}

TEST_F(StreamProxy, ClientsThatLeaveOrStallHoldUpNothing) {
    auto requestFor = [](const std::string& source) {
        return "GET /proxy/" + source + "/stream.flv HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    };

    // A client that stops reading: the job goes on to its end, other clients are answered. The
    // socket buffers may take the whole output (the stream then ends and the item leaves the queue
    // at once), so the job's end shows either as its item done or as its output under its final name.
    const int stalled = httpdtest::Connect(port);
    ASSERT_GE(stalled, 0);
    int small = 4096;
    setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(httpdtest::SendAll(stalled, requestFor(Tone("stall.wav", 20))));
    auto finalOutputs = [this] {
        std::set<std::string> names;
        for (const std::string& name : CacheFiles())
            if (name.find(".part.") == std::string::npos) names.insert(name);
        return names;
    };
    EXPECT_TRUE(WaitFor(
        [&] {
            QueueLockGuard lock;
            QueueItem* item = QueueGetItem(0);
            return (item && item->state.load() == kItemDone) || !finalOutputs().empty();
        },
        180))
        << "the job did not end while its client stalled: " << sqtest::QueueFiles() << " state "
        << (QueueGetItem(0) ? static_cast<int>(QueueGetItem(0)->state.load()) : -1);
    const sqtest::HttpReply playlist = sqtest::Curl("'" + Url("/playlist.m3u") + "'");
    EXPECT_EQ(playlist.status, 200);
    close(stalled);
    EXPECT_TRUE(WaitFor(QueueEmpty)) << sqtest::QueueFiles();
    // The whole output stays in the cache under its final name, also when the client left just as
    // the job ended.
    const std::set<std::string> outputs = finalOutputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_NEAR(Duration((cache / *outputs.begin()).string()), 20.0, 0.2);

    // A client that leaves after the first bytes: its job is stopped, the item leaves the queue
    // and no partial output stays behind.
    for (const std::string& name : CacheFiles()) fs::remove(cache / name);
    const int leaving = httpdtest::Connect(port);
    ASSERT_GE(leaving, 0);
    ASSERT_TRUE(httpdtest::SendAll(leaving, requestFor(Tone("long.wav", 600))));  // still running when it leaves
    char first[64];
    ssize_t got;
    do {
        got = recv(leaving, first, sizeof first, 0);
    } while (got < 0 && errno == EINTR);
    EXPECT_GT(got, 0) << strerror(errno);
    EXPECT_TRUE(WaitFor([] { return !QueueEmpty(); }));
    close(leaving);
    EXPECT_TRUE(WaitFor(QueueEmpty)) << sqtest::QueueFiles();
    for (const std::string& name : CacheFiles()) EXPECT_EQ(name.find(".part."), std::string::npos) << name;
}

TEST_F(StreamProxy, RequestedNamesStayInTheCacheFolder) {
    const std::set<std::string> outBefore = {"cache"};
    const std::string inDir = in.path().string();
    const struct {
        std::string path;
        int status;  // 0: any answer, as long as nothing is written outside
    } cases[] = {
        {"/proxy/x/nostream", 404},
        {"/proxy//stream.ts", 404},
        {"/proxy//..%2F..%2Fevil.wav/stream.ts", 0},
        {"/proxy/C:%5C..%5C..%5Cevil.wav/stream.mov", 0},
        {"/proxy/" + inDir + "/../../evil.wav/stream.3gp", 0},
        {"/proxy/" + inDir + "%2F..%2F..%2F.evil.wav/stream.ts", 0},
    };
    for (const auto& c : cases) {
        const sqtest::HttpReply reply = sqtest::Curl("--path-as-is '" + Url(c.path) + "'");
        if (c.status) {
            EXPECT_EQ(reply.status, c.status) << c.path;
        }
        EXPECT_TRUE(WaitFor(QueueEmpty, 30)) << c.path;
    }
    std::set<std::string> outAfter;
    for (const auto& e : fs::directory_iterator(out.path())) outAfter.insert(e.path().filename().string());
    EXPECT_EQ(outAfter, outBefore);
    EXPECT_TRUE(fs::is_empty(in.path()));
    EXPECT_FALSE(fs::exists(in.path().parent_path() / "evil.wav"));
    for (const std::string& name : CacheFiles()) EXPECT_NE(name[0], '.') << name;
}

struct RawCase {
    const char* request;
    const char* replyStart;  // "": the connection is closed without a reply
};

// The server's defences hold with the streaming routes: nothing outside the cache folder is
// served, malformed requests are closed, a stalled client holds up nobody, and players on the
// network cannot set tool paths through item requests.
TEST_F(StreamProxy, ServerStaysRobustWithStreamingRoutes) {
    std::ofstream(out.path() / "secret.txt") << "TOP-SECRET";
    const std::string item = Tone("item.wav", 1);
    QueueAppend(QueueNewItem(item.c_str()));
    const int stalled = httpdtest::Connect(port);
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(httpdtest::SendAll(stalled, "GET /playlist.m3u HTTP/1.1\r\nHos"));
    const RawCase cases[] = {
        {"GET /../secret.txt HTTP/1.1\r\n\r\n", "HTTP/1.1 404"},
        {"GET /%2e%2e/secret.txt HTTP/1.1\r\n\r\n", "HTTP/1.1 404"},
        {"GET /MediaServer/AudioItems/../../secret.txt HTTP/1.1\r\n\r\n", "HTTP/1.1 404"},
        {"GET /proxy//..%2Fsecret.txt/stream.ts HTTP/1.1\r\n\r\n", "HTTP/1.1 "},
        {"POST /playlist.m3u HTTP/1.1\r\nContent-Length: -5\r\n\r\n", ""},
        {"PUT /playlist.m3u HTTP/1.1\r\n\r\n", ""},
        {"GET /playlist.m3u HTTP/1.0\r\n\r\n", "HTTP/1.1 200"},
        {"GET /MediaServer/AudioItems/1/x?audioenc.lame.path=/bin/sh&overall.task.destdir=/tmp HTTP/1.0\r\n\r\n",
         "HTTP/1.1 200"},
        {"GET /MediaServer/AudioItems/1/x?audiofilter.resample.samplerate=32000 HTTP/1.0\r\n\r\n", "HTTP/1.1 200"},
    };
    const std::string lamePath = GetPrefStore().GetValueText("audioenc.lame.path");
    const std::string destDir = GetPrefStore().GetValueText("overall.task.destdir");
    for (const RawCase& c : cases) {
        const std::string reply = httpdtest::Exchange(port, c.request);
        EXPECT_EQ(reply.substr(0, strlen(c.replyStart)), c.replyStart) << c.request;
        if (!*c.replyStart) {
            EXPECT_TRUE(reply.empty()) << c.request << reply;
        }
        EXPECT_EQ(reply.find("TOP-SECRET"), std::string::npos) << c.request;
    }
    EXPECT_EQ(GetPrefStore().GetValueText("audioenc.lame.path"), lamePath);
    EXPECT_EQ(GetPrefStore().GetValueText("overall.task.destdir"), destDir);
    EXPECT_EQ(GetPrefStore().GetInt("audiofilter.resample.samplerate"), 32000);
    close(stalled);
}

}  // namespace
