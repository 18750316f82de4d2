#include "common/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The test suite of RFC 1321, and a message that crosses the 64-byte block and padding limits.
TEST(Md5, ReproducesTheReferenceSuite) {
    struct Case {
        const char* text;
        const char* hex;
    } const cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) {
        char text[40];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(GetMD5String(text, c.text, std::strlen(c.text)), text);
        EXPECT_STREQ(text, c.hex) << '"' << c.text << '"';
        EXPECT_EQ(text[33], 'x') << "wrote past the 33 bytes";
    }
}

TEST(Md5, DigestBytesMatchTheText) {
    unsigned char digest[16];
    EXPECT_EQ(GetMD5(digest, "abc", 3), digest);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
    // The empty message, with no data pointer at all.
    char text[33];
    EXPECT_STREQ(GetMD5String(text, nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
