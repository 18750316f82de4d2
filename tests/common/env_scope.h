// Sets or removes environment variables, or changes the working folder, for the lifetime of the
// object and restores them after, so a test controls exactly the environment the code under test
// reads.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sqtest {

class EnvScope {
public:
    EnvScope() = default;
    EnvScope(const std::string& name, const std::string& value) { Set(name, value); }
    ~EnvScope() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

    void Set(const std::string& name, const std::string& value) {
        Save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Relative paths (string-table files named in a language list, for one) resolve against the
// working folder.
class CwdScope {
public:
    explicit CwdScope(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~CwdScope() { std::filesystem::current_path(old_); }
    CwdScope(const CwdScope&) = delete;
    CwdScope& operator=(const CwdScope&) = delete;

private:
    std::filesystem::path old_;
};

}  // namespace sqtest
