#include "platform/cmdline.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits the line into `args` and tells where the splitting stood at its end.
SplitEnd Split(std::string_view line, std::vector<std::string>& args) {
    SplitEnd state;
    size_t i = 0;
    // A NUL ends the text, as it would for a C string.
    const size_t nul = line.find('\0');
    const size_t end = nul == std::string_view::npos ? line.size() : nul;

    while (i < end && IsBlank(line[i])) ++i;
    if (i >= end) return state;

    // The program: quotes toggle, backslashes are literal.
    {
        std::string word;
        bool inQuotes = false;
        while (i < end) {
            const char c = line[i];
            if (c == '"') {
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            if (!inQuotes && IsBlank(c)) break;
            word.push_back(c);
            ++i;
        }
        args.push_back(std::move(word));
        if (i >= end) {
            state.inQuotes = inQuotes;
            return state;
        }
    }
    state.inProgram = false;

    bool inQuotes = false;
    for (;;) {
        while (i < end && IsBlank(line[i])) ++i;
        if (i >= end) break;
        std::string word;
        for (;;) {
            size_t slashes = 0;
            while (i < end && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            bool copy = true;
            if (i < end && line[i] == '"') {
                if (slashes % 2 == 0) {
                    if (inQuotes && i + 1 < end && line[i + 1] == '"') {
                        ++i;  // "" inside quotes: one literal quote, still quoted
                    } else {
                        copy = false;
                        inQuotes = !inQuotes;
                    }
                }
                slashes /= 2;
            }
            word.append(slashes, '\\');
            if (i >= end || (!inQuotes && IsBlank(line[i]))) break;
            if (copy) word.push_back(line[i]);
            ++i;
        }
        args.push_back(std::move(word));
    }
    state.inQuotes = inQuotes;
    return state;
}

}  // namespace

std::vector<std::string> SplitArgs(std::string_view line) {
    std::vector<std::string> args;
    Split(line, args);
    return args;
}

SplitEnd SplitArgsEnd(std::string_view line) {
    std::vector<std::string> args;
    return Split(line, args);
}

std::string EscapeInQuotes(std::string_view text, bool quoteFollows) {
    std::string out;
    size_t slashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out.push_back(c);
    }
    out.append(quoteFollows ? slashes * 2 : slashes, '\\');
    return out;
}

std::string QuoteArg(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos) return std::string(arg);
    return "\"" + EscapeInQuotes(arg, true) + "\"";
}

}  // namespace platform
