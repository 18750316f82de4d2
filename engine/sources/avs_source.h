// The script source: reads the audio of a script through the avs_ layer. An input that is not a
// script gets one written from the item and the audio settings; the preview player uses the same
// script functions.
#pragma once

#include <cstdint>
#include <string>

#include "engine/sources/audio_source.h"

struct AVS_ScriptEnvironment;
struct AVS_Clip;
struct AvsApi;

// Owns the script file of a source or a player.
class CAvsHelper {
public:
    std::string scriptPath;
    bool deleteScript = false;  // the file is removed when the owner closes
};

class CAvsAudioSource : public CAudioSource, public CAvsHelper {
public:
    CAvsAudioSource();
    ~CAvsAudioSource() override;

    bool Open(AudioTask* task) override;
    void Close() override;
    int Read(void* buffer, int size) override;
    // Moves to a time of a script that holds no cut of its own; the time reached, or -1.
    int32_t Seek(int32_t ms) override;

    int32_t bytesRead = 0;
    uint32_t nextSample = 0;
    uint32_t length = 0;  // samples of the clip

private:
    bool Fail(const char* message);

    const AvsApi* api_ = nullptr;  // the avs_ layer's entry points, set when a script is opened
    AVS_ScriptEnvironment* env_ = nullptr;
    AVS_Clip* clip_ = nullptr;
    int blockAlign_ = 0;
    bool scriptCuts_ = false;  // the script cuts the task's start itself
};

// Writes (or, for a script input, takes) the script of the item into owner; path null: the task's
// "TempFile" + ".avs". False when there is nothing to write or the file cannot be written.
bool MakeAvsScriptFile(CAvsHelper* owner, QueueItem* item, AudioTask* task, bool templateAllowed,
                       const char* path);
// The script text for the item; "" when it has no input or no stream to read.
std::string BuildAvsScript(QueueItem* item, AudioTask* task, bool templateAllowed);
// "videosrc.avisynth.path" + '/' + name when that file exists, else name.
std::string FindAvsFile(const std::string& name);
// Removes the owner's script when it is its own. Always true.
bool DeleteAvsScript(CAvsHelper* owner);
