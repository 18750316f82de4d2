// The report and status pages: the chart scripts and the media-information conversion on fixed
// inputs, then every page fetched with curl while a real batch runs, each checked by an XML parser.
#include "remote/handlers/report_handlers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <vector>

#include "engine/encoders/encoder.h"
#include "engine/jobs/job_fixture.h"
#include "engine/queue/queue.h"
#include "remote/handlers/control_handlers.h"
#include "support/control_server.h"

namespace {

std::vector<ItemStatSample> Samples(const std::vector<uint32_t>& audio, const std::vector<uint32_t>& times = {}) {
    std::vector<ItemStatSample> s(audio.size());
    for (size_t i = 0; i < audio.size(); ++i) {
        s[i].audioBytes = audio[i];
        s[i].videoBytes = audio[i] * 2;
        s[i].timeMs = times.empty() ? static_cast<uint32_t>(i * 1000) : times[i];
    }
    return s;
}

TEST(ItemCharts, SeriesFromSamples) {
    QueueItem item;
    std::vector<ItemStatSample> loads = Samples({0, 0, 0});
    loads[1].load[2] = 80;
    loads[1].load[3] = 40;
    loads[2].load[0] = 30;
    const struct {
        const char* name;
        std::vector<ItemStatSample> samples;
        int kind;
        const char* expected;
    } cases[] = {
        {"audio rate, 4 samples", Samples({0, 10, 30, 60}), 2,
         "var seriesAudioBitrate={type: 'area', pointInterval: 1000, data: [10,15,20]};"},
        {"video rate, 2 samples", Samples({0, 10}), 1,
         "var seriesVideoBitrate={type: 'area', pointInterval: 1000, data: [20]};"},
        {"speed, one sample: empty list", Samples({5}), 3, "var seriesSpeed={type: 'area', pointInterval: 1000, data: []};"},
        {"speed, equal stamps read 0", Samples({0, 0, 0}, {0, 500, 500}), 3,
         "var seriesSpeed={type: 'area', pointInterval: 1000, data: [2.000000,0]};"},
        {"loads capped at 100", loads, 4,
         "var seriesAudioEncoder={type: 'area', pointInterval: 1000, data: [100,0]};"
         "var seriesVideoEncoder={type: 'area', pointInterval: 1000, data: [0,30]};"},
        {"unknown kind", Samples({1, 2}), 9, " "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ItemStatsScript(&item, c.samples.data(), static_cast<uint32_t>(c.samples.size()), c.kind), c.expected)
            << c.name;

    // A day's worth of samples: the text grows as it needs to (no fixed reply buffer to overrun).
    std::vector<uint32_t> rising(60000);
    for (size_t i = 0; i < rising.size(); ++i) rising[i] = static_cast<uint32_t>(i * 4000000);
    const std::vector<ItemStatSample> many = Samples(rising);
    const std::string text = ItemStatsScript(&item, many.data(), static_cast<uint32_t>(many.size()), 1);
    EXPECT_EQ(std::count(text.begin(), text.end(), ','), 2 + 59998);  // the head's two, then between 59999 values
    EXPECT_EQ(text.substr(text.size() - 3), "]};");

    // Begin past the end does not wrap the duration into a huge figure.
    item.begin = 5000;
    item.duration = 3000;
    EXPECT_EQ(ItemStatsScript(&item, many.data(), 1, 0).rfind("var stats={duration:0,", 0), 0u);
}

TEST(MediaInformation, ToolTextBecomesWellFormedXml) {
    const struct {
        const char* in;
        const char* out;
    } names[] = {
        {"Channel(s)", "Channels"},   {"Bits/(Pixel*Frame)", "Bits_Pixel_Frame"}, {"3D format", "_3D_format"},
        {"Format, profile", "Format__profile"}, {"Overall bit rate", "Overall_bit_rate"}, {"", "_"},
        {"Größe", "Gr____e"},           {"xmlThing", "_xmlThing"},                   {"a&b:c", "a_b_c"},
    };
    for (const auto& n : names) EXPECT_EQ(XmlElementName(n.in), n.out) << n.in;

    // Line ends of both kinds, a section named only by its number, odd field names, odd values.
    const std::string text =
        "General\r\nComplete name                            : /tmp/a&b <x>.wav\r\nFormat  : Wave\n\n"
        "Audio #1\nChannel(s)                               : 2 channels\nBits/(Pixel*Frame)  : 0.1\n"
        "#2\n3D format : none\nValue with colon : 12:30:00\n";
    const std::string xml = MediaInfoTextToXml(text, "mi.xsl");
    ASSERT_TRUE(IsWellFormedXml(xml.c_str())) << xml;
    for (const char* part : {"href=\"mi.xsl\"?>", "<General>",
                             "<Complete_name>/tmp/a&amp;b &lt;x&gt;.wav</Complete_name>", "<Format>Wave</Format>",
                             "<Audio id=\"1\">", "<Channels>2 channels</Channels>", "<_ id=\"2\">",
                             "<_3D_format>none</_3D_format>", "<Value_with_colon>12:30:00</Value_with_colon>"})
        EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
}

class ReportsDuringBatch : public sqtest::JobFixture {
protected:
    std::string Fetch(sqtest::ControlServer& server, const std::string& path, int* status = nullptr) {
        const sqtest::HttpReply reply = sqtest::Curl("'" + server.url(path) + "'");
        if (status) *status = reply.status;
        return reply.body;
    }
};

// Every page, fetched while the batch runs and again after it, parses; the progress page follows
// the running item.
TEST_F(ReportsDuringBatch, PagesAreWellFormedWhileItemsConvert) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 4; ++i) {
        const std::string path = in.file("tone" + std::to_string(i) + ".wav");
        ASSERT_TRUE(sqtest::Shell("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=40:sample_rate=44100 -ac 2 "
                                  "-y '" + path + "'"));
        inputs.push_back(path);
    }
    sqtest::ControlServer server(out.path().string(), false);
    ASSERT_GT(server.port(), 0);

