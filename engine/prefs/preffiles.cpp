#include "engine/prefs/preffiles.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>

#include "common/xml.h"
#include "engine/prefs/prefstore.h"
#include "platform/fs.h"
#include "platform/numtext.h"

namespace {

const char* Str(const char* s) { return s ? s : ""; }

bool MatchesSkip(const char* const* skip, const char* key) {
    if (!skip || !key) return false;
    for (const char* const* p = skip; *p; ++p) {
        size_t n = std::strlen(*p);
        if (n && std::strncmp(key, *p, n) == 0) return true;
    }
    return false;
}

// The full key of a values element: its own key attribute after those of its "node" ancestors.
std::string KeyOfElement(CXML& doc, XmlNode element) {
    std::string key;
    for (XmlNode n = element; n; ) {
        doc.SetCurrentNode(n);
        if (!doc.isMatched("node")) break;
        const char* k = doc.getAttribute("key");
        if (!k) break;
        key = key.empty() ? std::string(k) : std::string(k) + "." + key;
        n = doc.goParent();
    }
    doc.SetCurrentNode(element);
    return key;
}

// A value text that begins with '~' is written with this attribute set to "1", so that it reads
// back as the text it is rather than as a relative operator. Files without it read as before.
constexpr const char* kLiteralAttribute = "literal";

bool NeedsLiteralMark(const std::string& text) { return !text.empty() && text[0] == '~'; }

// An element with no text resets its key to the default, as it always has. A value the user
// emptied where the default is not empty is written with this attribute set to "1", so that it
// reads back empty.
constexpr const char* kEmptyAttribute = "empty";

// Restores a store field when the operation ends.
template <typename T>
class Scoped {
public:
    Scoped(T& field, T value) : field_(field), saved_(field) { field_ = value; }
    ~Scoped() { field_ = saved_; }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

private:
    T& field_;
    T saved_;
};

struct StoreLock {
    explicit StoreLock(PrefStore& s) : store(s) { store.Lock(); }
    ~StoreLock() { store.Unlock(); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    PrefStore& store;
};

// Engine-side state beside the global store; guarded by the preference lock.
std::string g_definitionsText;
std::string g_presetPath;

std::mutex g_logMutex;
PrefLogFn g_log;

void Log(const std::string& text) {
    PrefLogFn fn;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        fn = g_log;
    }
    if (fn) fn("prefs", text.c_str());
}

std::string TempFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = env && *env ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

const char* const kRevertSkipList[] = {
    "overall.ui",
    "overall.generic.ignoredBuild",
    "overall.generic.autoRevert",
    "overall.generic.logfile",
    "overall.generic.logging",
    "overall.subtitle.font",
    "overall.streaming.ip",
    "overall.task.tempdir",
    nullptr,
};

// --- definitions ---

void PrefStore::BuildTree(PrefNode* parent) {
    XmlNode element = document.node;
    if (!element) return;
    XmlNode child = document.goChild();
    if (child && document.isMatched("desc")) {
        parent->description = Str(document.getNodeValue(0));
        child = document.goNext();
    }
    for (; child; document.SetCurrentNode(child), child = document.goNext()) {
        // Anything but a node element of a known type ends the list here.
        if (!document.isMatched("node")) break;
        PrefType type = PrefTypeFromName(document.getAttribute("type"));
        if (type == kPrefEnd) break;
        parent->children.push_back(std::make_unique<PrefNode>());
        PrefNode* n = parent->children.back().get();
        n->type = type;
        n->key = Str(document.getAttribute("key"));
        n->label = Str(document.getAttribute("text"));
        if (const char* v = document.getAttribute("min")) n->min = static_cast<int16_t>(platform::ParseInt(v));
        if (const char* v = document.getAttribute("max")) n->max = static_cast<uint32_t>(platform::ParseInt(v));
        if (n->IsBranch()) {
            BuildTree(n);
            continue;
        }
        const char* valueText = nullptr;
        for (XmlNode item = document.goChild(); item; item = document.goNext()) {
            if (document.isMatched("desc")) {
                if (const char* d = document.getNodeValue(0)) n->description = d;
            } else if (document.isMatched("enum")) {
                const char* text = document.getNodeValue(0);
                if (!text) continue;
                int first = static_cast<int>(n->options.size());
                std::string all = text;
                for (size_t start = 0;;) {
                    size_t bar = all.find('|', start);
                    n->options.push_back(all.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
                    if (bar == std::string::npos) break;
                    start = bar + 1;
                }
                if (document.getAttribute("sel")) SetNodeDefault(n, first, true);
            } else if (document.isMatched("value")) {
                if (const char* v = document.getNodeValue(0)) valueText = v;
            } else if (document.isMatched("flag")) {
                if (document.getAttribute("nosave")) n->flags |= kPrefNoSave;
                else if (document.getAttribute("norevert")) n->flags |= kPrefNoRevert;
            }
        }
        if (n->IsText() && n->max == 0) n->max = 260;
        if (valueText) {
            SetNodeFromText(n, valueText);
            n->defNumber.store(n->number.load());
            n->defFloat.store(n->fvalue.load());
            if (n->IsText()) Publish(n->defText, n->Text(), nullptr);
        }
    }
    document.SetCurrentNode(element);
}

int PrefStore::LoadDefinitionsFile(const char* path, const char* rootName) {
    if (!path) return -1;
    StoreLock lock(*this);
    document.Close();
    if (document.Open(path) != 0) return -1;
    DropKeyIndex();
    root.Reset();
    root.type = kPrefTop;
    root.key = Str(rootName);
    definitionsFile = path;
    BuildTree(&root);
    RebuildKeyIndex();
    return 0;
}

int PrefStore::LoadDefinitionsBuffer(const char* text, int length, const char* rootName) {
    if (!text) return -1;
    StoreLock lock(*this);
    if (document.Read(text, length) != 0) return -1;
    DropKeyIndex();
    root.Reset();
    root.type = kPrefTop;
    root.key = Str(rootName);
    BuildTree(&root);
    RebuildKeyIndex();
    return 0;
}

// --- values ---

void PrefStore::ApplyValues(const char* key) {
    if (MatchesSkip(applySkip, key)) return;
    PrefNode* node = FindNode(key);
    if (!node) return;
    XmlNode element = document.node;
    // literal: the element holding the text carries the mark.
    auto apply = [&](const char* text, bool literal) {
        const char* v = converter.Convert(text);
        if (v[0] == '~' && !literal) ApplyRelative(node, v);
        else SetNodeFromText(node, v);
    };
    auto marked = [&] { return document.isAttrMatched(kLiteralAttribute, "1"); };
    auto markedEmpty = [&] { return document.isAttrMatched(kEmptyAttribute, "1"); };
    // One source of value per element: the attribute, else the first text, else the value
    // children (the last wins), so a relative value is never applied twice.
    const bool literal = marked();  // asked first: the texts below may live in the document's buffer
    const bool emptied = markedEmpty();
    const char* text = document.getAttribute("value");
    if (!text) text = document.getNodeValue(0);
    if (!text && emptied) text = "";
    bool found = text != nullptr;
    if (text) apply(text, literal);
    if (!node->IsBranch() && node->type != kPrefEnd) {
        if (!found) {
            for (XmlNode c = document.goChild(); c; c = document.goNext()) {
                if (!document.isMatched("value")) continue;
                const bool literalValue = marked();
                const char* v = document.getNodeValue(0);
                if (!v && markedEmpty()) v = "";
                if (v) {
                    apply(v, literalValue);
                    found = true;
                }
            }
            document.SetCurrentNode(element);
        }
        if (!found) ResetNodeToDefault(node);
    }
    for (XmlNode c = document.goChild(); c; c = document.goNext()) {
        if (!document.isMatched("node")) continue;
        const char* k = document.getAttribute("key");
        if (k) {
            std::string childKey = key ? std::string(key) + "." + k : std::string(k);
            ApplyValues(childKey.c_str());
        }
        document.SetCurrentNode(c);
    }
    document.SetCurrentNode(element);
}

int PrefStore::LoadValuesFile(const char* path, const char* const* skip, const char* startKey, const char* xpath) {
    StoreLock lock(*this);
    if (!path) path = definitionsFile.empty() ? nullptr : definitionsFile.c_str();
    if (!path) return -1;
    std::string file = path;  // path may be definitionsFile itself
    // Always read from disk: a file edited since its last load must not come from memory.
    document.Close();
    if (document.Open(file.c_str()) != 0) return -1;
    Scoped<const char* const*> scopedSkip(applySkip, skip);
    std::string key;
    if (xpath && *xpath) {
        XmlNode start = document.goToKey(xpath, 0);
        if (!start) return -1;
        key = KeyOfElement(document, start);
    } else if (startKey && *startKey) {
        std::string rest = startKey;
        for (;;) {
            size_t cut = rest.find_first_of("./");
            std::string segment = rest.substr(0, cut);
            XmlNode at = document.node;
            if (!document.findChildNode("node", "key", segment.c_str())) {
                document.SetCurrentNode(at);
                break;
            }
            key += (key.empty() ? "" : ".") + segment;
            if (cut == std::string::npos) break;
            rest = rest.substr(cut + 1);
        }
    }
    ApplyValues(key.empty() ? nullptr : key.c_str());
    return 0;
}

int PrefStore::LoadValuesBuffer(const char* text, int length, const char* const* skip, const char* xpath) {
    if (!text) return -1;
    StoreLock lock(*this);
    if (document.Read(text, length, "prefs.xml", "UTF-8") != 0) return -1;
    Scoped<const char* const*> scopedSkip(applySkip, skip);
    std::string key;
    if (xpath && *xpath) {
        XmlNode start = document.goToKey(xpath, 0);
        if (!start) return -1;
        key = KeyOfElement(document, start);
    }
    ApplyValues(key.empty() ? nullptr : key.c_str());
    return 0;
}

// --- writing ---

void PrefStore::WriteNodes(PrefNode* node, int mask, int depth, const std::string& prefix) {
    if (!node || MatchesSkip(saveSkip, prefix.c_str())) return;
    const bool leaf = node->children.empty();
    const bool worth = (mask & 1) || (!IsDefault(node) && !(node->flags & kPrefNoSave));
    bool added = false;
    if (!flatOutput && node->type != kPrefTop && !(leaf && !worth)) {
        document.addChild("node");
        document.setAttribute("key", node->key.c_str());
        if (mask & 2) document.setAttribute("type", PrefTypeName(node->type));
        if (mask & 4) document.setAttribute("text", node->label.c_str());
        if ((mask & 32) && !node->description.empty()) document.addTextChild("desc", node->description.c_str());
        added = true;
    }
    if (!leaf && (depth >= 2 || depth < 0)) {
        for (auto& child : node->children) {
            WriteNodes(child.get(), mask, depth < 0 ? -1 : depth - 1, prefix + child->key + ".");
        }
    } else if (flatOutput) {
        std::string text = NodeValueText(node);
        // A value the user moved away from what the shipped files give is written even where it
        // equals the definitions' default (an empty one as an empty element, which resets).
        const bool unshipped = node->hasShipped && text != node->shipped;
        if ((mask & 1) || !IsDefault(node) || unshipped) {
            if ((!text.empty() || unshipped || !IsDefault(node)) && !prefix.empty()) {
                std::string key = prefix.substr(0, prefix.size() - 1);
                document.goRoot();
                XmlNode element = document.addTextChild("node", converter.Convert(text.c_str()));
                document.SetCurrentNode(element);
                document.setAttribute("key", key.c_str());
                if (NeedsLiteralMark(text)) document.setAttribute(kLiteralAttribute, "1");
                if (text.empty() && !IsDefault(node)) document.setAttribute(kEmptyAttribute, "1");
                document.goRoot();
            }
        }
    } else if (worth && node->IsValue()) {
        if ((mask & 64) && node->min) document.setAttribute("min", node->min);
        if ((mask & 64) && node->max) document.setAttribute("max", static_cast<int>(node->max));
        if (mask & 8) {
            for (int i = 0; i < node->OptionCount(); ++i) document.addTextChild("enum", node->OptionText(i));
        }
        if (mask & 16) {
            std::string text = NodeValueText(node);
            const bool emptied = text.empty() && !IsDefault(node);
            if (!text.empty() || emptied) {
                XmlNode at = document.node;
                XmlNode value = document.addTextChild("value", converter.Convert(text.c_str()));
                if (value && (NeedsLiteralMark(text) || emptied)) {
                    document.SetCurrentNode(value);
                    document.setAttribute(emptied ? kEmptyAttribute : kLiteralAttribute, "1");
                    document.SetCurrentNode(at);
                }
            }
        }
    }
    if (added) document.goParent();
}

int PrefStore::SaveValuesFile(const char* path, const char* const* skip) {
    if (!path) return -1;
    StoreLock lock(*this);
    Scoped<const char* const*> scopedSkip(saveSkip, skip);
    Scoped<bool> scopedFlat(flatOutput, true);
    document.New("1.0", root.key.empty() ? "QuorvexPrefs" : root.key.c_str());
    WriteNodes(&root, 16, -1, "");
    return SaveXmlFileSafely(document, path) >= 0 ? 0 : -1;
}

int PrefStore::ExportXml(char** out, const char* startKey, bool flat, const char* href, int mask, int depth) {
    if (out) *out = nullptr;
    StoreLock lock(*this);
    Scoped<bool> scopedFlat(flatOutput, flat);
    Scoped<const char* const*> scopedSkip(saveSkip, nullptr);
    document.New("1.0", root.key.empty() ? "QuorvexPrefs" : root.key.c_str(), href);
    PrefNode* start = &root;
    std::string prefix;
    if (startKey && *startKey) {
        start = FindNode(startKey);
        // One element per ancestor level above the start node, resolved as FindNode resolves them.
        const std::string key = startKey;
        for (size_t cut = key.find_first_of("./"); start && cut != std::string::npos;
             cut = key.find_first_of("./", cut + 1)) {
            PrefNode* level = FindNode(key.substr(0, cut).c_str());
            if (!level) break;
            if (!flat) {
                document.addChild("node");
                document.setAttribute("type", PrefTypeName(level->type));
                document.setAttribute("text", level->label.c_str());
                document.setAttribute("key", level->key.c_str());
            }
            prefix += level->key + ".";
        }
        if (start) prefix += start->key + ".";
    }
    if (start) WriteNodes(start, mask, depth, prefix);
    char* text = nullptr;
    int len = document.Dump(&text, "UTF-8");
    if (!text) return 0;
    if (out) {
        *out = static_cast<char*>(std::malloc(static_cast<size_t>(len) + 1));
        if (*out) {
            std::memcpy(*out, text, static_cast<size_t>(len));
            (*out)[len] = '\0';
        }
    }
    return len;
}

// --- the engine's functions ---

int LoadPrefDefinitions(bool fromBuffer, const char* pathOrText, int length, const char* rootName) {
    if (!pathOrText) return -1;
    PrefStore& store = GetPrefStore();
    StoreLock lock(store);
    store.Clear();
    std::string text;
    if (fromBuffer) {
        text.assign(pathOrText, length > 0 ? static_cast<size_t>(length) : std::strlen(pathOrText));
        if (store.LoadDefinitionsBuffer(text.c_str(), static_cast<int>(text.size()), rootName) != 0) return -1;
    } else {
        if (store.LoadDefinitionsFile(pathOrText, rootName) != 0) return -1;
        std::ifstream in(pathOrText, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    g_definitionsText = std::move(text);
    store.SetDefault("overall.task.tempdir", TempFolder().c_str(), true);
    return 0;
}

void PrefStore::KeepShippedValues() {
    StoreLock lock(*this);
    std::function<void(PrefNode*)> keep = [&](PrefNode* parent) {
        for (auto& child : parent->children) {
            if (child->IsValue()) {
                child->shipped = NodeValueText(child.get());
                child->hasShipped = true;
            }
            keep(child.get());
        }
    };
    keep(&root);
}

int SavePrefs(const char* path, const char* const* skip) { return GetPrefStore().SaveValuesFile(path, skip); }

int LoadPrefsFile(const char* pathOrText, int length, const char* selector) {
    if (!pathOrText) return -1;
    const char* t = pathOrText;
    bool isPath = (t[0] && t[1] == ':' && t[2] == '\\') || t[0] == '/' || (t[0] && t[1] == '/');
    PrefStore& store = GetPrefStore();
    if (isPath) return store.LoadValuesFile(t, nullptr, selector, nullptr);
    return store.LoadValuesBuffer(t, length, nullptr, selector);
}

int LoadStartupPrefs(const std::vector<std::string>& shippedFiles, const char* userFile) {
    PrefStore& store = GetPrefStore();
    StoreLock lock(store);
    int rc = 0;
    for (const std::string& file : shippedFiles) {
        if (!platform::PathExists(file.c_str())) continue;
        if (store.LoadValuesFile(file.c_str(), nullptr, nullptr, nullptr) != 0) rc = -1;
    }
    store.KeepShippedValues();
    if (userFile && platform::PathExists(userFile) && store.LoadValuesFile(userFile, nullptr, nullptr, nullptr) != 0)
        rc = -1;
    return rc;
}

void RevertPrefs() {
    PrefStore& store = GetPrefStore();
    StoreLock lock(store);
    if (g_definitionsText.empty()) return;
    store.LoadValuesBuffer(g_definitionsText.c_str(), static_cast<int>(g_definitionsText.size()), kRevertSkipList,
                           nullptr);
}

void ResetPrefToDefault(const char* key) { GetPrefStore().ResetToDefault(key); }

int LoadPreset(const char* file, const char* const* skip, bool log) {
    PrefStore& store = GetPrefStore();
    StoreLock lock(store);
    if (log) Log(std::string("Loading preset file ") + (file ? file : "(defaults)"));
    int rc;
    if (!file) {
        rc = g_definitionsText.empty()
                 ? -1
                 : store.LoadValuesBuffer(g_definitionsText.c_str(), static_cast<int>(g_definitionsText.size()),
                                          skip, nullptr);
    } else {
        rc = store.LoadValuesFile(file, skip, nullptr, nullptr);
    }
    if (rc != 0 && log) Log("Error loading preset file");
    if (rc == 0 && file && log) g_presetPath = file;
    return rc;
}

std::string GetCurrentPresetPath() {
    PrefStore& store = GetPrefStore();
    StoreLock lock(store);
    return g_presetPath;
}

void SetPrefLogHook(PrefLogFn fn) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log = std::move(fn);
}
