// The per-item record of one conversion: the sources of the input tracks, the encoders of the
// output tracks, the PCM format, start and duration, and the block buffer that joins the decode
// and the encode thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/eventlog.h"
#include "engine/jobs/blockbuffer.h"
#include "engine/jobs/pcmio.h"

class CAudioEncoder;
class CAudioSource;
struct QueueItem;

struct AudioTask {
    // 0 set up, 3 while output names are worked out, 2 while the pass runs, 5 finishing.
    std::atomic<int32_t> state{0};
    int32_t start = 0;            // ms into the source
    int32_t duration = 0;         // ms to convert; 0: to the end
    int32_t pass = 1;             // current pass, from 1
    int32_t passCount = 1;        // 1, or 2 with normalisation
    bool analysisPass = false;    // the pass only measures (pass 1 of 2)
    LogSource log;
    bool audioEnabled = false;
    bool copyAudio = false;
    std::string formatName;       // option text of "overall.audio.format"
    uint32_t sourceId = 0;        // the source class; 0: the tool reads the input file itself
    int32_t encoderId = -1;       // the encoder class; -1 until chosen
    uint32_t encoderFlags = 0;
    int32_t bitrate = 0;          // target audio bitrate, kbit/s
    CAudioSource* sources[2] = {nullptr, nullptr};    // one per input track (owned by the pass)
    CAudioEncoder* encoders[2] = {nullptr, nullptr};  // one per output track (owned by the pass)
    CAudioEncoder* setupEncoder = nullptr;  // made at set-up, replaced by the pass's own
    std::atomic<bool> outputCreated{false};  // an encoder opened its output during this run
    // What the audio threads read from and write to while a pass runs (views of the above).
    PcmReader* readers[2] = {nullptr, nullptr};
    PcmWriter* writers[2] = {nullptr, nullptr};
    WaveHeader header{};          // the first source's header, sent to each encoder first
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
    bool gainAnalysis = false;    // on the analysis pass, or with ReplayGain
    int32_t applicator = 0;       // "audiofilter.generic.applicator"
    std::unique_ptr<AudioBlockBuffer> buffer;
    int32_t index = 0;            // the task's number within its item
    std::string outputPath;
    std::string trackOutputPaths[2];  // each track's final output name
    // Outputs are written under their partial names (see partialname.h) until the item is done:
    // "DestFile" names the partial file then, and writtenPaths hold what each track's tool writes.
    std::atomic<bool> writePartial{false};
    std::string writtenPaths[2];
    bool toStdout = false;        // the output goes to standard output ("-")
    bool toolReadsInput = false;  // the encoder's tool reads the input file itself: no PCM flows
    std::atomic<int64_t> outputBytes{0};  // bytes written, for outputs whose file cannot be measured
    std::atomic<int64_t> rounds{0};       // buffer rounds written by the encode thread
    std::mutex mutex;             // held while the encoders are finished, created or destroyed
    QueueItem* item = nullptr;
};
