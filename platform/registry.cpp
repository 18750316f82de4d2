#include "platform/registry.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/fs.h"
#include "platform/process.h"

namespace platform {

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

// Normal form of a key path for comparison: lower case ASCII, '/' as '\', no empty levels.
std::string NormalHeader(const std::string& inner) {
    std::string out;
    for (char c : inner) {
        if (c == '/') c = '\\';
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string NormalKey(RegRoot root, const std::string& subKey) {
    return NormalHeader(std::string(kRootNames[static_cast<int>(root)]) + "\\" + subKey);
}

std::string Escape(const std::string& s, bool isName) {
    std::string out;
    // A name must not make its line look like a key header or a comment.
    if (isName && !s.empty() && (s[0] == '[' || s[0] == '#' || s[0] == ';')) out += '\\';
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '=':
            out += isName ? "\\=" : "=";
            break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    }
    return out;
}

// Splits "name=data" at the first '=' that is not escaped.
bool SplitValue(const std::string& line, std::string* name, std::string* data) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
            continue;
        }
        if (line[i] == '=') {
            *name = Unescape(line.substr(0, i));
            *data = Unescape(line.substr(i + 1));
            return true;
        }
    }
    return false;
}

bool IsHeader(const std::string& line) { return line.size() >= 2 && line.front() == '[' && line.back() == ']'; }

bool ReadLines(const std::string& file, std::vector<std::string>* lines) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(line);
    }
    return !in.bad();
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string RegistryFile() {
    std::string data = DataFolder();
    return data.empty() ? std::string() : data + "/registry";
}

bool RegistryReadValue(const std::string& file, RegRoot root, const std::string& subKey, int index,
                       std::string* name, std::string* data) {
    if (index < 0 || static_cast<int>(root) < 0 || static_cast<int>(root) > 3) return false;
    std::vector<std::string> lines;
    if (!ReadLines(file, &lines)) return false;
    const std::string want = NormalKey(root, subKey);
    bool inKey = false;
    int n = 0;
    for (const auto& line : lines) {
        if (IsHeader(line)) {
            inKey = NormalHeader(line.substr(1, line.size() - 2)) == want;
            continue;
        }
        if (!inKey || line.empty() || line[0] == '#' || line[0] == ';') continue;
        std::string vn, vd;
        if (!SplitValue(line, &vn, &vd)) continue;
        if (n++ == index) {
            if (name) *name = vn;
            if (data) *data = vd;
            return true;
        }
    }
    return false;
}

bool RegistryWriteValue(const std::string& file, RegRoot root, const std::string& subKey,
                        const std::string& name, const std::string& data) {
    if (file.empty() || static_cast<int>(root) < 0 || static_cast<int>(root) > 3) return false;
    // A key path is one header line.
    if (subKey.find_first_of("\r\n") != std::string::npos) return false;
    std::vector<std::string> lines;
    // A missing file starts empty; one that exists but cannot be read is never replaced.
    if (!ReadLines(file, &lines) && StatPath(file.c_str(), nullptr)) return false;
    const std::string want = NormalKey(root, subKey);
    const std::string entry = Escape(name, true) + "=" + Escape(data, false);
    bool inKey = false, done = false;
    size_t keyEnd = std::string::npos;  // index after the last line of the wanted key
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (IsHeader(lines[i])) {
            inKey = NormalHeader(lines[i].substr(1, lines[i].size() - 2)) == want;
            if (inKey) keyEnd = i + 1;
            continue;
        }
        if (!inKey) continue;
        std::string vn, vd;
        if (SplitValue(lines[i], &vn, &vd) && LowerAscii(vn) == LowerAscii(name)) {
            lines[i] = entry;
            done = true;
        } else if (!lines[i].empty()) {
            keyEnd = i + 1;
        }
    }
    if (!done) {
        if (keyEnd == std::string::npos) {
            std::string header = kRootNames[static_cast<int>(root)];
            if (!subKey.empty()) header += "\\" + subKey;
            lines.push_back("[" + header + "]");
            keyEnd = lines.size();
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(keyEnd), entry);
    }

    const size_t cut = file.rfind('/');
    if (cut != std::string::npos && cut > 0) {
        // The data folder may not exist yet on a new system.
        for (size_t p = file.find('/', 1); p != std::string::npos && p <= cut; p = file.find('/', p + 1))
            CreateOneDir(file.substr(0, p).c_str());
    }
    std::string text;
    for (const auto& l : lines) text += l + '\n';
    return ReplaceFileDurably(file, [&](int fd) { return WriteFull(fd, text.data(), text.size()) == text.size(); });
}

}  // namespace platform
