#include "ui/filelist/list_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace filelist {

bool ReadTextHead(const std::string& path, size_t maxBytes, std::string* out) {
    out->clear();
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const size_t want = std::min<size_t>(maxBytes, static_cast<size_t>(st.st_size));
    out->resize(want);
    in.read(out->data(), static_cast<std::streamsize>(want));
    out->resize(static_cast<size_t>(in.gcount()));
    return true;
}

void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& visit) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        const std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.find('\0') == std::string_view::npos) visit(line);
        at = text.find_first_not_of("\r\n", end);
        if (at == std::string_view::npos) break;
    }
}

std::string_view SkipBlanks(std::string_view text) {
    const size_t at = text.find_first_not_of(" \t");
    return at == std::string_view::npos ? std::string_view{} : text.substr(at);
}

bool IsAbsoluteListPath(std::string_view path) {
    if (path.empty()) return false;
    if (path[0] == '/' || path[0] == '\\') return true;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) return true;
    return path.find("://") != std::string_view::npos;
}

std::string FolderOfPath(std::string_view path) {
    const size_t sep = path.find_last_of("/\\");
    return sep == std::string_view::npos ? std::string{} : std::string(path.substr(0, sep + 1));
}

std::string ResolveListEntry(std::string_view listPath, std::string_view entry) {
    if (IsAbsoluteListPath(entry)) return std::string(entry);
    std::string relative(entry);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const size_t sep = listPath.rfind('/');
    return (sep == std::string_view::npos ? std::string{} : std::string(listPath.substr(0, sep + 1))) + relative;
}

}  // namespace filelist
