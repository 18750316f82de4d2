#include "platform/sysinfo.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/numtext.h"

namespace platform {

int ProcessorCount() {
    if (const char* v = std::getenv("NUMBER_OF_PROCESSORS"); v && *v) {
        int n = ParseInt(v);
        if (n > 0) return n;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n > 0) return static_cast<int>(n);
    return 1;
}

}  // namespace platform
