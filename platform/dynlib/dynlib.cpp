#include "platform/dynlib/dynlib.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/fs.h"

namespace platform {

DynLib& DynLib::operator=(DynLib&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        error_ = std::move(other.error_);
        other.handle_ = nullptr;
    }
    return *this;
}

bool DynLib::Open(const std::string& path) {
    // A name without '/' would be searched on the library path: plug-ins are always files.
    return OpenFromLibraryPath(path.find('/') == std::string::npos ? "./" + path : path);
}

bool DynLib::OpenFromLibraryPath(const std::string& name) {
    Close();
    error_.clear();
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : "cannot load " + name;
    }
    return handle_ != nullptr;
}

void* DynLib::Symbol(const char* name) const { return handle_ && name ? dlsym(handle_, name) : nullptr; }

void DynLib::Close() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

void* DynLib::Release() {
    void* h = handle_;
    handle_ = nullptr;
    return h;
}

void CloseLibraryHandle(void* handle) {
    if (handle) dlclose(handle);
}

void* ProgramModuleHandle() {
    static void* self = dlopen(nullptr, RTLD_NOW);
    return self;
}

std::vector<std::string> ListLibraryFiles(const std::string& folder, const char* pattern) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        if (!WildcardMatch(pattern, e->d_name)) continue;
        struct stat st {};
        const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + e->d_name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(e->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace platform
