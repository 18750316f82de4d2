// End to end: a cue sheet over one generated FLAC image, added through the adder with the real
// probe, split by the batch into one output per track, each as long as its INDEX times say.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/encoders/encoder.h"
#include "engine/jobs/job_fixture.h"
#include "ui/filelist/queue_adder.h"

namespace {

using sqtest::Capture;
using sqtest::Shell;

double Duration(const std::string& path) {
    const std::string s = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'");
    return s.empty() ? -1 : std::atof(s.c_str());
}

class CueSplit : public sqtest::JobFixture {};

TEST_F(CueSplit, EachTrackOfTheImageBecomesAnOutputOfItsLength) {
    const std::string image = in.file("image.flac");
    const std::string low = in.file("low.wav"), mid = in.file("mid.wav"), high = in.file("high.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + low + "' synth 2 sine 440"));
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + mid + "' synth 2.4 sine 550"));
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + high + "' synth 1.6 sine 660"));
    ASSERT_TRUE(Shell("sox '" + low + "' '" + mid + "' '" + high + "' '" + image + "'"));
    ASSERT_NEAR(Duration(image), 6.0, 0.01);
    // Track 2 has a pregap (INDEX 00) that stays with track 1; times in frames of 1/75 s.
    const std::string sheet = in.write("image.cue",
                                       "PERFORMER \"Quill\"\r\nTITLE \"Tones\"\r\nFILE \"image.flac\" WAVE\r\n"
                                       "  TRACK 01 AUDIO\r\n    TITLE \"Low\"\r\n    INDEX 01 00:00:00\r\n"
                                       "  TRACK 02 AUDIO\r\n    TITLE \"Mid\"\r\n    INDEX 00 00:01:60\r\n    INDEX 01 00:02:00\r\n"
                                       "  TRACK 03 AUDIO\r\n    TITLE \"High\"\r\n    INDEX 01 00:04:30\r\n");
    GetPrefStore().SetInt("overall.audio.encoder", kEncFlac);
    QueueAdder adder;
    ASSERT_NE(adder.AddFile(sheet), nullptr);
    ASSERT_EQ(QueueCount(), 3);
    RunBatch(1);

    const double expected[] = {2.0, 2.4, 1.6};
    const double oneFrame = 4608.0 / 44100;
    for (int i = 0; i < 3; ++i) {
        const QueueItem* item = QueueGetItem(i);
        SCOPED_TRACE(testing::Message() << "track " << i + 1);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        ASSERT_NE(item->destFile, nullptr);
        EXPECT_NE(std::string(item->destFile).find(".track" + std::to_string(i + 1)), std::string::npos) << item->destFile;
        EXPECT_NEAR(Duration(item->destFile), expected[i], oneFrame);
    }
}

}  // namespace