    const char* const xmlPages[] = {"/qx/stats", "/qx/stats?xsl=s.xsl", "/qx/report.xml", "/qx/report.xml?index=1",
                                    "/qx/appinfo.xml", "/qx/sysinfo.xml", "/qx/sys.xml", "/qx/mediainfo.xml?id=0"};
    const char* const scriptPages[] = {"/qx/report.js", "/qx/itemstats_0", "/qx/itemstats_3?index=1"};
    const std::regex script(R"(^(var qxstate=-?\d+;\nvar errcode=-?\d+;\nvar report=\{.*\};|var stats = null;)$)");

    for (int encoder : {kEncLame, kEncFlac}) {
        SCOPED_TRACE(encoder);
        GetPrefStore().SetInt("overall.audio.encoder", encoder);
        QueueClear();
        for (const std::string& path : inputs) Describe(Add(path), 44100, 2, 40000);

        auto batch = std::async(std::launch::async, [&] { sqtest::RunWorkers(server.events().context(), 1); });
        bool sawRunning = false;
        int rounds = 0;
        while (batch.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && rounds++ < 2000) {
            const std::string stats = Fetch(server, "/qx/stats");
            ASSERT_TRUE(IsWellFormedXml(stats.c_str())) << stats;
            std::smatch m;
            if (std::regex_search(stats, m, std::regex("<state>3</state>\n<percent>(\\d+)</percent>"))) {
                sawRunning = true;
                EXPECT_LE(std::stoi(m[1]), 100);
                for (const char* page : xmlPages) {
                    int status = 0;
                    const std::string body = Fetch(server, page, &status);
                    EXPECT_EQ(status, 200) << page;
                    EXPECT_TRUE(IsWellFormedXml(body.c_str())) << page << "\n" << body;
                }
                for (const char* page : scriptPages) EXPECT_TRUE(std::regex_match(Fetch(server, page), script)) << page;
            }
        }
        ASSERT_EQ(batch.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "batch hung";
        EXPECT_TRUE(sawRunning) << "no page saw an item converting";

        // After the batch: nothing runs, every item is reported done.
        const std::string stats = Fetch(server, "/qx/stats");
        EXPECT_NE(stats.find("<state>0</state>\n<percent>0</percent>"), std::string::npos) << stats;
        EXPECT_EQ(stats.find("<audio>"), std::string::npos);
        EXPECT_NE(stats.find("<outputFiles>"), std::string::npos);
        const std::string report = Fetch(server, "/qx/report.xml");
        ASSERT_TRUE(IsWellFormedXml(report.c_str())) << report;
        EXPECT_NE(report.find("href=\"report.xsl\""), std::string::npos);
        size_t done = 0;
        for (size_t at = report.find("<done>1</done>"); at != std::string::npos; at = report.find("<done>1</done>", at + 1))
            ++done;
        EXPECT_EQ(done, inputs.size()) << report;
        EXPECT_NE(report.find("<benchmark>"), std::string::npos);
        const std::string second = Fetch(server, "/qx/report.xml?index=1");
        EXPECT_NE(second.find(inputs[1]), std::string::npos);
        EXPECT_EQ(second.find(inputs[0]), std::string::npos);
        EXPECT_EQ(second.find("xml-stylesheet"), std::string::npos);
        const std::string js = Fetch(server, "/qx/report.js");
        EXPECT_TRUE(std::regex_match(js, script)) << js;
        EXPECT_EQ(js.rfind("var qxstate=0;", 0), 0u) << js;
    }

    // Media information of a real file: the tool's sections and fields.
    const std::string media = Fetch(server, "/qx/mediainfo.xml?path=" + inputs[0] + "&xslt=m.xsl");
    ASSERT_TRUE(IsWellFormedXml(media.c_str())) << media;
    for (const char* part : {"<MediaInfo>", "<General>", "<Audio>", "<Channels>", "href=\"m.xsl\""})
        EXPECT_NE(media.find(part), std::string::npos) << part << "\n" << media;

    // Pages that have nothing to show decline, and the file server answers 404; a stylesheet that
    // would break out of its instruction is left out.
    int status = 0;
    for (const char* page : {"/qx/mediainfo.xml", "/qx/mediainfo.xml?path=/nonexistent.wav",
                             "/qx/mediainfo.xml?path=http://example.invalid/a.mp3", "/qx/mediainfo.xml?id=99",
                             "/qx/wmcodecs.xml"}) {
        Fetch(server, page, &status);
        EXPECT_EQ(status, 404) << page;
    }
    const std::string hostile = Fetch(server, "/qx/appinfo.xml?xsl=%22%3F%3E%3Cx%3E");
    EXPECT_TRUE(IsWellFormedXml(hostile.c_str())) << hostile;
    EXPECT_EQ(hostile.find("xml-stylesheet"), std::string::npos);
    EXPECT_EQ(Fetch(server, "/qx/itemstats_0?index=7"), "var stats = null;");
}

}  // namespace
