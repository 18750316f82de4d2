#include "engine/queue/partialname.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr size_t kMaxFileNameBytes = 255;

}  // namespace

std::string PartialOutputPrefix(const std::string& finalPath) {
    const size_t slash = finalPath.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (nameStart >= finalPath.size()) return std::string();
    // FNV-1a of the file name: the same final name always gives the same prefix.
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = nameStart; i < finalPath.size(); ++i) {
        hash ^= static_cast<unsigned char>(finalPath[i]);
        hash *= 1099511628211ull;
    }
    char tag[40];
    std::snprintf(tag, sizeof tag, ".sqpart-%016llx-", static_cast<unsigned long long>(hash));
    return finalPath.substr(0, nameStart) + tag;
}

std::string PartialOutputName(const std::string& finalPath) {
    const std::string prefix = PartialOutputPrefix(finalPath);
    if (prefix.empty()) return std::string();
    const size_t slash = finalPath.find_last_of('/');
    const std::string name = finalPath.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t prefixName = prefix.size() - (finalPath.size() - name.size());
    if (prefixName + name.size() > kMaxFileNameBytes) return std::string();
    return prefix + name;
}
