// MD5 message digests (RFC 1321), exported by qxcommon. Used to name temporary files after their
// source and to check files by their digest. Computed by the system's nettle library.
#pragma once

#include <stddef.h>

#include "common/helpers_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Writes the 16-byte digest of `length` bytes at `data` into `digest` and returns `digest`.
// A length of 0 (data may then be null) gives the digest of the empty message.
QXHELPER_API unsigned char* GetMD5(unsigned char* digest, const void* data, size_t length);
// Writes the digest as 32 lower-case hexadecimal digits and a NUL into `text` (at least 33
// bytes) and returns `text`.
QXHELPER_API char* GetMD5String(char* text, const void* data, size_t length);

#ifdef __cplusplus
}  // extern "C"
#endif
