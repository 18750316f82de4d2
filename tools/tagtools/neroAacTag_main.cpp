// neroAacTag FILE [-meta:title=T] [-meta:artist=A] [-meta:album=B] [-meta:track=N] [-meta:year=N]
//            [-meta:genre=G] [-meta:comment=C]
#include <cstdio>
#include <cstring>
#include <string>

#include "tag_writer.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: neroAacTag FILE [-meta:name=value ...]\n");
        return 2;
    }
    const std::string path = argv[1];
    TagValues values;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (arg.rfind("-meta:", 0) != 0 || eq == std::string::npos) {
            std::fprintf(stderr, "neroAacTag: unknown option %s\n", arg.c_str());
            return 2;
        }
        const std::string name = arg.substr(6, eq - 6);
        const std::string value = arg.substr(eq + 1);
        std::optional<std::string>* text = name == "title"     ? &values.title
                                           : name == "artist"  ? &values.artist
                                           : name == "album"   ? &values.album
                                           : name == "genre"   ? &values.genre
                                           : name == "comment" ? &values.comment
                                                               : nullptr;
        std::optional<unsigned>* number = name == "track" ? &values.track : name == "year" ? &values.year : nullptr;
        if (text) {
            *text = value;
        } else if (!number) {
            std::fprintf(stderr, "neroAacTag: unknown field %s\n", name.c_str());
            return 2;
        } else if (!(*number = ParseTagNumber(value))) {
            std::fprintf(stderr, "neroAacTag: %s takes a number, not \"%s\"\n", name.c_str(), value.c_str());
            return 2;
        }
    }
    const std::string failure = WriteTags(path, values);
    if (!failure.empty()) {
        std::fprintf(stderr, "neroAacTag: %s: %s\n", path.c_str(), failure.c_str());
        return 1;
    }
    return 0;
}
