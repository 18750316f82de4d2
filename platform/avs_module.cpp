// Finds the avs_ layer: linked in (tests), or else the module "libsqavs.so" in the program's folder,
// so that the program loads the media libraries only when it reads a script.
#include "platform/avs_module.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/fs.h"

// Declared weak here: defined only when the layer is linked into the executable.
extern "C" const AvsApi* sqavs_Api() __attribute__((weak));

namespace platform {

namespace {

const AvsApi* LoadModule() {
    void* module = nullptr;
    // The program's folder, else the executable's (a program folder set elsewhere holds data only).
    for (const std::string& folder :
         {AppFolder(), std::filesystem::path(ExecutablePath()).parent_path().string()}) {
        if (module || folder.empty()) continue;
        module = dlopen((std::filesystem::path(folder) / "libsqavs.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!module) {
        std::fprintf(stderr, "avs: cannot load the script module: %s\n", dlerror());
        return nullptr;
    }
    // Kept loaded: clips and environments handed out live in it until the process ends.
    auto api = reinterpret_cast<const AvsApi* (*)()>(dlsym(module, "sqavs_Api"));
    if (!api) {
        std::fprintf(stderr, "avs: the script module has no entry point: %s\n", dlerror());
        return nullptr;
    }
    return api();
}

}  // namespace

const AvsApi* AvsModule() {
    if (sqavs_Api) return sqavs_Api();
    // Tried once: workers that start together share one attempt and its answer.
    static const AvsApi* const loaded = LoadModule();
    return loaded;
}

}  // namespace platform
