#include "engine/queue/cpath.h"

void CPath::Set(const char* t) {
    text = t ? t : "";
    separator = '/';
}

void CPath::Assign(const CPath& other) {
    if (&other == this) return;
    text = other.text;
    separator = other.separator;
}

size_t CPath::ExtDot() const {
    const size_t sep = text.rfind(separator);
    const size_t nameStart = sep == std::string::npos ? 0 : sep + 1;
    const size_t dot = text.rfind('.');
    // A dot in a folder name, or the leading dot of a hidden file's name, starts no extension.
    if (dot == std::string::npos || dot <= nameStart) return std::string::npos;
    return dot;
}

std::string CPath::GetDir() const {
    const size_t sep = text.rfind(separator);
    return sep == std::string::npos ? std::string() : text.substr(0, sep + 1);
}

std::string CPath::GetExt() const {
    const size_t dot = ExtDot();
    return dot == std::string::npos ? std::string() : text.substr(dot + 1);
}

std::string CPath::GetFileName() const {
    const size_t sep = text.rfind(separator);
    return sep == std::string::npos ? text : text.substr(sep + 1);
}

void CPath::StripExt() {
    const size_t dot = ExtDot();
    if (dot != std::string::npos) text.erase(dot);
}

void CPath::StripDir() {
    const size_t sep = text.rfind(separator);
    if (sep != std::string::npos) text.erase(0, sep + 1);
}
