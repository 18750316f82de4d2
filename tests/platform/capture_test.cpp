// The capture layer over ALSA without a sound card: a "file" PCM defined in the user's ALSA
// configuration captures a fixture, period after period in order, and is listed under its
// description; unknown endpoints are refused with a reason.
#include "platform/capture/capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "support/tempdir.h"

namespace {

namespace cap = platform::capture;

TEST(AlsaCapture, FilePcmIsListedAndCapturedInOrder) {
    sqtest::TempDir home;
    // One second of stereo frames whose left sample counts up.
    std::string raw;
    for (int i = 0; i < 44100; ++i) {
        const int16_t frame[2] = {static_cast<int16_t>(i % 30000), static_cast<int16_t>(-(i % 30000))};
        raw.append(reinterpret_cast<const char*>(frame), sizeof frame);
    }
    const std::string input = home.write("in.raw", raw);
    home.write(".asoundrc", "pcm.sqfile {\n type file\n slave.pcm null\n file \"/dev/null\"\n infile \"" + input +
                                "\"\n format \"raw\"\n hint { description \"Sq File Input\" }\n}\n");
    const char* oldHome = getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", home.path().c_str(), 1);

    const std::vector<cap::Endpoint> all = cap::ListEndpoints();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const cap::Endpoint& e) {
        return e.description == "Sq File Input" && e.id == "alsa:sqfile";
    }));
    std::string error;
    std::unique_ptr<cap::Stream> s = cap::OpenStream("alsa:sqfile", cap::Format{}, &error);
    ASSERT_NE(s, nullptr) << error;
    EXPECT_EQ(s->GetFormat().channels, 2u);
    EXPECT_EQ(s->GetFormat().rate, 44100u);
    EXPECT_EQ(s->GetFormat().bits, 16u);
    std::vector<uint8_t> period(17640);
    for (size_t k = 0; k < 3; ++k) {
        ASSERT_EQ(s->Read(period.data(), period.size(), 1000), cap::ReadResult::kData);
        EXPECT_EQ(memcmp(period.data(), raw.data() + k * period.size(), period.size()), 0) << "period " << k;
    }
    s.reset();
    if (oldHome) setenv("HOME", saved.c_str(), 1);
}

TEST(AlsaCapture, RefusesUnknownEndpoints) {
    std::string error;
    EXPECT_EQ(cap::OpenStream("alsa:no_such_pcm_here", cap::Format{}, &error), nullptr);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(cap::OpenStream("dshow:x", cap::Format{}, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
