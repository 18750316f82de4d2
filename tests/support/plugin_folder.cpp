#include "support/plugin_folder.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>

#include "support/wav_bytes.h"

namespace sqtest {

void PluginFolder::plant(const std::string& built, const std::string& as) const {
    std::error_code ec;
    std::filesystem::copy_file(std::string(SQ_TEST_PLUGIN_DIR) + "/" + built + ".so", dir_.path() / as,
                               std::filesystem::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << "test plug-in " << built << ": " << ec.message();
}

PluginProgramFolder::PluginProgramFolder() {
    namespace fs = std::filesystem;
    for (const fs::directory_entry& e : fs::directory_iterator(SQ_OUT_DIR))
        if (e.path().filename() != "plugins") fs::create_symlink(e.path(), dir_.path() / e.path().filename());
    fs::create_directory(dir_.path() / "plugins");
}

void PluginProgramFolder::plantDevice(const std::string& built, const std::string& as, const std::string& description) const {
    std::error_code ec;
    std::filesystem::copy_file(std::string(SQ_TEST_PLUGIN_DIR) + "/" + built + ".so", dir_.path() / "plugins" / as, ec);
    ASSERT_FALSE(ec) << "test plug-in " << built << ": " << ec.message();
    if (description.empty()) return;
    std::ofstream(dir_.path() / "plugins" / (as.substr(0, as.rfind('.')) + ".xml")) << description;
}

void WriteTinyFile(const std::string& path, uint32_t rate, uint16_t channels, uint16_t bits, const std::string& pcm,
                   uint32_t mode) {
    std::ofstream f(path, std::ios::binary);
    f << "TINY" << Le(rate, 4) << Le(channels, 2) << Le(bits, 2) << Le(mode, 4) << pcm;
}

std::vector<std::pair<int, intptr_t>> DevicePluginEvents(const std::string& path) {
    // The library the host loaded: opened again only to read its counters.
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!lib) return {};
    const int n = std::min(*static_cast<int*>(dlsym(lib, "device_event_count")), 256);
    const int* codes = static_cast<int*>(dlsym(lib, "device_events"));
    const intptr_t* data = static_cast<intptr_t*>(dlsym(lib, "device_event_data"));
    std::vector<std::pair<int, intptr_t>> events;
    for (int i = 0; i < n; ++i) events.emplace_back(codes[i], data[i]);
    dlclose(lib);
    return events;
}

std::vector<int> DevicePluginEventCodes(const std::string& path) {
    std::vector<int> codes;
    for (const auto& e : DevicePluginEvents(path)) codes.push_back(e.first);
    return codes;
}

}  // namespace sqtest
