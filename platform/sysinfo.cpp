#include "platform/sysinfo.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/numtext.h"

namespace platform {

int ProcessorCount() {
    if (const char* v = std::getenv("NUMBER_OF_PROCESSORS"); v && *v) {
        int n = ParseInt(v);
        if (n > 0) return n;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n > 0) return static_cast<int>(n);
    return 1;
}

int SystemAnsiCodePage() {
    if (const char* forced = std::getenv("SQ_ANSI_CODEPAGE"); forced && *forced) {
        int n = ParseInt(forced);
        if (n > 0) return n;
    }
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            locale = v;
            break;
        }
    }
    // language[_territory][.codeset][@modifier]
    std::string loc = locale ? locale : "";
    if (auto at = loc.find('@'); at != std::string::npos) loc.erase(at);
    std::string codeset;
    if (auto dot = loc.find('.'); dot != std::string::npos) {
        for (char c : loc.substr(dot + 1))
            if (c != '-' && c != '_') codeset += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        loc.erase(dot);
    }
    if (codeset == "GBK" || codeset == "GB2312" || codeset == "GB18030") return 936;
    if (codeset == "BIG5" || codeset == "BIG5HKSCS") return 950;
    if (codeset == "SJIS" || codeset == "SHIFTJIS" || codeset == "EUCJP") return 932;
    if (codeset == "EUCKR") return 949;
    const auto under = loc.find('_');
    const std::string lang = loc.substr(0, under);
    const std::string territory = under == std::string::npos ? "" : loc.substr(under + 1);
    if (lang == "zh") return territory == "TW" || territory == "HK" || territory == "MO" ? 950 : 936;
    if (lang == "ja") return 932;
    if (lang == "ko") return 949;
    if (lang == "ru" || lang == "uk" || lang == "be" || lang == "bg" || lang == "sr" || lang == "mk") return 1251;
    if (lang == "cs" || lang == "pl" || lang == "hu" || lang == "sk" || lang == "sl" || lang == "hr" ||
        lang == "ro")
        return 1250;
    if (lang == "el") return 1253;
    if (lang == "tr") return 1254;
    if (lang == "he") return 1255;
    if (lang == "ar" || lang == "fa") return 1256;
    if (lang == "lt" || lang == "lv" || lang == "et") return 1257;
    if (lang == "vi") return 1258;
    if (lang == "th") return 874;
    return 1252;
}

}  // namespace platform
