#include "engine/jobs/fileops.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/fileutil.h"

namespace fs = std::filesystem;

bool IsNullOutput(const char* path) {
    return path && (std::strcmp(path, "NUL") == 0 || std::strcmp(path, kNullDevice) == 0);
}

int RemoveOutputFile(const char* path, int waitMs) {
    if (!path || !*path) return -1;
    if (IsNullOutput(path)) return 0;
    return RemoveFile(path, waitMs);
}

bool MoveFileNoReplace(const char* from, const char* to) {
    std::error_code ec;
    if (!from || !to || fs::exists(fs::symlink_status(to, ec))) return false;
    // A hard link is made only when the name is free, so an existing target is never replaced.
    fs::create_hard_link(from, to, ec);
    if (!ec) {
        fs::remove(from, ec);
        return true;
    }
    fs::rename(from, to, ec);
    if (!ec) return true;
    if (!fs::copy_file(from, to, fs::copy_options::none, ec) || ec) return false;
    fs::remove(from, ec);
    return true;
}

bool CopyFileReplace(const char* from, const char* to) {
    std::error_code ec;
    return from && to && fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool CopyLastWriteTime(const char* from, const char* to) {
    std::error_code ec;
    const auto t = fs::last_write_time(from, ec);
    if (ec) return false;
    fs::last_write_time(to, t, ec);
    return !ec;
}
