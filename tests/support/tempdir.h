// A temporary folder that is removed with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace sqtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of a name inside the folder, as text.
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // Writes a file inside the folder and returns its path.
    std::string write(const std::string& name, const std::string& contents) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace sqtest
