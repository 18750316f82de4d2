// Switches LC_NUMERIC (and LC_ALL) to a comma-decimal locale for the lifetime of the object, the
// way a desktop toolkit does at start-up. available() is false when the locale is not installed.
#pragma once

#include <clocale>
#include <string>

namespace sqtest {

class CommaLocale {
public:
    CommaLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_ALL, name)) {
                ok_ = true;
                break;
            }
        }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;
    bool available() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

}  // namespace sqtest
