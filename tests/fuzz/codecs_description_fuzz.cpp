// A codecs description of any bytes: loaded as the shared document, then every tool encoder's
// command line is built from it for an item with streams and tags (conditions, variables,
// extensions), with and without a task.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/xml.h"
#include "engine/encoders/codecs.h"
#include "engine/encoders/encoder.h"
#include "engine/queue/queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    [[maybe_unused]] static const int parserReady = (CXML::Init(), 0);
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (LoadCodecsDefinition(true, text.c_str(), static_cast<int>(text.size())) != 0) return 0;
    QueueItem* item = QueueNewItem("/tmp/in.flac");
    if (!item) return 0;
    auto* stream = new AudioStreamInfo;
    stream->samplerate = 44100;
    stream->channels = 2;
    stream->samplebits = 16;
    item->audio = stream;
    item->flags |= kItemFlagHasStreams | kItemFlagHasTags;
    SetStringField(&item->tagArtist, "A \"quoted\" $(Title) artist");
    SetStringField(&item->tagTitle, "-title");
    for (int id = 0; id <= kEncNull; ++id) {
        std::unique_ptr<CAudioEncoder> encoder = CreateAudioEncoder(id);
        if (!encoder) continue;
        std::string line;
        BuildEncoderCommandLine(encoder.get(), item, &line);
        BuildEncoderCommandLine(encoder.get(), nullptr, &line);
    }
    QueueFreeItem(item);
    return 0;
}
