// The avs_ layer (platform/avs) as a table of its entry points. The layer needs the media libraries
// (FFmpeg), so the program does not link it: it opens the module "libsqavs.so" beside it the first
// time a script is read, and a batch that never reads one never loads them. Tests and the frame
// pipe link the layer in.
#pragma once

#include "platform/avs/avs.h"

// Every entry point of platform/avs/avs.h, under its name without "avs_".
struct AvsApi {
    decltype(&avs_new_value_string) new_value_string;
    decltype(&avs_is_clip) is_clip;
    decltype(&avs_is_error) is_error;
    decltype(&avs_as_error) as_error;
    decltype(&avs_create_script_environment) create_script_environment;
    decltype(&avs_delete_script_environment) delete_script_environment;
    decltype(&avs_invoke) invoke;
    decltype(&avs_take_clip) take_clip;
    decltype(&avs_release_clip) release_clip;
    decltype(&avs_get_video_info) get_video_info;
    decltype(&avs_get_frame) get_frame;
    decltype(&avs_release_video_frame) release_video_frame;
    decltype(&avs_get_read_ptr) get_read_ptr;
    decltype(&avs_get_audio) get_audio;
    decltype(&avs_bytes_per_channel_sample) bytes_per_channel_sample;
    decltype(&avs_has_video) has_video;
    decltype(&avs_has_audio) has_audio;
};

// The layer's one exported entry point (platform/avs/api.cpp): its table, valid for the process.
extern "C" const AvsApi* sqavs_Api();

namespace platform {

// The layer's table: the linked-in one when the executable links the layer, else the module's,
// opened once from the program's folder or the executable's and kept loaded. Null, after a line on
// standard error, when the module cannot be loaded.
const AvsApi* AvsModule();

}  // namespace platform
