#include "tag_writer.h"

#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tstring.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

TagLib::String Utf8(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }

void Apply(TagLib::Tag* tag, const TagValues& v) {
    if (v.title) tag->setTitle(Utf8(*v.title));
    if (v.artist) tag->setArtist(Utf8(*v.artist));
    if (v.album) tag->setAlbum(Utf8(*v.album));
    if (v.genre) tag->setGenre(Utf8(*v.genre));
    if (v.comment) tag->setComment(Utf8(*v.comment));
    if (v.track) tag->setTrack(*v.track);
    if (v.year) tag->setYear(*v.year);
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
    const std::string suf(suffix);
    if (s.size() < suf.size()) return false;
    for (size_t i = 0; i < suf.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suf.size() + i])) != suf[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<unsigned> ParseTagNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
}

std::string WriteTags(const std::string& path, const TagValues& values) {
    if (EndsWithNoCase(path, ".mp3")) {
        TagLib::MPEG::File file(path.c_str());
        // A file without one MPEG audio frame is not an MP3, whatever its name says.
        if (!file.isValid() || file.firstFrameOffset() < 0 || !file.audioProperties()) return "not an MPEG audio file";
        Apply(file.ID3v2Tag(true), values);
        if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                       TagLib::File::DoNotDuplicate)) {
            return "the file could not be written";
        }
        return {};
    }
    TagLib::FileRef file(path.c_str());
    if (file.isNull() || !file.tag() || !file.audioProperties()) return "not a file these tags can be written to";
    Apply(file.tag(), values);
    if (!file.save()) return "the file could not be written";
    return {};
}
