// The resource library's one entry: the bytes of a picture by id, from the table the build
// embedded.
#include <cstddef>
#include <cstring>

#include "res/resdata.h"

namespace {

struct ResourceRow {
    int id;
    const char* type;  // "png" or "bmp"
    const unsigned char* bytes;
    size_t size;
};

#include "resource_table.inc"

}  // namespace

extern "C" __attribute__((visibility("default"))) int GetResourceData(int id, const char** type,
                                                                      const unsigned char** bytes, size_t* size) {
    for (const ResourceRow* row = kResources; row->type; ++row) {
        if (row->id != id) continue;
        if (type) *type = row->type;
        if (bytes) *bytes = row->bytes;
        if (size) *size = row->size;
        return 1;
    }
    return 0;
}
