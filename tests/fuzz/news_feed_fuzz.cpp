// A news feed of any bytes (the program's RSS document, or a linked RSS or Atom feed): parsed into
// channels, links, wizards and update facts, with and without an edition; every item's date and
// description go through their readers, and the text itself through the date reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/xml.h"
#include "ui/news/newsfeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    [[maybe_unused]] static const int parserReady = (CXML::Init(), 0);
    const std::string text(reinterpret_cast<const char*>(data), size);
    ParseNewsDate(text.c_str());
    CleanNewsDescription(text);
    for (const char* edition : {static_cast<const char*>(nullptr), "audio"}) {
        NewsFeed feed;
        if (feed.document.Read(text.c_str(), static_cast<int>(text.size())) != 0) return 0;
        ParseNewsFeed(feed, edition);
        feed.GetLink("update", "/default");
        for (const NewsChannel& channel : feed.channels)
            for (const NewsItem& item : channel.items) {
                ParseNewsDate(item.date.c_str());
                CleanNewsDescription(item.description);
            }
    }
    return 0;
}
