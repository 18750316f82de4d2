#include "engine/queue/queuefile.h"

#include <libxml/tree.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/prefs/prefstore.h"
#include "platform/fs.h"
#include "platform/numtext.h"

namespace {

// The file the last load found damaged; kept aside by the next save to that path. Under the
// queue lock.
std::string g_damagedFile;

const char* Utf8(CCharset* cs, const char* text) { return cs ? cs->Convert(text) : text; }

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

// Writes a child element `name` holding the table, at the cursor; the cursor stays.
void WriteTableAs(CXML& xml, const char* name, const QueueFieldDesc* table, CCharset* toUtf8) {
    XmlNode parent = xml.node;
    if (!xml.addChild(name)) return;
    WriteFieldTable(xml, table, toUtf8);
    xml.SetCurrentNode(parent);
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

void WriteFieldTable(CXML& xml, const QueueFieldDesc* table, CCharset* toUtf8) {
    if (!table) return;
    char number[32];
    for (const QueueFieldDesc* row = table; row->name; ++row) {
        switch (row->kind) {
        case kQueueFieldInt: {
            int value = row->width == 2 ? *static_cast<const uint16_t*>(row->address)
                                        : static_cast<int32_t>(*static_cast<const uint32_t*>(row->address));
            if (value == 0) break;
            std::snprintf(number, sizeof number, "%d", value);
            xml.addChild(row->name, number);
            break;
        }
        case kQueueFieldFloat: {
            float value = *static_cast<const float*>(row->address);
            if (value == 0.0f) break;
            xml.addChild(row->name, platform::FormatFixed(value, 6).c_str());
            break;
        }
        case kQueueFieldText: {
            const char* text = *static_cast<char* const*>(row->address);
            if (text) xml.addTextChild(row->name, Utf8(toUtf8, text));
            break;
        }
        default:
            break;
        }
    }
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

void WriteQueueItemXml(CXML& xml, const QueueItem* constItem, CCharset* toUtf8) {
    if (!constItem || !xml.node) return;
    // The tables take field addresses; nothing is written through them here.
    QueueItem* item = const_cast<QueueItem*>(constItem);
    XmlNode parent = xml.node;
    if (!xml.addChild("item")) return;

    ItemTable fields(item);
    fields.flags = item->flags.load() & ~kItemTransientFlags;
    fields.state = item->state.load();
    fields.errorCode = item->errorCode.load();
    WriteFieldTable(xml, fields.rows, toUtf8);

    if (item->containerFormat) {
        ContainerTable container(item);
        WriteTableAs(xml, "container", container.rows, toUtf8);
    }
    for (AudioStreamInfo* s = item->audio; s; s = s->next) {
        AudioTable audio(s);
        WriteTableAs(xml, "audio", audio.rows, toUtf8);
    }
    for (VideoStreamInfo* s = item->video; s; s = s->next) {
        VideoTable video(s);
        WriteTableAs(xml, "video", video.rows, toUtf8);
    }
    if ((item->flags.load() & kItemFlagHasTags) || HoldsTags(item)) {
        TagTable tags(item);
        WriteTableAs(xml, "tags", tags.rows, toUtf8);
    }
    if (HasTarget(item)) {
        XmlNode itemNode = xml.node;
        TargetTable target(item);
        if (xml.addChild("target")) {
            WriteFieldTable(xml, target.rows, toUtf8);
            if (HasCrop(item)) {
                CropTable crop(item);
                WriteTableAs(xml, "crop", crop.rows, toUtf8);
            }
        }
        xml.SetCurrentNode(itemNode);
    }
    xml.SetCurrentNode(parent);
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
    CXML xml;
    xml.New("1.0", "queue");
    if (!xml.doc) return -1;
    XmlNode root = xml.node;
    const bool removeDone = GetPrefStore().GetBool("overall.task.removeDone");
    CCharset toUtf8("UTF-8", "");
    int count = 0;
    bool keepDamaged = false;
    {
        QueueLockGuard lock;
        for (QueueItem* item = QueueNext(nullptr); item; item = item->next) {
            ++count;
            if (removeDone && item->state.load() == kItemDone) continue;
            xml.SetCurrentNode(root);
            WriteQueueItemXml(xml, item, &toUtf8);
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
    if (count == 0) return platform::RemoveFileEntry(path) ? 0 : -1;
    return SaveXmlFileSafely(xml, path) >= 0 ? count : -1;
}

int LoadQueueFile(const char* path) {
    if (!path || !*path) return kQueueFileMissing;
    CXML xml;
    bool opened = xml.Open(path) == 0;
    XmlNode root = opened ? xml.goRoot() : nullptr;
    if (!root || !IsNamed(root, "queue")) {
        if (!platform::PathExists(path)) return kQueueFileMissing;
        QueueLockGuard lock;
        g_damagedFile = path;
        return kQueueFileDamaged;
    }
    {
        QueueLockGuard lock;
        if (g_damagedFile == path) g_damagedFile.clear();
    }
    CCharset fromUtf8("", "UTF-8");
    int loaded = 0;
    for (XmlNode child = FirstChildElement(root); child; child = xmlNextElementSibling(child)) {
        if (!IsNamed(child, "item")) continue;
        QueueItem* item = ReadQueueItemXml(xml, child, &fromUtf8);
        if (!item) break;
        if (QueueAppend(item) != 0) {
            QueueFreeItem(item);
            break;
        }
        ++loaded;
    }
    return loaded;
}
