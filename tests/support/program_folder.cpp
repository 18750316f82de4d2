#include "support/program_folder.h"

#include <filesystem>
#include <unistd.h>

#include "platform/fs.h"

namespace sqtest {

ProgramFolder::ProgramFolder(bool withLanguages) {
    namespace fs = std::filesystem;
    const fs::path data = SQ_OUT_DIR;
    for (const char* name : {"qxcore.xml", "qxcore64.xml", "defaults.xml", "wine.xml", "sonquill.xml", "qxcodecs.xml"}) {
        if (fs::exists(data / name)) fs::copy_file(data / name, dir_.path() / name);
    }
    if (withLanguages && fs::exists(data / "lang.xml")) {
        fs::copy_file(data / "lang.xml", dir_.path() / "lang.xml");
        fs::copy(data / "lang", dir_.path() / "lang", fs::copy_options::recursive);
    }
    fs::create_directories(dir_.path() / "htdocs");
    oldCwd_ = fs::current_path().string();
    fs::current_path(dir_.path());
    platform::SetAppFolderOverride(dir_.path().string());
}

ProgramFolder::~ProgramFolder() {
    platform::SetAppFolderOverride("");
    std::error_code ec;
    std::filesystem::current_path(oldCwd_, ec);
}

}  // namespace sqtest
