#include "common/md5.h"

#include <nettle/md5.h>

unsigned char* GetMD5(unsigned char* digest, const void* data, size_t length) {
    md5_ctx ctx;
    md5_init(&ctx);
    if (length > 0 && data) md5_update(&ctx, length, static_cast<const uint8_t*>(data));
    md5_digest(&ctx, MD5_DIGEST_SIZE, digest);
    return digest;
}

char* GetMD5String(char* text, const void* data, size_t length) {
    static const char kHex[] = "0123456789abcdef";
    unsigned char digest[MD5_DIGEST_SIZE];
    GetMD5(digest, data, length);
    for (int i = 0; i < MD5_DIGEST_SIZE; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 15];
    }
    text[2 * MD5_DIGEST_SIZE] = '\0';
    return text;
}
