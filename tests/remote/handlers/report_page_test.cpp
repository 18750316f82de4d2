// The job report as a browser shows it: /qx/report.xml names the shipped report.xsl, which headless
// Chromium applies; every queue item is a row of the table. A screenshot is kept in
// test-output/ReportPage/ of the build folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "engine/queue/queue.h"
#include "support/chromium.h"
#include "support/control_server.h"
#include "support/tempdir.h"

namespace {

TEST(ReportPage, ChromiumShowsEveryItemAsARow) {
    if (!sqtest::ChromiumAvailable()) GTEST_SKIP() << "chromium is not installed";
    sqtest::TempDir tmp;
    const std::string root = tmp.file("htdocs");
    std::filesystem::copy(std::string(SQ_SOURCE_DIR) + "/data/htdocs", root, std::filesystem::copy_options::recursive);
    sqtest::ControlServer server(root);
    ASSERT_GT(server.port(), 0);

    struct Row {
        const char* path;
        int64_t size;
        int32_t durationMs;
        bool done;
    } rows[] = {{"/music/Tom & Jerry <live>.flac", 31457280, 245000, true},
                {"/music/second song.wav", 1048576, 61000, false},
                {"/music/third.ogg", 2048, 0, true}};
    for (const Row& r : rows) {
        QueueItem* item = QueueNewItem(r.path);
        ASSERT_NE(item, nullptr);
        item->size = r.size;
        item->duration = r.durationMs;
        item->state = r.done ? kItemDone : kItemReady;
        ASSERT_EQ(QueueAppend(item), 0);
    }

    const std::string dom = sqtest::ChromiumDom(server.url("/qx/report.xml"), tmp.file("profile"));
    // One table row per item, in queue order, with its file, size, duration and whether it is done.
    const std::regex row("<tr class=\"item\">\\s*<td>(\\d)</td>\\s*<td class=\"path\">([^<]*)</td>\\s*<td>[^<]*</td>\\s*"
                         "<td>(\\d+)</td>\\s*<td>([^<]*)</td>\\s*<td>\\s*</td>\\s*<td class=\"done\">(yes|no)</td>");
    std::string shown;
    for (std::sregex_iterator it(dom.begin(), dom.end(), row), end; it != end; ++it)
        shown += (*it)[1].str() + "|" + (*it)[2].str() + "|" + (*it)[3].str() + "|" + (*it)[4].str() + "|" + (*it)[5].str() + "\n";
    EXPECT_EQ(shown,
              "1|/music/Tom &amp; Jerry &lt;live&gt;.flac|31457280|04:05|yes\n"
              "2|/music/second song.wav|1048576|01:01|no\n"
              "3|/music/third.ogg|2048|00:00|yes\n")
        << dom;

    const std::string png = sqtest::TestOutputFolder("ReportPage") + "report.png";
    EXPECT_TRUE(sqtest::ChromiumScreenshot(server.url("/qx/report.xml"), tmp.file("profile"), png)) << png;
}

}  // namespace
