// A path string and its separator, with the few splits the task variables and output names need.
//
// '/' is the only separator on this system: a backslash is an ordinary character of a file name,
// so it never decides where a folder ends. An extension is the text after the last '.' of the
// file name (the part after the last separator); a name that only starts with '.' has none.
#pragma once

#include <string>

class CPath {
public:
    CPath() = default;
    explicit CPath(const char* text) { Set(text); }
    explicit CPath(const std::string& text) { Set(text.c_str()); }

    // Takes a copy of the text (null: empty).
    void Set(const char* text);
    // Copies the other path; nothing when it is this object.
    void Assign(const CPath& other);

    // The text up to and including the last separator; "" when there is none.
    std::string GetDir() const;
    // The extension without its '.'; "" when the file name has none.
    std::string GetExt() const;
    // The text after the last separator; the whole text when there is none.
    std::string GetFileName() const;

    // Removes the extension and its '.'; nothing when there is none.
    void StripExt();
    // Removes everything up to and including the last separator; nothing when there is none.
    void StripDir();

    const std::string& str() const { return text; }
    const char* c_str() const { return text.c_str(); }

    std::string text;
    char separator = '/';

private:
    // Index of the '.' that starts the extension, or npos.
    size_t ExtDot() const;
};
