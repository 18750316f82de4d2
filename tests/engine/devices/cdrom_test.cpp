// The CD layer over generated disc images: the table of contents as sector addresses, disc id and
// query text, raw sectors across the kernel's read limit and track boundaries, the drive table's
// limits, and the CD track source reading exactly its track.
#include "engine/devices/cdrom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/devices/cd_source.h"
#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "support/cd_image.h"
#include "support/tempdir.h"

namespace {

using sqtest::CdImageSectors;
using sqtest::WriteCdImage;

// A TOC buffer from (minutes, seconds, frames) addresses: the tracks, then the lead-out.
CdTocBuffer Toc(int first, int last, const std::vector<std::array<int, 3>>& msf) {
    CdTocBuffer toc;
    const size_t length = 2 + 8 * msf.size();
    toc.bytes[0] = static_cast<uint8_t>(length >> 8);
    toc.bytes[1] = static_cast<uint8_t>(length);
    toc.bytes[2] = static_cast<uint8_t>(first);
    toc.bytes[3] = static_cast<uint8_t>(last);
    for (size_t i = 0; i < msf.size() && i < 100; ++i)
        for (int k = 0; k < 3; ++k) toc.bytes[4 + 8 * i + 5 + k] = static_cast<uint8_t>(msf[i][k]);
    return toc;
}

TEST(CdToc, CountIdAndQueryOfTables) {
    struct Case {
        const char* what;
        CdTocBuffer toc;
        int tracks;
        uint32_t id;
        const char* query;
    } const cases[] = {
        {"no disc", Toc(0, 0, {}), 0, 0, "cddb query 00000000 0"},
        {"one track at 2 s, lead-out 3:00", Toc(1, 1, {{0, 2, 0}, {3, 0, 0}}), 1, 0x0200B201u, "cddb query 0200b201 1 150 180"},
        {"two tracks at 2 s and 4 s, lead-out 7 s", Toc(1, 2, {{0, 2, 0}, {0, 4, 0}, {0, 7, 0}}), 2, 0x06000502u,
         "cddb query 06000502 2 150 300 7"},
        // A damaged table must not reach past its descriptors.
        {"last track 255", Toc(1, 255, {{0, 2, 0}, {0, 4, 0}}), 0, 0, "cddb query 00000000 0"},
        {"last before first", Toc(5, 2, {{0, 2, 0}, {0, 4, 0}}), 0, 0, "cddb query 00000000 0"},
        {"data length short of the lead-out", Toc(1, 3, {{0, 2, 0}, {0, 4, 0}, {0, 6, 0}}), 0, 0, "cddb query 00000000 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CdTocTrackCount(c.toc), c.tracks);
        EXPECT_EQ(CddbDiscId(c.toc), c.id);
        char text[kCdDiscInfoBytes];
        EXPECT_STREQ(CddbQueryString(c.toc, text, sizeof text), c.query);
    }
    char small[12];
    memset(small, 'x', sizeof small);
    CddbQueryString(Toc(1, 1, {{0, 2, 0}, {3, 0, 0}}), small, sizeof small);
    EXPECT_STREQ(small, "cddb query ");
}

class CdImages : public ::testing::Test {
protected:
    sqtest::TempDir dir;
};

TEST_F(CdImages, TocDiscIdAndSectorsOfAnImage) {
    const std::string cue = WriteCdImage(dir.path().string(), "disc", {150, 225, 100});
    sqtest::CdImageDrives drives({cue});
    ASSERT_EQ(CdGetDriveCount(), 1);
    EXPECT_EQ(CdDriveLetter(0), 'D');
    EXPECT_EQ(CdGetTrackCount(0), 3);
    EXPECT_EQ(CdGetTrackCount(1), 0) << "an index equal to the count names no drive";
    char text[kCdDiscInfoBytes];
    // Tracks at 00:02:00, 00:04:00 and 00:07:00, lead-out 00:08:25.
    EXPECT_EQ(CdGetDiscInfo(0, text), 0x0D000603u);
    EXPECT_STREQ(text, "cddb query 0d000603 3 150 300 525 8");
    EXPECT_EQ(CdDiscText("D:"), text);

    CdDrive* drive = CdOpenDrive('d');
    ASSERT_NE(drive, nullptr);
    std::vector<uint32_t> starts;
    EXPECT_EQ(CdReadToc(drive, &starts), 3);
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 150, 375, 475}));
    // 200 sectors: more than one kernel read, across the boundary of tracks 1 and 2.
    std::string got(200 * kCdSectorBytes, '\0');
    ASSERT_EQ(CdReadSectors(drive, 100, got.data(), 200), 0);
    EXPECT_TRUE(got == CdImageSectors(100, 200));
    EXPECT_EQ(CdReadSectors(drive, 470, got.data(), 10), -1) << "past the lead-out";
    CdCloseDrive(drive);
}

