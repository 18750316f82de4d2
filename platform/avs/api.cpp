// The layer's table of entry points: what the module exports for the program to call through.
#include "platform/avs_module.h"

extern "C" const AvsApi* sqavs_Api() {
    static const AvsApi api = {
        avs_new_value_string,
        avs_is_clip,
        avs_is_error,
        avs_as_error,
        avs_create_script_environment,
        avs_delete_script_environment,
        avs_invoke,
        avs_take_clip,
        avs_release_clip,
        avs_get_video_info,
        avs_get_frame,
        avs_release_video_frame,
        avs_get_read_ptr,
        avs_get_audio,
        avs_bytes_per_channel_sample,
        avs_has_video,
        avs_has_audio,
    };
    return &api;
}
