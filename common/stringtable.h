// Localised strings of one module in one language.
//
// The language list file ("lang.xml") names the languages and the string-table file of
// each; Load picks a language, reads that file's table for one module and keeps its
// strings (converted to the program's charset). GetString answers a key with its text,
// or with a default.
#pragma once

#include <deque>
#include <string>

#include "common/charset.h"

class CStringTable {
public:
    CStringTable();
    ~CStringTable();

    CStringTable(const CStringTable&) = default;
    CStringTable& operator=(const CStringTable&) = default;

    // Reads the language list `listFile`, selects a language (index 0: the one whose code
    // page matches the system's, else the first; N > 0: the N-th, else the first) and adds
    // the strings of `module` from its string-table file. With `listBuf`, the language ids
    // are written there joined by ';' (as many as fit in `listBufSize` - 2 characters; the
    // walk stops at the first that does not fit). 0, or -1 on failure.
    // Strings already loaded are kept: Destroy before reloading.
    int Load(const char* listFile, const char* module, int langIndex, char* listBuf, int listBufSize);

    // The text of `key`. With a non-zero `prefix`, a key that does not begin with it is
    // returned as it is, and one that does is looked up without it. A key whose first
    // character lies outside 'A'..'z' gives "". Not found: `defValue`, or the key itself
    // (after the prefix) when `defValue` is null. A string with an empty value counts as not found.
    const char* GetString(const char* key, char prefix = 0, const char* defValue = nullptr) const;

    // Forgets every string.
    void Destroy();

    // The selected language's id and string-table file ("" before a successful Load).
    const char* GetLanguageId() const { return languageId_.c_str(); }
    const char* GetLanguageFile() const { return languageFile_.c_str(); }

private:
    static constexpr int kBuckets = 'z' - 'A' + 1;  // 58

    struct Entry {
        std::string key;    // without its first character
        std::string value;
    };

    // character - 'A' for 'A'..'z', else -1.
    static int GetHashIndex(int c);

    CCharset charset_;
    std::string languageId_;
    std::string languageFile_;
    // A deque keeps the addresses of its strings while entries are appended.
    std::deque<Entry> buckets_[kBuckets];
};
