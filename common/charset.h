// Conversion of text between two named charsets (glibc iconv).
//
// Inside the program text is UTF-8; the "ANSI" charset is the locale's charset
// (nl_langinfo(CODESET)), named by an empty string or a null pointer. A conversion
// between two names for the same charset copies the bytes verbatim, so text that is
// not valid in that charset (a file name with stray bytes) passes through unchanged.
#pragma once

#include <cstddef>
#include <string>

class CCharset {
public:
    CCharset();
    // Opens the converter (null counts as ""). With neither name given both sides are the
    // locale's charset, so conversions copy verbatim.
    CCharset(const char* toCharset, const char* fromCharset);
    ~CCharset();

    // A copy opens its own converter for the same charsets and copies the last result.
    CCharset(const CCharset& other);
    CCharset& operator=(const CCharset& other);

    // Closes any open converter, then opens one from `fromCharset` to `toCharset`
    // (as the two-name constructor does).
    void Set(const char* toCharset, const char* fromCharset);
    // Closes the converter; the last result stays valid.
    void Unset();

    // Converts `length` bytes of `text` (0 or less: up to the NUL) into a new buffer
    // owned by this object and returns it, NUL-terminated. The result stays valid
    // until the next conversion. A null text gives "" and leaves the buffer alone;
    // without an open converter the result is "".
    // An input byte that is not valid in the source charset becomes '?'; a valid
    // character the target charset cannot hold ends the text there.
    const char* Convert(const char* text, int length = 0);

    // True while a converter is open.
    bool IsOpen() const { return open_; }
    // True when both sides are one charset: Convert only copies.
    bool IsVerbatim() const { return open_ && verbatim_; }

private:
    friend const char* UTF8toANSI(CCharset& cs, const char* text);
    friend const char* ANSItoUTF8(CCharset& cs, const char* text);

    void Close();
    // Converts with this object's converter; the result replaces the buffer.
    const char* Run(const char* text, std::size_t length, CCharset& into) const;

    void* cd_ = nullptr;        // iconv descriptor; null when closed or copying verbatim
    char* buffer_ = nullptr;    // last result, owned
    bool open_ = false;
    bool verbatim_ = false;     // source and target are the same charset
    std::string to_;            // names as given, for copies
    std::string from_;
    std::string toResolved_;    // names handed to iconv
    std::string fromResolved_;
};

// One-shot conversions with a temporary converter; the result lives in `cs`'s buffer
// until its next conversion. A null text gives "".
const char* UTF8toANSI(CCharset& cs, const char* text);
const char* ANSItoUTF8(CCharset& cs, const char* text);
