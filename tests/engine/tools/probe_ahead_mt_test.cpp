// The probe's read-ahead: what a tool printed for a file, kept by a read-ahead thread, stands for
// one run of the same command line on the same, unchanged file, and for nothing else; a job's
// probe that asks while the read-ahead of its file runs waits for it.
#include "engine/tools/probe_ahead.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "engine/tools/media_info.h"
#include "engine/tools/player_cmd.h"
#include "support/tempdir.h"
#include "support/wav_bytes.h"

namespace {

// Keeps an output as a read-ahead thread does.
void KeepAhead(const std::string& line, const std::string& path, const std::string& output) {
    std::thread([&] {
        ProbeReadAheadScope scope(path.c_str());
        EXPECT_TRUE(ReadingProbeAhead());
        KeepProbeOutput(line, path.c_str(), output);
    }).join();
}

TEST(ProbeReadAhead, KeptOutputStandsForOneRunOfTheUnchangedFile) {
    sqtest::TempDir dir;
    struct Case {
        const char* name;
        std::function<void(const std::string& file)> between;  // what happens between keeping and taking
        const char* askedLine;
        bool taken;
    } const cases[] = {
        {"unchanged", [](const std::string&) {}, "tool a", true},
        {"another line", [](const std::string&) {}, "tool b", false},
        {"rewritten", [&](const std::string& file) { dir.write(std::filesystem::path(file).filename().string(), "longer content"); },
         "tool a", false},
        {"removed", [](const std::string& file) { std::filesystem::remove(file); }, "tool a", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.write(std::string(c.name) + ".flac", "content");
        KeepAhead("tool a", file, "ID_LENGTH=1.00\n");
        c.between(file);
        std::string output;
        EXPECT_EQ(TakeProbeOutput(c.askedLine, file.c_str(), &output), c.taken);
        if (c.taken) {
            EXPECT_EQ(output, "ID_LENGTH=1.00\n");
            // Taken once: the next probe runs the tool.
            EXPECT_FALSE(TakeProbeOutput("tool a", file.c_str(), &output));
        }
        ForgetProbeOutputs();
    }
}

TEST(ProbeReadAhead, OnlyTheReadAheadKeepsAndItNeverTakes) {
    sqtest::TempDir dir;
    const std::string file = dir.write("a.wav", "content");
    std::string output;
    // A job's own run keeps nothing.
    KeepProbeOutput("tool a", file.c_str(), "from the job");
    EXPECT_FALSE(TakeProbeOutput("tool a", file.c_str(), &output));
    KeepAhead("tool a", file, "ahead");
    std::thread([&] {
        ProbeReadAheadScope scope(file.c_str());
        EXPECT_FALSE(TakeProbeOutput("tool a", file.c_str(), &output));
    }).join();
    EXPECT_TRUE(TakeProbeOutput("tool a", file.c_str(), &output));
    EXPECT_EQ(output, "ahead");
    ForgetProbeOutputs();
}

TEST(ProbeReadAhead, AJobsProbeWaitsForTheReadAheadOfItsFile) {
    sqtest::TempDir dir;
    const std::string file = dir.write("b.flac", "content");
    std::promise<void> entered, asked;
    std::thread ahead([&] {
        ProbeReadAheadScope scope(file.c_str());
        entered.set_value();
        // The tool's run ends only after the job's probe has asked for its output.
        asked.get_future().wait();
        KeepProbeOutput("tool a", file.c_str(), "late");
    });
    entered.get_future().wait();
    auto taking = std::async(std::launch::async, [&] {
        std::string output;
        return TakeProbeOutput("tool a", file.c_str(), &output) ? output : std::string("not taken");
    });
    // The job's probe is still waiting while the read-ahead runs.
    EXPECT_EQ(taking.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    asked.set_value();
    ASSERT_EQ(taking.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(taking.get(), "late");
    ahead.join();
    ForgetProbeOutputs();
}

// The media information of the files a batch starts with, read while the program comes up: a
// regular file is marked at once (its job's probe waits for the reading) and its text kept for
// that probe; a pipe or a missing file is left to the job.
TEST(ProbeReadAhead, FilesReadAtTheProgramsStartAreTakenByTheirJobs) {
    sqtest::TempDir dir;
    sqtest::WavSpec spec;
    spec.data.assign(44100 * 4, '\x01');
    const std::string wav = dir.write("start.wav", sqtest::BuildWav(spec));
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = dir.file("gone.wav");
    StartMediaInfoReadAhead({fifo, wav, missing});
    for (const std::string& other : {fifo, missing}) EXPECT_FALSE(ProbeOutputsKeptOrComing(other.c_str())) << other;
    // Marked at once, so a job that asks now waits for the reading instead of reading too.
    EXPECT_TRUE(ProbeOutputsKeptOrComing(wav.c_str()));
    std::string taken;
    const std::string line = "mediainfo --output=XML --language=raw -f " + QuotedPath(wav.c_str());
    EXPECT_TRUE(TakeProbeOutput(line, wav.c_str(), &taken));
    FinishMediaInfoReadAhead();
    std::string direct;
    ASSERT_TRUE(ReadMediaInfoInProcess(wav.c_str(), &direct));
    EXPECT_EQ(taken, direct);
    EXPECT_FALSE(ProbeOutputsKeptOrComing(wav.c_str()));
    ForgetProbeOutputs();
}

}  // namespace
