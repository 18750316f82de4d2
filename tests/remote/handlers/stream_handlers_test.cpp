// The queue as playlists and as media items, fetched with curl from the control and the streaming
// server.
#include "remote/handlers/stream_handlers.h"

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/engine_init.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "remote/handlers/routes.h"
#include "remote/handlers/servers.h"
#include "remote/httpd/web_server.h"
#include "support/control_server.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"

namespace {

TEST(StreamNames, SanitizeFileNameFromTheStartPosition) {
    const struct {
        const char* in;
        size_t start;
        const char* out;
    } cases[] = {
        {"C:/media/a&b*c,d;e?f|g.avi", 2, "C:_media_a_b_c_d_e_f_g.avi"},
        {"a:b", 0, "a_b"},
        {"plain name.mp3", 0, "plain name.mp3"},
        {"x", 5, "x"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        SanitizeFileName(text, c.start);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

QueueItem* Add(const std::string& path, int durationMs, const char* artist, const char* title) {
    QueueItem* item = QueueNewItem(path.c_str());
    item->duration = durationMs;
    if (artist) SetStringField(&item->tagArtist, artist);
    if (title) SetStringField(&item->tagTitle, title);
    QueueAppend(item);
    return item;
}

TEST(StreamPlaylists, TheControlServerListsTheQueuesSources) {
    sqtest::TempDir tmp;
    sqtest::ControlServer server(tmp.path().string());
    Add("/music/one.flac", 125500, "Band", "Song\nWith a break");
    Add("/music/two.mp3", 0, nullptr, nullptr);
    Add("/music/three.wav", 3000, nullptr, nullptr);
    const sqtest::HttpReply reply = sqtest::Curl("'" + server.url("/qx/queue.m3u") + "'");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body,
              "#EXTM3U\n"
              "#EXTINF:125,Band - Song With a break\n/music/one.flac\n"
              "/music/two.mp3\n"
              "#EXTINF:3,three\n/music/three.wav\n");
}

class StreamingServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadPrefDefinitions(false, sqtest::DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        PrefStore& prefs = GetPrefStore();
        prefs.SetInt("overall.streaming.bindIP", 1);
        prefs.SetInt("overall.streaming.port", 8089);
        prefs.SetInt("overall.streaming.transcoding", 0);
        ctx.taskMode = 6;
        SetEngineContext(&ctx);
        QueueClear();
        SetWebDispatchFunction(WebDispatchRoute);
        port = StartStreamingServer(0, MakeStreamingRoutes());
        ASSERT_GT(port, 0);
    }
    void TearDown() override {
        StopStreamingServer();
        QueueClear();
        SetEngineContext(nullptr);
    }
    sqtest::HttpReply Get(const std::string& path) {
        return sqtest::Curl("'http://127.0.0.1:" + std::to_string(port) + path + "'");
    }
    EngineContext ctx;
    int port = 0;
    sqtest::TempDir tmp;
};

TEST_F(StreamingServerTest, PlaylistAndItemsServeTheQueue) {
    const std::string first = tmp.write("first.mp3", std::string(100000, 'a'));
    const std::string second = tmp.write("second track.wav", "RIFF-bytes-of-the-second");
    Add(first, 61000, nullptr, "First");
    Add(second, 2000, nullptr, nullptr);
    Add("http://radio.example/live", 0, nullptr, nullptr);

    const std::string ip = GetPrefStore().GetValueText("overall.streaming.ip");
    // The addresses carry the port the streaming server listens on, not the one it was asked for.
    const std::string base = "http://" + ip + ":" + std::to_string(port) + "/MediaServer/AudioItems/";
    const sqtest::HttpReply playlist = Get("/playlist.m3u");
    EXPECT_EQ(playlist.status, 200);
    EXPECT_EQ(playlist.body, "#EXTM3U\n#EXTINF:61,First\n" + base + "1/first.mp3\n#EXTINF:2,second track\n" + base +
                                 "2/second track.wav\n#EXTINF:0,live\n" + base + "3/live\n");

    EXPECT_EQ(Get("/MediaServer/AudioItems/2/second%20track.wav").body, "RIFF-bytes-of-the-second");
    const sqtest::HttpReply big = Get("/MediaServer/AudioItems/1/first.mp3");
    EXPECT_EQ(big.status, 200);
    EXPECT_EQ(big.body.size(), 100000u);

    // Network sources, positions past the queue and paths without a position are not served.
    for (const char* path : {"/MediaServer/AudioItems/3/live", "/MediaServer/AudioItems/9/x",
                             "/MediaServer/AudioItems/../etc/passwd", "/MediaServer/AudioItems/0/x"}) {
        EXPECT_EQ(Get(path).status, 404) << path;
    }
    // Outside the streaming task mode nothing is served either.
    ctx.taskMode = 0;
    EXPECT_EQ(Get("/MediaServer/AudioItems/2/x").status, 404);
}

}  // namespace