TEST_F(CdImages, MissingEmptyAndSurplusDrives) {
    std::vector<std::string> images;
    for (int i = 0; i < 9; ++i) images.push_back(WriteCdImage(dir.path().string(), "d" + std::to_string(i), {75}));
    images[1] = dir.file("no-such-disc.cue");
    sqtest::CdImageDrives drives(images);
    EXPECT_EQ(CdGetDriveCount(), kCdMaxDrives) << "a ninth drive is not listed";
    EXPECT_EQ(CdGetTrackCount(0), 1);
    EXPECT_EQ(CdGetTrackCount(1), 0);
    char text[kCdDiscInfoBytes] = "stale";
    EXPECT_EQ(CdGetDiscInfo(1, text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(CdOpenDrive('E'), nullptr);
    CdDrive* ninth = CdOpenDrive('L');
    EXPECT_NE(ninth, nullptr) << "a ninth device is still reachable by its letter";
    CdCloseDrive(ninth);
    EXPECT_EQ(CdOpenDrive('M'), nullptr);
    EXPECT_EQ(CdOpenDrive('C'), nullptr);
}

TEST(CdLayer, UninitialisedAndUnavailable) {
    CdShutdown();
    EXPECT_EQ(CdGetDriveCount(), 0);
    EXPECT_EQ(CdGetDiscInfo(0, nullptr), ~uint32_t{0});
}

// The CD track source over an image in drive D:.
class CdSource : public CdImages {
protected:
    void SetUp() override {
        cue_ = WriteCdImage(dir.path().string(), "disc", {150, 225, 100});
        drives_ = std::make_unique<sqtest::CdImageDrives>(std::vector<std::string>{cue_});
    }
    void TearDown() override {
        if (item_) QueueFreeItem(item_);
        drives_.reset();
    }
    bool Open(CCDAudioSource& source, const char* path) {
        if (item_) QueueFreeItem(item_);
        item_ = QueueNewItem(path);
        task_.item = item_;
        return source.Open(&task_);
    }
    // Reads to the end in blocks of `block` bytes.
    static std::string ReadAll(CCDAudioSource& source, int block) {
        std::string all, buf(static_cast<size_t>(block), '\0');
        for (int n; (n = source.Read(buf.data(), block)) > 0;) all.append(buf.data(), static_cast<size_t>(n));
        return all;
    }
    std::string cue_;
    std::unique_ptr<sqtest::CdImageDrives> drives_;
    QueueItem* item_ = nullptr;
    AudioTask task_;
};

TEST_F(CdSource, ReadsExactlyItsTrack) {
    CCDAudioSource source;
    ASSERT_TRUE(Open(source, "D:\\Track02.cda"));
    EXPECT_EQ(source.firstSector, 150);
    EXPECT_EQ(source.endSector, 375);
    const std::string all = ReadAll(source, 32768);
    EXPECT_EQ(all.size(), 225u * kCdSectorBytes);
    EXPECT_TRUE(all == CdImageSectors(150, 225));
    EXPECT_EQ(source.position, all.size());
    source.Close();
    EXPECT_EQ(source.endSector, 0);

    ASSERT_TRUE(Open(source, "D:\\Track03.CDA"));
    EXPECT_EQ(source.Seek(1000), 75 * static_cast<int>(kCdSectorBytes));
    EXPECT_EQ(source.Seek(1000), 0) << "past the track's end nothing moves";
    EXPECT_TRUE(ReadAll(source, 2352 * 3 + 100) == CdImageSectors(450, 25));
    char small[1000];
    EXPECT_EQ(source.Read(small, sizeof small), -1);
}

TEST_F(CdSource, RefusesWhatIsNoTrackOfTheDisc) {
    for (const char* path : {"D:\\Track04.cda", "D:\\Track02.wav", "D:\\Track00.cda", "E:\\Track01.cda", "Track1.cda"}) {
        SCOPED_TRACE(path);
        CCDAudioSource source;
        EXPECT_FALSE(Open(source, path));
        char buf[2352];
        EXPECT_EQ(source.Read(buf, sizeof buf), -1);
    }
}

TEST_F(CdSource, ProbeDescribesTheTrack) {
    QueueItem* item = QueueNewItem("D:\\Track02.cda");
    ASSERT_EQ(ProbeCdaTrack(item), 0);
    ASSERT_TRUE(item->audio);
    EXPECT_STREQ(item->audio->codec, "CDDA");
    EXPECT_EQ(item->audio->samplerate, 44100u);
    EXPECT_EQ(item->duration, 3000);
    EXPECT_EQ(item->size, 225u * 2352 / 1024);
    SetStringField(&item->file, "D:\\Track09.cda");
    EXPECT_EQ(ProbeCdaTrack(item), -1);
    QueueFreeItem(item);
}

}  // namespace
