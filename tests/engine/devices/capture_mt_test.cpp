// Capture devices behind a fake back end: unique names and lists, the opened format and its
// record, the sample queue (order, the cap of ten, short reads), a device that goes away, reads
// ended by Close, and the capture source's path rule and clean-up.
#include "engine/devices/capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "engine/devices/capture_source.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/itemstate.h"
#include "engine/queue/queue.h"

namespace {

namespace cap = platform::capture;

// Periods of one byte value each (1, 2, 3, ...) until `failAfter` periods, then a failure.
class FakeStream : public cap::Stream {
public:
    FakeStream(cap::Format f, int failAfter) : format_(f), failAfter_(failAfter) {}
    cap::ReadResult Read(void* buffer, size_t bytes, int) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (failAfter_ >= 0 && periods_ >= failAfter_) return cap::ReadResult::kFailed;
        memset(buffer, ++periods_, bytes);
        return cap::ReadResult::kData;
    }
    cap::Format GetFormat() const override { return format_; }

private:
    cap::Format format_;
    int failAfter_;
    int periods_ = 0;
};

class FakeBackend : public CaptureBackend {
public:
    std::vector<cap::Endpoint> endpoints;
    std::string openedId;
    cap::Format asked;
    int failAfter = -1;
    cap::Format delivers{1, 48000, 16, false};

    std::vector<cap::Endpoint> List(bool audio) override { return audio ? endpoints : std::vector<cap::Endpoint>{}; }
    std::unique_ptr<cap::Stream> Open(const std::string& id, const cap::Format& wanted) override {
        openedId = id;
        asked = wanted;
        cap::Format f = delivers;
        f.bits = wanted.bits;
        return std::make_unique<FakeStream>(f, failAfter);
    }
};

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        fake.endpoints = {{"Mic", "alsa:m1"}, {"Line, In", "pulse:line"}, {"Mic", "alsa:m2"}, {"A&B <x>", "alsa:ab"}, {"Mic", "alsa:m3"}};
        SetCaptureBackend(&fake);
    }
    void TearDown() override { SetCaptureBackend(nullptr); }
    FakeBackend fake;
};

TEST_F(Capture, UniqueSortedNamesAndLists) {
    std::vector<std::string> names;
    EXPECT_EQ(FindCaptureDevice(nullptr, &names, true), "");
    EXPECT_EQ(names, (std::vector<std::string>{"A&B <x>", "Line - In", "Mic", "Mic #1", "Mic #2"}));
    EXPECT_EQ(FindCaptureDevice("Mic #1", nullptr, true), "alsa:m2");
    EXPECT_EQ(FindCaptureDevice("Mic #2", nullptr, true), "alsa:m3");
    EXPECT_EQ(FindCaptureDevice("Mic #3", nullptr, true), "");
    EXPECT_EQ(CaptureDeviceListXml(true), "<device>A&amp;B &lt;x&gt;</device><device>Line - In</device><device>Mic</device>"
                                          "<device>Mic #1</device><device>Mic #2</device>");
    EXPECT_EQ(CaptureDeviceListText(true, "|"), "A&B <x>|Line - In|Mic|Mic #1|Mic #2");
    EXPECT_EQ(CaptureDeviceListText(false, "|"), "");
    CaptureDevice video;
    EXPECT_FALSE(video.Open("Mic", false, 640, 480, 25, "I420"));
}

