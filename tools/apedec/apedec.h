/* The decompression entry points of the APE decoder library, as the engine loads them by name.
 * The library decodes with libavformat/libavcodec and hands out interleaved integer PCM in
 * blocks (one block = one sample of every channel). */
#ifndef SQ_APEDEC_H
#define SQ_APEDEC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* APE_DECOMPRESS_HANDLE;

/* GetInfo fields. */
enum {
    APE_INFO_SAMPLE_RATE = 1003,
    APE_INFO_BITS_PER_SAMPLE = 1004,
    APE_INFO_CHANNELS = 1006,
    APE_INFO_BLOCK_ALIGN = 1007,
    APE_DECOMPRESS_CURRENT_MS = 2001,
    APE_DECOMPRESS_TOTAL_BLOCKS = 2002,
    APE_DECOMPRESS_LENGTH_MS = 2003,
    APE_DECOMPRESS_AVERAGE_BITRATE = 2005,
};

/* Error codes. */
enum { APE_ERROR_SUCCESS = 0, APE_ERROR_IO = 1000, APE_ERROR_INVALID_INPUT = 1002, APE_ERROR_DECOMPRESSING = 2000 };

APE_DECOMPRESS_HANDLE c_APEDecompress_Create(const char* fileName, int* error);
void c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE handle);
/* Decodes up to `blocks` blocks into buffer; *retrieved gets the count (0 at the end). 0 or an
 * error code. */
int c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE handle, char* buffer, intptr_t blocks, intptr_t* retrieved);
/* Moves to a block; 0 or an error code. */
int c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE handle, intptr_t block);
intptr_t c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE handle, int field, intptr_t param1, intptr_t param2);

#ifdef __cplusplus
}
#endif

#endif
