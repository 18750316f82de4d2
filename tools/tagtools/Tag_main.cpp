// Tag [--title T] [--artist A] [--album B] [--track N] [--year N] [--genre G] [--comment C] FILE
// Every option takes the next argument as its value, whatever it begins with.
#include <cstdio>
#include <cstring>
#include <string>

#include "tag_writer.h"

int main(int argc, char** argv) {
    TagValues values;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool last = i == argc - 1;
        if (last) {
            path = arg;
            break;
        }
        std::optional<std::string>* text = arg == "--title"     ? &values.title
                                           : arg == "--artist"  ? &values.artist
                                           : arg == "--album"   ? &values.album
                                           : arg == "--genre"   ? &values.genre
                                           : arg == "--comment" ? &values.comment
                                                                : nullptr;
        std::optional<unsigned>* number = arg == "--track" ? &values.track : arg == "--year" ? &values.year : nullptr;
        if (!text && !number) {
            std::fprintf(stderr, "Tag: unknown option %s\n", arg.c_str());
            return 2;
        }
        if (i + 1 >= argc - 1) {
            std::fprintf(stderr, "Tag: %s needs a value before the file\n", arg.c_str());
            return 2;
        }
        const std::string value = argv[++i];
        if (text) {
            *text = value;
        } else if (!(*number = ParseTagNumber(value))) {
            std::fprintf(stderr, "Tag: %s takes a number, not \"%s\"\n", arg.c_str(), value.c_str());
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: Tag [--title T] [--artist A] [--album B] [--track N] [--year N] [--genre G] "
                             "[--comment C] FILE\n");
        return 2;
    }
    const std::string failure = WriteTags(path, values);
    if (!failure.empty()) {
        std::fprintf(stderr, "Tag: %s: %s\n", path.c_str(), failure.c_str());
        return 1;
    }
    return 0;
}
