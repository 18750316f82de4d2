// The resource library as the program loads it: by path, its entry found by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "res/resdata.h"

namespace {

TEST(ResourceLibrary, HandsOutEmbeddedPicturesByIdAndNothingForOthers) {
    const std::string path = std::string(SQ_OUT_DIR) + "/libqxres.so";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto get = reinterpret_cast<GetResourceDataFn>(dlsym(lib, "GetResourceData"));
    ASSERT_NE(get, nullptr);
    const char* type = nullptr;
    const unsigned char* bytes = nullptr;
    size_t size = 0;
    // The splash picture's fallback: a whole PNG file.
    ASSERT_EQ(get(292, &type, &bytes, &size), 1);
    EXPECT_STREQ(type, "png");
    ASSERT_GT(size, 8u);
    EXPECT_EQ(std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(std::memcmp(bytes + size - 8, "IEND", 4), 0);
    EXPECT_EQ(get(9999, &type, &bytes, &size), 0);
    dlclose(lib);
}

}  // namespace
