// A track of a generated disc image in drive D:, probed and ripped through the batch into FLAC:
// the FLAC file decodes to exactly the track's sectors.
#include <gtest/gtest.h>

#include "engine/devices/cd_source.h"
#include "engine/encoders/encoder.h"
#include "engine/engine_api.h"
#include "engine/jobs/job_fixture.h"
#include "support/cd_image.h"

namespace {

using sqtest::Capture;

class CdRip : public sqtest::JobFixture {};

TEST_F(CdRip, TrackThroughTheBatchIntoFlac) {
    sqtest::CdImageDrives drives({sqtest::WriteCdImage(in.path().string(), "disc", {150, 225, 100})});
    PrefStore& p = GetPrefStore();
    p.SetInt("overall.audio.encoder", kEncFlac);
    p.SetInt("overall.audio.autoSource", 1);  // the item's kind picks the CD source
    QueueItem* item = Add("D:\\Track02.cda");
    ASSERT_EQ(ProbeItem(item, 0), 0);
    EXPECT_EQ(item->duration, 3000);
    RunBatch(1);
    ASSERT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
    ASSERT_TRUE(item->destFile);
    const std::string raw = out.file("track.raw");
    ASSERT_TRUE(sqtest::Shell("flac -s -d --force-raw-format --endian=little --sign=signed -o '" + raw + "' '" +
                              item->destFile + "'"));
    const std::string decoded = sqtest::ReadFile(raw);
    EXPECT_EQ(decoded.size(), 225u * kCdSectorBytes);
    EXPECT_TRUE(decoded == sqtest::CdImageSectors(150, 225)) << "the rip differs from the disc";
}

}  // namespace
