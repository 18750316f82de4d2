// The entry of the resource library (libqxres.so), found with dlsym by its name.
#pragma once

#include <cstddef>

extern "C" {
// 1 with the picture's type ("png" or "bmp"), bytes and size; 0 when the library has no picture
// with that id. The bytes live as long as the library stays loaded.
int GetResourceData(int id, const char** type, const unsigned char** bytes, size_t* size);
using GetResourceDataFn = int (*)(int, const char**, const unsigned char**, size_t*);
}
