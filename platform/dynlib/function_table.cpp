#include "platform/dynlib/function_table.h"

#include <dlfcn.h>

#include <cstdio>

namespace platform {

void FunctionTableLoader::Open(const char* soname) {
    if (!missing_.empty()) return;
    soname_ = soname;
    library_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        const char* why = dlerror();
        missing_ = std::string("cannot load ") + soname + ": " + (why ? why : "unknown reason");
    }
}

void* FunctionTableLoader::Symbol(const char* name) {
    if (!missing_.empty()) return nullptr;
    void* function = library_ ? dlsym(library_, name) : nullptr;
    if (!function) missing_ = std::string("no function ") + name + " in " + soname_;
    return function;
}

bool FunctionTableLoader::Finish() const {
    if (missing_.empty()) return true;
    std::fprintf(stderr, "%s: %s\n", user_, missing_.c_str());
    return false;
}

}  // namespace platform
