#include "engine/queue/queuefile.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "platform/fs.h"
#include "platform/numtext.h"

namespace {

// The file the last load found damaged; kept aside by the next save to that path. Under the
// queue lock.
std::string g_damagedFile;
std::string g_keptFile;  // a saved queue the queue in memory must not replace (KeepQueueFile)

const char* Utf8(CCharset* cs, const char* text) { return cs ? cs->Convert(text) : text; }

// The converter, or null where it would only copy.
CCharset* Converting(CCharset& cs) { return cs.IsVerbatim() ? nullptr : &cs; }

// The whole text of an element exactly as it stands (blanks kept); "" when it has none.
std::string ElementText(XmlNode element) {
    std::string text;
    for (xmlNode* n = element->children; n; n = n->next) {
        if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && n->content)
            text += reinterpret_cast<const char*>(n->content);
    }
    return text;
}

XmlNode FirstChildElement(XmlNode parent) { return parent ? xmlFirstElementChild(parent) : nullptr; }

bool IsNamed(XmlNode node, const char* name) {
    return node && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

XmlNode FindChild(XmlNode parent, const char* name) {
    for (XmlNode n = FirstChildElement(parent); n; n = xmlNextElementSibling(n)) {
        if (IsNamed(n, name)) return n;
    }
    return nullptr;
}

// Reads the table from the children of `parent`; nothing when it has none.
void ReadTableIn(CXML& xml, XmlNode parent, const QueueFieldDesc* table, CCharset* fromUtf8) {
    XmlNode first = FirstChildElement(parent);
    if (!first) return;
    xml.SetCurrentNode(first);
    ReadFieldTable(xml, table, fromUtf8);
}

// The file is written as text, not built as a document first: a queue of thousands of items would
// otherwise cost several allocations per element. The text is what the document writer gives:
// no indentation, an element without content as "<name/>".

// Element content: characters XML cannot hold dropped; '&', '<', '>' and carriage returns as
// references (a raw carriage return would not read back).
void AppendEscaped(std::string& out, const char* text) {
    // Most texts are plain printable ASCII: taken as they stand.
    const char* p = text;
    while (*p >= 0x20 && *p < 0x7f && *p != '&' && *p != '<' && *p != '>') ++p;
    if (!*p) {
        out.append(text, static_cast<size_t>(p - text));
        return;
    }
    for (char c : XmlStripInvalid(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
}

// "<name>markup</name>", or "<name/>" for empty markup.
void AppendElement(std::string& out, const char* name, const std::string& markup) {
    out += '<';
    out += name;
    if (markup.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    out += markup;
    out += "</";
    out += name;
    out += '>';
}

void AppendTableAs(std::string& out, const char* name, const QueueFieldDesc* table, CCharset* toUtf8) {
    std::string inner;
    AppendFieldTable(inner, table, toUtf8);
    AppendElement(out, name, inner);
}

// Adds markup (well-formed element content) as children of the cursor; the cursor stays.
void AddMarkup(CXML& xml, const std::string& markup) {
    if (!xml.node || markup.empty()) return;
    xmlNode* list = nullptr;
    if (xmlParseInNodeContext(xml.node, markup.c_str(), static_cast<int>(markup.size()), 0, &list) != XML_ERR_OK) {
        xmlFreeNodeList(list);
        return;
    }
    xmlAddChildList(xml.node, list);
}

// The item's own fields. The atomic words are read and written through plain copies.
struct ItemTable {
    uint32_t flags = 0;
    uint32_t state = 0;
    int32_t errorCode = 0;
    QueueFieldDesc rows[20];

    explicit ItemTable(QueueItem* item)
        : rows{{"file", &item->file},           {"flags", &flags},
               {"state", &state},               {"destfile", &item->destFile},
               {"alias", &item->alias},         {"subtitle", &item->subtitle},
               {"audiofile", &item->audioFile}, {"group", &item->group},
               {"preset", &item->preset},       {"size", &item->size},
               {"duration", &item->duration},   {"begin", &item->begin},
               {"end", &item->end},             {"discroot", &item->discRoot},
               {"track", &item->track},         {"chapter", &item->chapter},
               {"vid", &item->vid},             {"aid", &item->aid},
               {"errno", &errorCode},           {}} {}
};

struct ContainerTable {
    QueueFieldDesc rows[4];
    explicit ContainerTable(QueueItem* item)
        : rows{{"format", &item->containerFormat},
               {"overhead", &item->containerOverhead},
               {"bitrate", &item->containerBitrate},
               {}} {}
};

struct AudioTable {
    QueueFieldDesc rows[9];
    explicit AudioTable(AudioStreamInfo* s)
        : rows{{"id", &s->id},           {"codec", &s->codec},         {"bitrate", &s->bitrate},
               {"bitratemode", &s->bitrateMode}, {"channels", &s->channels}, {"samplerate", &s->samplerate},
               {"samplebits", &s->samplebits},   {"delay", &s->delay},       {}} {}
};

struct VideoTable {
    QueueFieldDesc rows[13];
    explicit VideoTable(VideoStreamInfo* s)
        : rows{{"id", &s->id},         {"format", &s->format},     {"codec", &s->codec},
               {"bitrate", &s->bitrate}, {"width", &s->width},     {"height", &s->height},
               {"fps_num", &s->fpsNum}, {"fps_den", &s->fpsDen},   {"dar_num", &s->darNum},
               {"dar_den", &s->darDen}, {"scan_mode", &s->scanMode}, {"flags", &s->flags},
               {}} {}
};

struct TagTable {
    QueueFieldDesc rows[8];
    explicit TagTable(QueueItem* item)
        : rows{{"title", &item->tagTitle}, {"artist", &item->tagArtist}, {"album", &item->tagAlbum},
               {"year", &item->tagYear},   {"track", &item->tagTrack},   {"genre", &item->tagGenre},
               {"comment", &item->tagComment}, {}} {}
};

struct TargetTable {
    QueueFieldDesc rows[8];
    explicit TargetTable(QueueItem* item)
        : rows{{"size", &item->targetSize},       {"ratio", &item->targetRatio},
               {"split", &item->targetSplit},     {"width", &item->targetWidth},
               {"height", &item->targetHeight},   {"fps_num", &item->targetFpsNum},
               {"fps_den", &item->targetFpsDen},  {}} {}
};

struct CropTable {
    QueueFieldDesc rows[5];
    explicit CropTable(QueueItem* item)
        : rows{{"left", &item->cropLeft},
               {"top", &item->cropTop},
               {"width", &item->cropWidth},
               {"height", &item->cropHeight},
               {}} {}
};

bool HasCrop(const QueueItem* item) {
    return item->cropLeft || item->cropTop || item->cropWidth || item->cropHeight;
}

// A target resolution or frame rate counts as a setting too, so that it is not lost on saving.
bool HasTarget(const QueueItem* item) {
    return item->targetSize || item->targetSplit || HasCrop(item) || item->targetRatio != 1.0f ||
           item->targetWidth || item->targetHeight || item->targetFpsNum || item->targetFpsDen;
}

// Any tag text or number: such an item has tags, whatever its flags word says.
bool HoldsTags(const QueueItem* item) {
    for (const char* t : {item->tagTitle, item->tagArtist, item->tagAlbum, item->tagGenre, item->tagComment}) {
        if (t && *t) return true;
    }
    return item->tagYear || item->tagTrack;
}

// The item's source: the first `file` element that holds a path.
XmlNode SourceElement(XmlNode item) {
    for (XmlNode n = FirstChildElement(item); n; n = xmlNextElementSibling(n)) {
        if (IsNamed(n, "file") && !ElementText(n).empty()) return n;
    }
    return nullptr;
}

bool IsInterrupted(uint32_t state) {
    return state == kItemEncoding || state == kItemStopping || state == kItemSkipping || state == kItemFinishing;
}

}  // namespace

void AppendFieldTable(std::string& out, const QueueFieldDesc* table, CCharset* toUtf8) {
    if (!table) return;
    char number[32];
    for (const QueueFieldDesc* row = table; row->name; ++row) {
        switch (row->kind) {
        case kQueueFieldInt: {
            int value = row->width == 2 ? *static_cast<const uint16_t*>(row->address)
                                        : static_cast<int32_t>(*static_cast<const uint32_t*>(row->address));
            if (value == 0) break;
            const auto end = std::to_chars(number, number + sizeof number, value).ptr;
            out += '<';
            out += row->name;
            out += '>';
            out.append(number, end);
            out += "</";
            out += row->name;
            out += '>';
            break;
        }
        case kQueueFieldFloat: {
            float value = *static_cast<const float*>(row->address);
            if (value == 0.0f) break;
            AppendElement(out, row->name, platform::FormatFixed(value, 6));
            break;
        }
        case kQueueFieldText: {
            const char* text = *static_cast<char* const*>(row->address);
            if (!text) break;
            // An empty text is still an element with (empty) content.
            out += '<';
            out += row->name;
            out += '>';
            AppendEscaped(out, Utf8(toUtf8, text));
            out += "</";
            out += row->name;
            out += '>';
            break;
        }
        default:
            break;
        }
    }
}

void WriteFieldTable(CXML& xml, const QueueFieldDesc* table, CCharset* toUtf8) {
    std::string markup;
    AppendFieldTable(markup, table, toUtf8);
    AddMarkup(xml, markup);
}

void ReadFieldTable(CXML& xml, const QueueFieldDesc* table, CCharset* fromUtf8) {
    if (!table || !xml.node) return;
    for (const QueueFieldDesc* row = table; row->name; ++row) {
        if (!xml.findNode(row->name)) continue;
        std::string text = ElementText(xml.node);
        switch (row->kind) {
        case kQueueFieldInt: {
            int64_t value = platform::ParseInt64(text.c_str());
            if (row->width == 2)
                *static_cast<uint16_t*>(row->address) = static_cast<uint16_t>(value);
            else
                *static_cast<uint32_t*>(row->address) = static_cast<uint32_t>(value);
            break;
        }
        case kQueueFieldFloat:
            *static_cast<float*>(row->address) = static_cast<float>(platform::ParseDouble(text.c_str()));
            break;
        case kQueueFieldText:
            SetStringField(static_cast<char**>(row->address), fromUtf8 ? fromUtf8->Convert(text.c_str()) : text.c_str());
            break;
        default:
            break;
        }
    }
}

void AppendQueueItemXml(std::string& out, const QueueItem* constItem, CCharset* toUtf8) {
    if (!constItem) return;
    // The tables take field addresses; nothing is written through them here.
    QueueItem* item = const_cast<QueueItem*>(constItem);
    // Written straight into out: an item always has content (its source at least).
    std::string& inner = out;
    inner += "<item>";
    ItemTable fields(item);
    fields.flags = item->flags.load() & ~kItemTransientFlags;
    fields.state = item->state.load();
    fields.errorCode = item->errorCode.load();
    AppendFieldTable(inner, fields.rows, toUtf8);

    if (item->containerFormat) {
        ContainerTable container(item);
        AppendTableAs(inner, "container", container.rows, toUtf8);
    }
    for (AudioStreamInfo* s = item->audio; s; s = s->next) {
        AudioTable audio(s);
        AppendTableAs(inner, "audio", audio.rows, toUtf8);
    }
    for (VideoStreamInfo* s = item->video; s; s = s->next) {
        VideoTable video(s);
        AppendTableAs(inner, "video", video.rows, toUtf8);
    }
    if ((item->flags.load() & kItemFlagHasTags) || HoldsTags(item)) {
        TagTable tags(item);
        AppendTableAs(inner, "tags", tags.rows, toUtf8);
    }
    if (HasTarget(item)) {
        TargetTable target(item);
        std::string targetMarkup;
        AppendFieldTable(targetMarkup, target.rows, toUtf8);
        if (HasCrop(item)) {
            CropTable crop(item);
            AppendTableAs(targetMarkup, "crop", crop.rows, toUtf8);
        }
        AppendElement(inner, "target", targetMarkup);
    }
    inner += "</item>";
}

void WriteQueueItemXml(CXML& xml, const QueueItem* item, CCharset* toUtf8) {
    std::string markup;
    AppendQueueItemXml(markup, item, toUtf8);
    AddMarkup(xml, markup);
}

QueueItem* ReadQueueItemXml(CXML& xml, XmlNode element, CCharset* fromUtf8) {
    if (!IsNamed(element, "item")) return nullptr;
    XmlNode fileNode = SourceElement(element);
    if (!fileNode) return nullptr;
    const std::string path = ElementText(fileNode);
    QueueItem* item = QueueNewItem(fromUtf8 ? fromUtf8->Convert(path.c_str()) : path.c_str());
    if (!item) return nullptr;

    // The source is set; the table's first row ("file") is not read again, so a second, empty
    // `file` element cannot take it away.
    ItemTable fields(item);
    fields.flags = item->flags.load();
    ReadTableIn(xml, element, fields.rows + 1, fromUtf8);
    item->flags = (fields.flags | kItemFlagInUse) & ~kItemTransientFlags;
    item->state = IsInterrupted(fields.state) ? static_cast<uint32_t>(kItemReady) : fields.state;
    item->errorCode = fields.errorCode;

    AudioStreamInfo** audioLink = &item->audio;
    VideoStreamInfo** videoLink = &item->video;
    for (XmlNode child = FirstChildElement(element); child; child = xmlNextElementSibling(child)) {
        if (IsNamed(child, "container")) {
            ContainerTable container(item);
            ReadTableIn(xml, child, container.rows, fromUtf8);
        } else if (IsNamed(child, "audio")) {
            auto* stream = new AudioStreamInfo;
            AudioTable table(stream);
            ReadTableIn(xml, child, table.rows, fromUtf8);
            *audioLink = stream;
            audioLink = &stream->next;
        } else if (IsNamed(child, "video")) {
            auto* stream = new VideoStreamInfo;
            VideoTable table(stream);
            ReadTableIn(xml, child, table.rows, fromUtf8);
            *videoLink = stream;
            videoLink = &stream->next;
        } else if (IsNamed(child, "tags")) {
            TagTable tags(item);
            ReadTableIn(xml, child, tags.rows, fromUtf8);
        } else if (IsNamed(child, "target")) {
            TargetTable target(item);
            ReadTableIn(xml, child, target.rows, fromUtf8);
            if (XmlNode cropNode = FindChild(child, "crop")) {
                CropTable crop(item);
                ReadTableIn(xml, cropNode, crop.rows, fromUtf8);
            }
        }
    }
    if (!item->audio && !item->video) item->flags &= ~kItemFlagHasStreams;
    if (HoldsTags(item)) item->flags |= kItemFlagHasTags;
    xml.SetCurrentNode(element);
    return item;
}

int SaveQueueFile(const char* path) {
    if (!path || !*path) return -1;
    const bool removeDone = GetPrefStore().GetBool("overall.task.removeDone");
    CCharset toUtf8("UTF-8", "");
    // Sized from the last save, so that the text is not copied as it grows.
    static std::atomic<size_t> lastSize{0};
    std::string items;
    items.reserve(lastSize.load() + lastSize.load() / 8);
    int count = 0;
    bool keepDamaged = false;
    {
        QueueLockGuard lock;
        if (g_keptFile == path) {
            for (QueueItem* item = QueueNext(nullptr); item; item = item->next) ++count;
            return count;
        }
        for (QueueItem* item = QueueNext(nullptr); item; item = item->next) {
            ++count;
            if (removeDone && item->state.load() == kItemDone) continue;
            AppendQueueItemXml(items, item, Converting(toUtf8));
        }
        if (g_damagedFile == path) {
            keepDamaged = true;
            g_damagedFile.clear();
        }
    }
    // A damaged file may still hold what the user wants back: it goes aside, never away. When it
    // cannot be moved, the next save tries again rather than writing over it.
    if (keepDamaged && platform::PathExists(path)) {
        std::string aside = std::string(path) + ".damaged";
        if (std::rename(path, aside.c_str()) != 0) {
            QueueLockGuard lock;
            g_damagedFile = path;
            return -1;
        }
    }
    lastSize = items.size();
    if (count == 0) return platform::RemoveFileEntry(path) ? 0 : -1;

    // The items' text goes into the document as one text node that the writer copies as it
    // stands (it is markup already escaped above).
    CXML xml;
    xml.New("1.0", "queue");
    if (!xml.doc || !xml.node) return -1;
    // The node borrows the text for the write (no copy of megabytes) and gives it back before the
    // document is freed.
    xmlNode* raw = nullptr;
    if (!items.empty()) {
        raw = xmlNewDocText(xml.doc, nullptr);
        if (!raw) return -1;
        raw->name = xmlStringTextNoenc;
        raw->content = BAD_CAST items.data();
        xmlAddChild(xml.node, raw);
    }
    const int written = SaveXmlFileSafely(xml, path);
    if (raw) raw->content = nullptr;
    return written >= 0 ? count : -1;
}

namespace {

void FreeItems(std::vector<QueueItem*>& items, size_t from = 0) {
    for (size_t i = from; i < items.size(); ++i) QueueFreeItem(items[i]);
    items.clear();
}

bool ReaderAt(xmlTextReaderPtr reader, int type, int depth, const char* name) {
    return xmlTextReaderNodeType(reader) == type && xmlTextReaderDepth(reader) == depth &&
           xmlStrEqual(xmlTextReaderConstLocalName(reader), BAD_CAST name);
}

}  // namespace

// The file is read as a stream, one item's elements at a time, so that what a load holds beyond
// the items it makes stays small whatever the file's size. The items join the queue only once the
// whole file has been read: a file damaged further on loads nothing, as one that does not parse.
void KeepQueueFile(const char* path) {
    QueueLockGuard lock;
    g_keptFile = path ? path : "";
}

int LoadQueueFile(const char* path) {
    if (!path || !*path) return kQueueFileMissing;
    auto damaged = [path] {
        if (!platform::PathExists(path)) return kQueueFileMissing;
        QueueLockGuard lock;
        g_damagedFile = path;
        return kQueueFileDamaged;
    };
    xmlTextReaderPtr reader =
        xmlReaderForFile(path, nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET | XML_PARSE_COMPACT);
    if (!reader) return damaged();
    struct ReaderFree {
        xmlTextReaderPtr r;
        ~ReaderFree() { xmlFreeTextReader(r); }
    } readerFree{reader};

    int rc = xmlTextReaderRead(reader);
    while (rc == 1 && xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) rc = xmlTextReaderRead(reader);
    if (rc != 1 || !ReaderAt(reader, XML_READER_TYPE_ELEMENT, 0, "queue")) return damaged();

    CXML xml;
    CCharset fromUtf8("", "UTF-8");
    std::vector<QueueItem*> items;
    bool stopped = false;  // an item that could not be made ends the reading of items
    rc = xmlTextReaderRead(reader);
    while (rc == 1) {
        if (!ReaderAt(reader, XML_READER_TYPE_ELEMENT, 1, "item")) {
            rc = xmlTextReaderRead(reader);
            continue;
        }
        if (!stopped) {
            xmlNode* element = xmlTextReaderExpand(reader);
            if (!element) {
                rc = -1;
                break;
            }
            if (QueueItem* item = ReadQueueItemXml(xml, element, Converting(fromUtf8))) items.push_back(item);
            else stopped = true;
        }
        rc = xmlTextReaderNext(reader);
    }
    if (rc != 0) {
        FreeItems(items);
        return damaged();
    }
    {
        QueueLockGuard lock;
        if (g_damagedFile == path) g_damagedFile.clear();
        // The queue now holds what the file held: saving it loses nothing.
        if (g_keptFile == path) g_keptFile.clear();
    }
    int loaded = 0;
    for (QueueItem* item : items) {
        if (QueueAppend(item) != 0) break;
        ++loaded;
    }
    FreeItems(items, static_cast<size_t>(loaded));
    return loaded;
}