TEST_F(Capture, OpensTheDefaultFormatAndDescribesIt) {
    CaptureDevice device;
    ASSERT_TRUE(device.Open("", true, 0, 0, 0, nullptr));
    EXPECT_EQ(fake.openedId, "alsa:ab") << "no name opens the first of the sorted list";
    EXPECT_EQ(fake.asked.channels, 2u);
    EXPECT_EQ(fake.asked.rate, 44100u);
    EXPECT_EQ(fake.asked.bits, 16u);
    CaptureConfig config;
    ASSERT_TRUE(device.GetConfig(&config));
    EXPECT_EQ(config.kind, 1u);
    EXPECT_EQ(memcmp(config.wave, "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0", 24), 0);
    uint32_t rate, byteRate;
    memcpy(&rate, config.wave + 24, 4);
    memcpy(&byteRate, config.wave + 28, 4);
    EXPECT_EQ(rate, 48000u) << "the device's own format";
    EXPECT_EQ(byteRate, 96000u);
    EXPECT_EQ(memcmp(config.wave + 36, "data\0\0\0\0", 8), 0);
    ASSERT_TRUE(device.Open("Mic #1", true, 0, 0, 0, "fl32"));
    EXPECT_EQ(fake.asked.bits, 32u);
    EXPECT_TRUE(device.Close());
    EXPECT_FALSE(device.GetConfig(&config));
    EXPECT_FALSE(device.Open("Nothing", true, 0, 0, 0, nullptr));
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(Capture, SamplesComeInOrderCappedAtTenWithShortReadsKept) {
    CaptureDevice device;
    ASSERT_TRUE(device.Open("Mic", true, 0, 0, 0, nullptr));
    auto sample = [](uint8_t v, size_t n = 4) { return std::vector<uint8_t>(n, v); };
    uint8_t buf[8];
    int64_t ms = -1;
    // Arrivals 1 2 3, a read, then 4: the reads go on 2 3 4.
    for (uint8_t v : {1, 2, 3}) device.Receive(sample(v));
    ASSERT_EQ(device.ReadSample(buf, 8, &ms), 4);
    EXPECT_EQ(buf[0], 1);
    EXPECT_GT(ms, 0);
    device.Receive(sample(4));
    for (uint8_t v : {2, 3, 4}) {
        ASSERT_EQ(device.ReadSample(buf, 8, &ms), 4);
        EXPECT_EQ(buf[0], v);
    }
    // Eleven unread samples: the oldest is gone.
    for (uint8_t v = 10; v < 21; ++v) device.Receive(sample(v));
    ASSERT_EQ(device.ReadSample(buf, 8, &ms), 4);
    EXPECT_EQ(buf[0], 11);
    for (int i = 0; i < 9; ++i) ASSERT_EQ(device.ReadSample(buf, 8, &ms), 4);
    EXPECT_EQ(device.ReadSample(buf, 8, &ms), 0) << "nothing new within the wait";
    // A buffer smaller than the sample: the rest comes with the next read.
    device.Receive(sample(30, 6));
    EXPECT_EQ(device.ReadSample(buf, 4, &ms), 4);
    EXPECT_EQ(device.ReadSample(buf, 8, &ms), 2);
    EXPECT_EQ(buf[1], 30);
}

TEST_F(Capture, CloseEndsAWaitingRead) {
    CaptureDevice device;
    ASSERT_TRUE(device.Open("Mic", true, 0, 0, 0, nullptr));
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buf[8];
        int got = 0;
        while (got == 0) got = device.ReadSample(buf, 8, nullptr);
        return got;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    device.Stop();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(reader.get(), -1);
}

// The capture source over the fake: the path names the device; the read ends with the item's
// error when the device goes away.
class CaptureSource : public Capture {
protected:
    void TearDown() override {
        for (QueueItem* i : items_) QueueFreeItem(i);
        Capture::TearDown();
    }
    AudioTask* Task(const char* path) {
        items_.push_back(QueueNewItem(path));
        tasks_.emplace_back(std::make_unique<AudioTask>());
        tasks_.back()->item = items_.back();
        return tasks_.back().get();
    }
    std::vector<QueueItem*> items_;
    std::vector<std::unique_ptr<AudioTask>> tasks_;
};

TEST_F(CaptureSource, PathNamesTheDevice) {
    struct Case {
        const char* path;
        const char* opened;  // null: refused
    } const cases[] = {
        {"dshow://a,b,c,d,Mic #1", "alsa:m2"},
        {"dshow://Mic #1", "alsa:m2"},
        {"dshow://", "alsa:ab"},
        {"dshow://x,Line - In", "pulse:line"},
        {"dsho://Mic", nullptr},
        {"dshow://Nothing", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        fake.openedId.clear();
        CAudioCapSource source;
        EXPECT_EQ(source.Open(Task(c.path)), c.opened != nullptr);
        if (c.opened) {
            EXPECT_EQ(fake.openedId, c.opened);
        }
        source.Close();
        EXPECT_FALSE(source.device.IsOpen()) << "closed also without a header";
    }
}

TEST_F(CaptureSource, ReadsUntilTheDeviceGoesAway) {
    fake.failAfter = 3;
    CAudioCapSource source;
    AudioTask* task = Task("dshow://Mic");
    task->item->state = kItemEncoding;
    ASSERT_TRUE(source.Open(task));
    ASSERT_TRUE(source.ReadHeader());
    EXPECT_EQ(source.header.sampleRate, 48000u);
    EXPECT_EQ(source.header.channels, 1u);
    ASSERT_TRUE(source.Start());
    std::vector<uint8_t> buf(4000);
    std::vector<uint8_t> firsts;
    auto reads = std::async(std::launch::async, [&] {
        int n;
        while ((n = source.Read(buf.data(), 4000)) > 0) firsts.push_back(buf[0]);
        return n;
    });
    ASSERT_EQ(reads.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(reads.get(), -1);
    // Three periods of 9600 bytes in 4000-byte reads: nothing lost, nothing out of order.
    EXPECT_EQ(source.position, 3u * 9600);
    EXPECT_EQ(firsts, (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3}));
    EXPECT_EQ(task->item->errorCode.load(), kItemErrorSourceFail);
    source.Close();
    EXPECT_FALSE(source.device.IsOpen());
}

}  // namespace
