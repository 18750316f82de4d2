#include "engine/encoders/codecs.h"

#include <strings.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/encoders/encoder_info.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "platform/cmdline.h"
#include "platform/numtext.h"

namespace {

struct DocLock {
    explicit DocLock(CXML& d) : doc(d) { doc.Lock(); }
    ~DocLock() { doc.Unlock(); }
    CXML& doc;
};

// No separator before a text that begins with '/', ':' or '=' (it continues the previous word).
const char* SepOf(const char* text) {
    return text && (*text == '/' || *text == ':' || *text == '=') ? "" : " ";
}

// ratio x value: up to 6 significant digits, but a value of a million or more in full (a tool
// reads no exponent form).
std::string RatioNumber(double v) {
    if (std::fabs(v) >= 1e6) return platform::FormatFixed(v, 0);
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

AudioTask* TaskOf(QueueItem* item) { return item ? item->audioTask.load() : nullptr; }

struct Walk {
    CAudioEncoder* encoder;
    QueueItem* item;
    CXML* doc;
    std::string& out;
    size_t start;          // length of out before the walk
    bool program = false;  // the walk began with a program path
};

void AppendArg(Walk& w) {
    CXML& doc = *w.doc;
    PrefStore& prefs = GetPrefStore();
    const char* prefix = doc.getAttribute("prefix");
    const char* key = doc.getAttribute("key");
    const char* postfix = doc.getAttribute("postfix");
    const char* text = doc.getNodeValue(0);
    std::string& out = w.out;

    const char* sep = "";
    if (prefix) {
        sep = SepOf(prefix);
        out += sep;
        out += prefix;
    }
    if (!key) {
        if (text) {
            out += SepOf(text);
            out += text;
        }
        if (postfix) out += postfix;
        return;
    }
    const PrefNode* node = prefs.FindNode(key);
    if (!node || !node->IsValue()) return;
    const char* pattern = text ? text : "";
    if (!prefix) sep = SepOf(pattern);
    const char* def = doc.getAttribute("default");
    const char* ratioText = doc.getAttribute("ratio");
    if (!ratioText) {
        if (!(def && prefs.NodeValueText(node) == def)) {
            const PrefOption rows[] = {{key, pattern}, {nullptr, nullptr}};
            out += prefs.AppendOptions(rows, sep);
        }
    } else {
        const double ratio = platform::ParseDouble(ratioText);
        if (node->type == kPrefInt || node->type == kPrefEnum) {
            const int v = node->Number();
            if (!(def && v == platform::ParseInt(def))) {
                out += sep;
                out += pattern;
                out += RatioNumber(ratio * v);
            }
        } else if (node->type == kPrefFloat) {
            const float v = node->Float();
            if (!(def && v == static_cast<float>(platform::ParseDouble(def)))) {
                out += sep;
                out += pattern;
                out += RatioNumber(ratio * v);
            }
        } else {
            const std::string v = prefs.NodeValueText(node);
            if (!(def && v == def)) {
                out += sep;
                if (!v.empty()) out += platform::QuoteArg(v);
            }
        }
    }
    if (postfix) out += postfix;
}

void AppendVar(Walk& w) {
    if (!w.item) return;
    CXML& doc = *w.doc;
    const char* name = doc.getAttribute("name");
    const char* prefix = doc.getAttribute("prefix", "");
    const char* postfix = doc.getAttribute("postfix", "");
    std::string value;
    bool force = false;
    if (name && std::strcmp(name, "SourceFile") == 0) {
        value = w.item->file ? w.item->file : "";
        force = true;
    } else if (name && std::strcmp(name, "UserInput") != 0) {
        // UserInput waits for the user interface, which may itself wait for this document's lock.
        value = GetTaskVariable(w.item, TaskOf(w.item), name);
    }
    // An option whose value is empty (a tag the source does not have) is left out whole: an
    // option with an empty value is invalid for some tools and writes an empty tag in others.
    if (value.empty() && *prefix) return;
    std::string before = w.out + " " + prefix;
    w.out += " ";
    w.out += prefix;
    w.out += QuoteForCommandLine(value, before, *postfix, force);
    w.out += postfix;
}

void AppendPath(Walk& w) {
    CXML& doc = *w.doc;
    const char* key = doc.getAttribute("key");
    std::string path = key ? GetPrefStore().GetString(key) : (doc.getNodeValue(0) ? doc.getNodeValue(0) : "");
    // The program word keeps no quote: it only groups.
    std::string plain;
    for (char c : path) {
        if (c != '"') plain += c;
    }
    if (plain.empty()) return;
    if (w.out.size() == w.start) w.program = true;
    if (plain.find_first_of(" \t") != std::string::npos) {
        w.out += "\"" + plain + "\"";
    } else {
        w.out += plain;
    }
}

void WalkSiblings(Walk& w) {
    CXML& doc = *w.doc;
    do {
        XmlNode here = doc.node;
        const char* name = doc.getNodeName();
        if (!name) break;
        if (std::strcmp(name, "arg") == 0) {
            AppendArg(w);
        } else if (std::strcmp(name, "var") == 0) {
            AppendVar(w);
        } else if (std::strcmp(name, "if") == 0 || std::strcmp(name, "ifnot") == 0) {
            const bool want = name[2] == '\0';
            if (EvalCodecCondition(w.encoder, w.item, &doc) == want && doc.goChild()) {
                WalkSiblings(w);
                doc.SetCurrentNode(here);
            }
        } else if (std::strcmp(name, "extname") == 0) {
            const char* ext = doc.getNodeValue(0);
            if (ext && w.encoder) w.encoder->fileExt = ext;
        } else if (std::strcmp(name, "path") == 0) {
            AppendPath(w);
        } else if (std::strcmp(name, "input") == 0) {
            const char* type = doc.getAttribute("type");
            if (type && std::strcmp(type, "pcm") == 0 && w.encoder) w.encoder->flags |= kEncoderRawPcm;
        }
        doc.SetCurrentNode(here);
    } while (doc.goNext());
}

bool IsTrue(const char* word) { return strcasecmp(word, "true") == 0; }

}  // namespace

CXML& GetCodecsDocument() {
    static CXML document;
    return document;
}

int LoadCodecsDefinition(bool fromBuffer, const char* pathOrText, int length) {
    if (!pathOrText) return -1;
    CXML& doc = GetCodecsDocument();
    DocLock lock(doc);
    int rc = fromBuffer ? doc.Read(pathOrText, length) : doc.Open(pathOrText);
    return rc == 0 && doc.doc ? 0 : -1;
}

bool BuildCodecArgs(CAudioEncoder* encoder, QueueItem* item, CXML* doc, std::string& out) {
    if (!doc || !doc->node) return false;
    Walk w{encoder, item, doc, out, out.size()};
    WalkSiblings(w);
    return w.program;
}

bool EvalCodecCondition(CAudioEncoder* encoder, QueueItem* item, CXML* doc) {
    if (!doc || !doc->node) return false;
    PrefStore& prefs = GetPrefStore();
    AudioTask* task = TaskOf(item);
    const AudioStreamInfo* stream = item ? item->audio : nullptr;
    long long diff = 0;
    if (const char* key = doc->getAttribute("test")) {
        if (const char* value = doc->getAttribute("value")) {
            const int c = std::strcmp(prefs.GetValueText(key).c_str(), value);
            diff = c < 0 ? -1 : (c > 0 ? 1 : 0);
        } else {
            const PrefNode* node = prefs.FindNode(key);
            if (node && node->IsText()) {
                const char* t = node->Text();
                diff = t && *t ? 0 : 1;  // a text holds when it is not empty
            } else {
                diff = prefs.GetInt(key) != 0 ? 0 : 1;
            }
        }
    } else if (const char* ch = doc->getAttribute("channels")) {
        long long channels = 2;
        if (task && task->channels) {
            channels = task->channels;
        } else if (stream && stream->channels) {
            channels = stream->channels;
        }
        diff = channels - platform::ParseInt(ch);
    } else if (const char* sr = doc->getAttribute("samplerate")) {
        long long rate = 44100;
        if (task && task->sampleRate) {
            rate = task->sampleRate;
        } else if (stream && stream->samplerate) {
            rate = stream->samplerate;
        }
        if (const char* tilde = std::strchr(sr, '~')) {
            const long long lo = platform::ParseInt(sr);
            const long long hi = platform::ParseInt(tilde + 1);
            return lo < rate && (hi == 0 || rate <= hi);
        }
        diff = rate - platform::ParseInt(sr);
    } else if (const char* tagging = doc->getAttribute("tagging")) {
        if (!item) return !IsTrue(tagging);
        if (encoder) encoder->flags |= kEncoderTagsOutput;
        const bool on = prefs.GetBool("overall.output.tag") && (item->flags & kItemFlagHasTags);
        return IsTrue(tagging) ? on : !on;
    } else if (const char* in = doc->getAttribute("stdin")) {
        const bool piped = task ? task->sourceId != 0 : true;
        return IsTrue(in) ? piped : !piped;
    } else if (const char* codec = doc->getAttribute("source_acodec")) {
        return stream && stream->codec && std::strcmp(stream->codec, codec) == 0;
    }
    const char* expr = doc->getAttribute("expr");
    if (!expr) return diff == 0;
    if (*expr == '<') return diff < 0;
    if (*expr == '>') return diff > 0;
    return false;
}

bool BuildEncoderCommandLine(CAudioEncoder* encoder, QueueItem* item, std::string* out) {
    if (!encoder || !out || encoder->name.empty() || encoder->name.find('"') != std::string::npos) return false;
    char xpath[256];
    const int n = std::snprintf(xpath, sizeof xpath, "/codecs/audio/encoder[@name=\"%s\"]", encoder->name.c_str());
    if (n < 0 || n >= static_cast<int>(sizeof xpath)) return false;
    CXML& doc = GetCodecsDocument();
    DocLock lock(doc);
    if (!doc.goToKey(xpath) || !doc.goChild()) return false;
    std::string line;
    if (!BuildCodecArgs(encoder, item, &doc, line)) return false;
    *out = line;
    return true;
}
