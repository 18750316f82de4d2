#include "common/charset.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <utility>

namespace {

char kEmpty[1] = {0};
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Room kept zeroed after the text, so that the result is terminated even for a
// target whose characters are several bytes wide.
constexpr std::size_t kTerminatorRoom = 4;

std::string Upper(const std::string& s) {
    std::string upper;
    for (char c : s) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool IsAsciiName(const std::string& upper) {
    return upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII" || upper == "646";
}

// The name iconv is given: "" stands for the locale's charset. The program keeps its text
// in UTF-8, so a locale that never left "C" (plain ASCII) counts as UTF-8; otherwise every
// non-ASCII character would be cut. Code page 65001 is UTF-8.
std::string ResolveName(const char* name) {
    std::string s = name ? name : "";
    if (s.empty()) {
        const char* codeset = nl_langinfo(CODESET);
        s = codeset ? codeset : "";
        if (s.empty() || IsAsciiName(Upper(s))) s = "UTF-8";
    }
    const std::string upper = Upper(s);
    if (upper == "CP65001" || upper == "65001") return "UTF-8";
    return s;
}

// A key under which two names of one charset compare equal ("utf8" and "UTF-8",
// "windows-1252" and "CP1252").
std::string CanonicalName(const std::string& resolved) {
    std::string key;
    for (char c : Upper(resolved))
        if (c != '-' && c != '_' && c != ' ') key += c;
    if (key.rfind("WINDOWS", 0) == 0) key = "CP" + key.substr(7);
    return key;
}

// Buffer that grows while a conversion runs; the tail beyond `used` is zero.
struct OutBuffer {
    char* data = nullptr;
    std::size_t size = 0;
    std::size_t used = 0;

    bool Reserve(std::size_t want) {
        if (want <= size) return true;
        std::size_t n = size ? size : 16;
        while (n < want) n *= 2;
        char* p = static_cast<char*>(std::realloc(data, n));
        if (!p) return false;
        std::memset(p + size, 0, n - size);
        data = p;
        size = n;
        return true;
    }
    std::size_t Free() const { return size - used - kTerminatorRoom; }
    bool Append(const char* bytes, std::size_t n) {
        if (!Reserve(used + n + kTerminatorRoom)) return false;
        std::memcpy(data + used, bytes, n);
        used += n;
        return true;
    }
};

// Length in bytes of the character at `in` when it is a complete, valid character of the
// source charset; 0 when the bytes are not valid there. `probe` converts from the source
// charset to UTF-8.
std::size_t ValidCharLength(iconv_t probe, const char* in, std::size_t left) {
    if (probe == kNoConverter) return 0;
    for (std::size_t n = 1; n <= left && n <= 8; ++n) {
        char out[64];
        char* src = const_cast<char*>(in);
        std::size_t srcLeft = n;
        char* dst = out;
        std::size_t dstLeft = sizeof out;
        iconv(probe, nullptr, nullptr, nullptr, nullptr);
        std::size_t r = iconv(probe, &src, &srcLeft, &dst, &dstLeft);
        if (r != static_cast<std::size_t>(-1) && srcLeft == 0) return n;
        if (errno != EINVAL) break;  // not the start of any character
    }
    return 0;
}

// The replacement for an invalid input byte, written in the target charset.
std::string Replacement(const std::string& to) {
    std::string result;
    iconv_t cd = iconv_open(to.c_str(), "ASCII");
    if (cd == kNoConverter) return "?";
    char q[] = "?";
    char out[16];
    char* src = q;
    std::size_t srcLeft = 1;
    char* dst = out;
    std::size_t dstLeft = sizeof out;
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1))
        result.assign(out, static_cast<std::size_t>(dst - out));
    iconv_close(cd);
    return result;
}

