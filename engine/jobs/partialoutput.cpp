#include "engine/jobs/partialoutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/queue/partialname.h"

namespace fs = std::filesystem;

namespace {

// True when both names are links of one file.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> PartialOutputFiles(const std::string& finalPath) {
    std::vector<std::pair<std::string, std::string>> files;
    const std::string prefix = PartialOutputPrefix(finalPath);
    if (prefix.empty()) return files;
    const size_t slash = prefix.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : prefix.substr(0, slash + 1);
    const std::string namePrefix = prefix.substr(folder.size());
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= namePrefix.size() || name.compare(0, namePrefix.size(), namePrefix) != 0) continue;
        files.emplace_back(folder + name, folder + name.substr(namePrefix.size()));
    }
    return files;
}

bool CommitPartialOutput(const std::string& finalPath) {
    for (const auto& [partial, final] : PartialOutputFiles(finalPath)) {
        if (SameFile(partial, final)) continue;
        if (::link(partial.c_str(), final.c_str()) == 0) continue;
        // A name that appeared meanwhile, or a file system without links: the file is moved.
        std::rename(partial.c_str(), final.c_str());
    }
    struct stat st {};
    return ::stat(finalPath.c_str(), &st) == 0;
}

void ReleasePartialOutput(const std::string& finalPath) {
    for (const auto& [partial, final] : PartialOutputFiles(finalPath))
        if (SameFile(partial, final)) ::unlink(partial.c_str());
}

void DiscardPartialOutput(const std::string& finalPath) {
    for (const auto& [partial, final] : PartialOutputFiles(finalPath)) {
        if (SameFile(partial, final)) ::unlink(final.c_str());
        ::unlink(partial.c_str());
    }
}
