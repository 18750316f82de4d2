// The per-item record of one conversion, as far as output names, task variables and tool
// command lines read it: the encoders of the output tracks, the PCM format, the target bitrate,
// where the output goes and the item it belongs to.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class CAudioEncoder;
struct QueueItem;

struct AudioTask {
    // 0 set up, 3 while output names are worked out, 2 while the pass runs, 5 finishing.
    std::atomic<int32_t> state{0};
    int32_t start = 0;            // ms into the source
    int32_t duration = 0;         // ms to convert; 0: to the end
    uint32_t sourceId = 0;        // the source class; 0: the tool reads the input file itself
    int32_t encoderId = -1;       // the encoder class; -1 until chosen
    uint32_t encoderFlags = 0;
    int32_t bitrate = 0;          // target audio bitrate, kbit/s
    CAudioEncoder* encoders[2] = {nullptr, nullptr};  // one per output track (owned by the pass)
    // Output format, copied from the first source's WAV header when the pass opens.
    uint16_t formatTag = 1;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint32_t byteRate = 0;
    int32_t inputTracks = 1;
    int32_t outputTracks = 1;
    int32_t currentTrack = 0;     // index of the track being opened
    int32_t index = 0;            // the task's number within its item
    std::string outputPath;
    std::string trackOutputPaths[2];
    bool toStdout = false;        // the output goes to standard output ("-")
    QueueItem* item = nullptr;
};