// Converts with `cd` (null: copies verbatim). Returns a new malloc'd, terminated buffer,
// or null when memory runs out.
char* RunConversion(iconv_t cd, const std::string& to, const std::string& from, const char* text,
                           std::size_t length) {
    OutBuffer out;
    if (!out.Reserve(2 * (length + 1) + kTerminatorRoom)) return nullptr;
    if (!cd) {
        out.Append(text, length);
        return out.data;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text);
    std::size_t inLeft = length;
    // Opened on the first bad byte only.
    std::string replacement;
    iconv_t probe = kNoConverter;
    bool haveHelpers = false;
    while (inLeft > 0) {
        char* dst = out.data + out.used;
        std::size_t dstLeft = out.Free();
        std::size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        int err = errno;
        out.used = static_cast<std::size_t>(dst - out.data);
        if (r != static_cast<std::size_t>(-1)) break;
        if (err == E2BIG) {
            if (!out.Reserve(out.size * 2)) break;
            continue;
        }
        if (err != EILSEQ && err != EINVAL) break;
        if (!haveHelpers) {
            replacement = Replacement(to);
            probe = iconv_open("UTF-8", from.c_str());
            haveHelpers = true;
        }
        // A real character that the target cannot hold ends the text.
        if (err == EILSEQ && ValidCharLength(probe, in, inLeft) > 0) break;
        // Bytes that are not valid in the source charset, or a sequence cut off at the
        // end: mark one byte and go on with the rest.
        if (!out.Append(replacement.data(), replacement.size())) break;
        ++in;
        --inLeft;
    }
    if (probe != kNoConverter) iconv_close(probe);
    // Ends any shift state of the target.
    for (;;) {
        char* dst = out.data + out.used;
        std::size_t dstLeft = out.Free();
        std::size_t r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        int err = errno;
        out.used = static_cast<std::size_t>(dst - out.data);
        if (r != static_cast<std::size_t>(-1) || err != E2BIG || !out.Reserve(out.size * 2)) break;
    }
    std::memset(out.data + out.used, 0, out.size - out.used);
    return out.data;
}

}  // namespace

CCharset::CCharset() = default;

CCharset::CCharset(const char* toCharset, const char* fromCharset) { Set(toCharset, fromCharset); }

CCharset::~CCharset() {
    Close();
    std::free(buffer_);
}

CCharset::CCharset(const CCharset& other) {
    if (other.open_) Set(other.to_.c_str(), other.from_.c_str());
    if (other.buffer_) buffer_ = strdup(other.buffer_);
}

CCharset& CCharset::operator=(const CCharset& other) {
    if (this == &other) return *this;
    CCharset copy(other);
    std::swap(cd_, copy.cd_);
    std::swap(buffer_, copy.buffer_);
    std::swap(open_, copy.open_);
    std::swap(verbatim_, copy.verbatim_);
    std::swap(to_, copy.to_);
    std::swap(from_, copy.from_);
    std::swap(toResolved_, copy.toResolved_);
    std::swap(fromResolved_, copy.fromResolved_);
    return *this;
}

void CCharset::Set(const char* toCharset, const char* fromCharset) {
    Close();
    to_ = toCharset ? toCharset : "";
    from_ = fromCharset ? fromCharset : "";
    toResolved_ = ResolveName(toCharset);
    fromResolved_ = ResolveName(fromCharset);
    if (CanonicalName(toResolved_) == CanonicalName(fromResolved_)) {
        verbatim_ = true;
        open_ = true;
        return;
    }
    iconv_t cd = iconv_open(toResolved_.c_str(), fromResolved_.c_str());
    if (cd == kNoConverter) return;
    cd_ = cd;
    open_ = true;
}

void CCharset::Unset() { Close(); }

void CCharset::Close() {
    if (cd_) iconv_close(static_cast<iconv_t>(cd_));
    cd_ = nullptr;
    open_ = false;
    verbatim_ = false;
}

const char* CCharset::Run(const char* text, std::size_t length, CCharset& into) const {
    iconv_t cd = verbatim_ ? nullptr : static_cast<iconv_t>(cd_);
    char* result = RunConversion(cd, toResolved_, fromResolved_, text, length);
    if (!result) return kEmpty;
    std::free(into.buffer_);  // only now: `text` may point into the old buffer
    into.buffer_ = result;
    return into.buffer_;
}

const char* CCharset::Convert(const char* text, int length) {
    if (!text || !open_) return kEmpty;
    std::size_t n = length > 0 ? static_cast<std::size_t>(length) : std::strlen(text);
    return Run(text, n, *this);
}

const char* UTF8toANSI(CCharset& cs, const char* text) {
    if (!text) return kEmpty;
    CCharset temp("", "UTF-8");
    if (!temp.open_) return kEmpty;
    return temp.Run(text, std::strlen(text), cs);
}

const char* ANSItoUTF8(CCharset& cs, const char* text) {
    if (!text) return kEmpty;
    CCharset temp("UTF-8", "");
    if (!temp.open_) return kEmpty;
    return temp.Run(text, std::strlen(text), cs);
}
