// Paths of the data files shipped beside the program.
#pragma once

#include <filesystem>
#include <string>

namespace sqtest {

// A shipped data file: the copy beside the binaries when the build made one, else the source.
inline std::string DataFile(const std::string& name) {
    namespace fs = std::filesystem;
    fs::path out = fs::path(SQ_OUT_DIR) / name;
    if (fs::exists(out)) return out.string();
    return (fs::path(SQ_SOURCE_DIR) / "data" / name).string();
}

}  // namespace sqtest
