#include "engine/prefs/prefstore.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <sstream>

#include "platform/msgbox.h"
#include "platform/numtext.h"

namespace {

// A 64-bit number slot holds a 32-bit value, sign-extended.
int64_t Widen(int64_t v) {
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    return v;
}

int64_t FromDouble(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int64_t>(d);  // truncates toward zero
}

char* CopyText(const char* s) {
    size_t n = std::strlen(s) + 1;
    char* p = static_cast<char*>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

bool StartsWithDigit(const char* s) { return *s >= '0' && *s <= '9'; }

// The boolean text rule: true/enabled 1, false/disabled 0, else the number.
int64_t BoolFromText(const char* text) {
    if (strcasecmp(text, "true") == 0 || strcasecmp(text, "enabled") == 0) return 1;
    if (strcasecmp(text, "false") == 0 || strcasecmp(text, "disabled") == 0) return 0;
    return platform::ParseInt(text);
}

// Float text as the standard stream inserter writes it (six significant digits), in the C locale.
std::string StreamFloat(float v) {
    std::ostringstream os;
    os.imbue(std::locale::classic());
    os << v;
    return os.str();
}

// A value for a command line: no '"' (the argv rules could not carry it through a quoted
// argument unambiguously), quoted when it holds a blank or tab, with the backslashes before the
// closing quote doubled so that they stay backslashes.
std::string QuoteArgument(const char* value) {
    std::string v;
    for (const char* p = value; *p; ++p) {
        if (*p != '"') v += *p;
    }
    if (v.find_first_of(" \t") == std::string::npos) return v;
    size_t trailing = 0;
    while (trailing < v.size() && v[v.size() - 1 - trailing] == '\\') ++trailing;
    return "\"" + v + std::string(trailing, '\\') + "\"";
}

// Part number n (0-based) of a pattern split at '|'; false when the pattern has fewer parts.
bool PatternPart(const char* pattern, int64_t n, std::string* out) {
    if (n < 0) n = 0;
    const char* p = pattern;
    for (int64_t i = 0; i < n; ++i) {
        p = std::strchr(p, '|');
        if (!p) return false;
        ++p;
    }
    const char* end = std::strchr(p, '|');
    out->assign(p, end ? static_cast<size_t>(end - p) : std::strlen(p));
    return true;
}

}  // namespace

PrefStore::PrefStore() : converter("UTF-8", "UTF-8") { root.type = kPrefTop; }

PrefStore::~PrefStore() { Clear(); }

PrefStore& GetPrefStore() {
    static PrefStore store;
    return store;
}

// --- key resolution ---

// Full keys are hashed and compared with '/' read as '.', the two separators a key may use.
namespace {

inline char KeyChar(char c) { return c == '/' ? '.' : c; }

inline uint64_t HashKey(const char* key, size_t* length) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    const char* p = key;
    for (; *p; ++p) h = (h ^ static_cast<unsigned char>(KeyChar(*p))) * 1099511628211ull;
    *length = static_cast<size_t>(p - key);
    return h;
}

inline bool SameKey(const char* stored, const char* key, size_t length) {
    if (std::memcmp(stored, key, length) == 0) return true;
    for (size_t i = 0; i < length; ++i) {
        if (stored[i] != KeyChar(key[i])) return false;
    }
    return true;
}

}  // namespace

// Open addressing over a power-of-two table; a slot without a node is free.
struct PrefKeyIndex {
    struct Slot {
        uint64_t hash = 0;
        PrefNode* node = nullptr;
        uint32_t offset = 0;  // of the full key in `keys`
        uint32_t length = 0;
    };
    std::vector<Slot> slots;
    std::string keys;
    size_t mask = 0;

    PrefNode* Find(const char* key) const {
        size_t length;
        const uint64_t h = HashKey(key, &length);
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& s = slots[i];
            if (!s.node) return nullptr;
            if (s.hash == h && s.length == length && SameKey(keys.data() + s.offset, key, length)) return s.node;
        }
    }

    // False when the key is there already: an earlier sibling of that key hides this node.
    bool Insert(const std::string& full, PrefNode* node) {
        size_t length;
        const uint64_t h = HashKey(full.c_str(), &length);
        size_t i = h & mask;
        for (; slots[i].node; i = (i + 1) & mask) {
            const Slot& s = slots[i];
            if (s.hash == h && s.length == length && keys.compare(s.offset, length, full) == 0) return false;
        }
        slots[i] = Slot{h, node, static_cast<uint32_t>(keys.size()), static_cast<uint32_t>(length)};
        keys += full;
        return true;
    }

    // Only what the walk can reach: a key holding a separator is never found, and of siblings that
    // share a key only the first one and what lies below it.
    void AddChildren(const PrefNode* parent, const std::string& prefix) {
        for (const auto& child : parent->children) {
            if (child->key.find_first_of("./") != std::string::npos) continue;
            const std::string full = prefix + child->key;
            if (!Insert(full, child.get())) continue;
            if (!child->children.empty()) AddChildren(child.get(), full + ".");
        }
    }
};

namespace {

size_t CountNodes(const PrefNode* node) {
    size_t n = node->children.size();
    for (const auto& c : node->children) n += CountNodes(c.get());
    return n;
}

}  // namespace

void PrefStore::RebuildKeyIndex() {
    Lock();
    auto* index = new PrefKeyIndex;
    size_t capacity = 16;
    while (capacity < 2 * CountNodes(&root)) capacity *= 2;
    index->slots.resize(capacity);
    index->mask = capacity - 1;
    index->AddChildren(&root, std::string());
    if (const PrefKeyIndex* old = keyIndex_.exchange(index, std::memory_order_acq_rel)) retiredIndexes_.push_back(old);
    Unlock();
}

void PrefStore::DropKeyIndex() {
    Lock();
    if (const PrefKeyIndex* old = keyIndex_.exchange(nullptr, std::memory_order_acq_rel)) retiredIndexes_.push_back(old);
    Unlock();
}

void PrefStore::Clear() {
    Lock();
    DropKeyIndex();
    for (const PrefKeyIndex* index : retiredIndexes_) delete index;
    retiredIndexes_.clear();
    root.Reset();
    root.type = kPrefTop;
    for (char* p : retired_) std::free(p);
    retired_.clear();
    definitionsFile.clear();
    Unlock();
}

PrefNode* PrefStore::FindNode(const char* key) {
    if (!key) return &root;
    if (const PrefKeyIndex* index = keyIndex_.load(std::memory_order_acquire)) {
        if (PrefNode* n = index->Find(key)) return n;
    }
    return WalkToNode(key);
}

PrefNode* PrefStore::WalkToNode(const char* key) {
    PrefNode* node = &root;
    const char* p = key;
    for (;;) {
        const char* end = p;
        while (*end && *end != '.' && *end != '/') ++end;
        size_t len = static_cast<size_t>(end - p);
        PrefNode* found = nullptr;
        for (const auto& child : node->children) {
            if (child->key.size() == len && std::memcmp(child->key.data(), p, len) == 0) {
                found = child.get();
                break;
            }
        }
        if (!found) return nullptr;
        if (!*end) return found;
        if (found->children.empty()) return nullptr;
        node = found;
        p = end + 1;
    }
}

// --- getters ---

int PrefStore::GetInt(const char* key) {
    const PrefNode* n = FindNode(key);
    if (!n) return 0;
    if (n->IsNumber()) return n->Number();
    if (n->type == kPrefFloat) return static_cast<int>(FromDouble(n->Float()));
    if (n->IsText()) {
        const char* t = n->Text();
        return t ? platform::ParseInt(t) : 0;
    }
    return 0;
}

bool PrefStore::GetBool(const char* key) {
    const PrefNode* n = FindNode(key);
    if (!n) return false;
    if (n->IsNumber()) return n->number.load(std::memory_order_relaxed) != 0;
    if (n->type == kPrefFloat) return n->Float() != 0.0f;
    if (n->IsText()) {
        const char* t = n->Text();
        return t && *t;
    }
    return false;
}

float PrefStore::GetFloat(const char* key) {
    const PrefNode* n = FindNode(key);
    if (!n) return 0.0f;
    if (n->type == kPrefFloat) return n->Float();
    if (n->IsNumber()) return static_cast<float>(n->Number());
    return 0.0f;
}

const char* PrefStore::GetString(const char* key) {
    const PrefNode* n = FindNode(key);
    if (!n || !n->IsText()) return "";
    const char* t = n->Text();
    return t ? t : "";
}

std::string PrefStore::GetStringObj(const char* key, char lead) {
    const PrefNode* n = FindNode(key);
    if (!n || !n->IsText()) return std::string();
    const char* t = n->Text();
    if (!t) return std::string();
    return std::string(1, lead) + t;
}

const void* PrefStore::GetValuePtr(const char* key) {
    const PrefNode* n = FindNode(key);
    if (!n) return nullptr;
    if (n->IsText()) return n->Text();
    if (n->type == kPrefFloat) return &n->fvalue;
    return &n->number;
}

const char* PrefStore::GetEnumText(const char* key, int index) { return NodeEnumText(FindNode(key), index); }

const char* PrefStore::NodeEnumText(const PrefNode* node, int index) {
    if (!node) return "";
    if (index < 0) index = node->Number();
    const char* t = node->OptionText(index);
    return t ? t : "";
}

std::string PrefStore::GetValueText(const char* key) { return NodeValueText(FindNode(key)); }

std::string PrefStore::NodeValueText(const PrefNode* node) {
    if (!node) return std::string();
    switch (node->type) {
        case kPrefInt:
            return std::to_string(node->Number());
        case kPrefEnum: {
            const char* t = node->OptionText(node->Number());
            if (!t || !*t) t = node->OptionText(0);
            return t ? t : "";
        }
        case kPrefBool:
            return node->number.load(std::memory_order_relaxed) ? "true" : "false";
        case kPrefFloat: {
            float v = node->Float();
            return v == 0.0f ? "0" : platform::FormatFixed(v);
        }
        case kPrefString:
        case kPrefFile:
        case kPrefDir: {
            const char* t = node->Text();
            return t ? t : "";
        }
        default:
            return std::string();
    }
}

int PrefStore::FormatValue(const char* key, char* buf, int size) { return FormatNodeValue(FindNode(key), buf, size); }

int PrefStore::FormatNodeValue(const PrefNode* node, char* buf, int size) {
    if (!buf || size <= 0) return 0;
    buf[0] = '\0';
    if (!node) return 0;
    std::string text;
    if (node->type == kPrefEnum) {
        const char* t = node->OptionText(node->Number());
        text = t ? t : "";
    } else {
        text = NodeValueText(node);
    }
    size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

// --- setters ---

void PrefStore::WrongType(const char* key, const char* caption) {
    platform::ShowMessageBox(nullptr, key, caption, platform::kMbSystemModal);
}

void PrefStore::SetInt(const char* key, int value) {
    PrefNode* n = FindNode(key);
    if (!n) return;
    if (!n->IsNumber()) return WrongType(key, "Integer type expected");
    n->number.store(value, std::memory_order_relaxed);
}

void PrefStore::SetBool(const char* key, bool value) {
    PrefNode* n = FindNode(key);
    if (!n) return;
    if (n->type != kPrefBool) return WrongType(key, "Boolean type expected");
    n->number.store(value ? 1 : 0, std::memory_order_relaxed);
}

void PrefStore::SetFloat(const char* key, float value) {
    PrefNode* n = FindNode(key);
    if (!n) return;
    if (n->type != kPrefFloat) return WrongType(key, "Float type expected");
    n->fvalue.store(value, std::memory_order_relaxed);
}

void PrefStore::SetString(const char* key, const char* text) {
    PrefNode* n = FindNode(key);
    if (!n) return;
    if (!n->IsText()) return WrongType(key, "String type expected");
    SetNodeString(n, text);
}

bool PrefStore::SetFromText(const char* key, const char* text) {
    PrefNode* n = FindNode(key);
    return n && SetNodeFromText(n, text);
}

bool PrefStore::SetDefault(const char* key, int value, bool apply) {
    PrefNode* n = FindNode(key);
    if (n) SetNodeDefault(n, value, apply);
    return n != nullptr;
}

bool PrefStore::SetDefault(const char* key, double value, bool apply) {
    PrefNode* n = FindNode(key);
    if (n) SetNodeDefault(n, value, apply);
    return n != nullptr;
}

bool PrefStore::SetDefault(const char* key, const char* value, bool apply) {
    PrefNode* n = FindNode(key);
    if (n) SetNodeDefault(n, value, apply);
    return n != nullptr;
}

void PrefStore::ResetToDefault(const char* key) { ResetNodeToDefault(FindNode(key)); }

void PrefStore::ResetNodeToDefault(PrefNode* node) {
    if (!node) return;
    if (node->IsNumber()) {
        node->number.store(node->defNumber.load(std::memory_order_relaxed), std::memory_order_relaxed);
    } else if (node->type == kPrefFloat) {
        node->fvalue.store(node->defFloat.load(std::memory_order_relaxed), std::memory_order_relaxed);
    } else if (node->IsText()) {
        Lock();
        const char* d = node->DefaultText();
        Publish(node->text, d, &node->capacity);
        Unlock();
    }
}

void PrefStore::Publish(std::atomic<const char*>& slot, const char* text, int* capacity) {
    char* fresh = text ? CopyText(text) : nullptr;
    if (capacity) *capacity = fresh ? static_cast<int>(std::strlen(fresh)) + 1 : 0;
    const char* old = slot.exchange(fresh, std::memory_order_acq_rel);
    if (old) retired_.push_back(const_cast<char*>(old));
}

void PrefStore::SetNodeString(PrefNode* node, const char* text) {
    if (!node) return;
    Lock();
    Publish(node->text, text, &node->capacity);
    Unlock();
}

bool PrefStore::SetNodeFromText(PrefNode* node, const char* text) {
    if (!node || !text || !node->IsValue()) return false;
    switch (node->type) {
        case kPrefInt:
            node->number.store(platform::ParseInt(text), std::memory_order_relaxed);
            break;
        case kPrefEnum: {
            int64_t v = -1;
            if (!*text) v = 0;
            for (int i = 0; v < 0 && i < node->OptionCount(); ++i) {
                if (strcasecmp(text, node->OptionText(i)) == 0) v = i;
            }
            if (v < 0) v = StartsWithDigit(text) ? platform::ParseInt(text) : BoolFromText(text);
            node->number.store(v, std::memory_order_relaxed);
            break;
        }
        case kPrefBool:
            node->number.store(BoolFromText(text), std::memory_order_relaxed);
            break;
        case kPrefFloat:
            node->fvalue.store(static_cast<float>(platform::ParseDouble(text)), std::memory_order_relaxed);
            break;
        case kPrefDir: {
            std::string dir = text;
            if (!dir.empty()) {
                char sep = dir.find('\\') != std::string::npos ? '\\' : '/';
                if (dir.back() != sep) dir += sep;
            }
            SetNodeString(node, dir.c_str());
            break;
        }
        default:  // string, file
            SetNodeString(node, text);
            break;
    }
    return true;
}

void PrefStore::SetNodeDefault(PrefNode* node, int value, bool apply) {
    if (!node || !node->IsNumber()) return;
    Lock();
    bool wasDefault = IsDefault(node);
    node->defNumber.store(value, std::memory_order_relaxed);
    if (apply && wasDefault) node->number.store(value, std::memory_order_relaxed);
    Unlock();
}

void PrefStore::SetNodeDefault(PrefNode* node, double value, bool apply) {
    if (!node || node->type != kPrefFloat) return;
    Lock();
    bool wasDefault = IsDefault(node);
    node->defFloat.store(static_cast<float>(value), std::memory_order_relaxed);
    if (apply && wasDefault) node->fvalue.store(static_cast<float>(value), std::memory_order_relaxed);
    Unlock();
}

void PrefStore::SetNodeDefault(PrefNode* node, const char* value, bool apply) {
    if (!node || !node->IsText()) return;
    Lock();
    bool wasDefault = IsDefault(node);
    Publish(node->defText, value, nullptr);
    if (apply && wasDefault) Publish(node->text, value, &node->capacity);
    Unlock();
}

bool PrefStore::IsDefault(const PrefNode* node) {
    if (!node || node->type == kPrefEnd || node->type >= kPrefNode) return true;
    if (node->IsNumber())
        return node->number.load(std::memory_order_relaxed) == node->defNumber.load(std::memory_order_relaxed);
    if (node->type == kPrefFloat) return node->Float() == node->defFloat.load(std::memory_order_relaxed);
    const char* v = node->Text();
    if (!v) return true;
    const char* d = node->DefaultText();
    if (!d) return *v == '\0';
    return std::strcmp(v, d) == 0;
}

void PrefStore::ApplyRelative(PrefNode* node, const char* text) {
    if (!node || !text || text[0] != '~' || !text[1]) return;
    const char op = text[1];
    const char* operand = text + 2;
    const bool integer = node->type == kPrefInt || node->type == kPrefEnum;
    const int64_t cur = node->Number();
    switch (op) {
        case '*':
            if (node->type == kPrefInt) {
                // Read signed: a negative value multiplies to a negative result.
                double r = static_cast<double>(cur) * platform::ParseDouble(operand);
                node->number.store(FromDouble(r), std::memory_order_relaxed);
            } else if (node->type == kPrefFloat) {
                node->fvalue.store(static_cast<float>(node->Float() * platform::ParseDouble(operand)),
                                   std::memory_order_relaxed);
            }
            break;
        case '+':
            if (integer) {
                node->number.store(Widen(cur + platform::ParseInt(operand)), std::memory_order_relaxed);
            } else if (node->type == kPrefFloat) {
                node->fvalue.store(static_cast<float>(node->Float() + platform::ParseDouble(operand)),
                                   std::memory_order_relaxed);
            } else if (node->type == kPrefString) {
                Lock();
                const char* t = node->Text();
                std::string joined = std::string(t ? t : "") + operand;
                SetNodeString(node, joined.c_str());
                Unlock();
            }
            break;
        case '-':
            if (integer) {
                node->number.store(Widen(cur - platform::ParseInt(operand)), std::memory_order_relaxed);
            } else if (node->type == kPrefFloat) {
                node->fvalue.store(static_cast<float>(node->Float() - platform::ParseDouble(operand)),
                                   std::memory_order_relaxed);
            }
            break;
        default:
            break;
    }
}

// --- command-line fragments ---

std::string PrefStore::AppendOptions(const PrefOption* rows, char separator) {
    return AppendOptions(rows, std::string(1, separator).c_str());
}

std::string PrefStore::AppendOptions(const PrefOption* rows, const char* separator) {
    std::string out;
    if (!rows) return out;
    const char* sep = separator ? separator : "";
    for (const PrefOption* row = rows; row->key; ++row) {
        const PrefNode* n = FindNode(row->key);
        if (!n || !n->IsValue()) continue;
        const char* pattern = row->pattern ? row->pattern : "";
        const bool parts = std::strchr(pattern, '|') != nullptr;
        std::string piece;
        bool emit = false;
        switch (n->type) {
            case kPrefBool: {
                bool on = n->number.load(std::memory_order_relaxed) != 0;
                if (parts) {
                    const char* bar = std::strchr(pattern, '|');
                    piece = on ? std::string(bar + 1) : std::string(pattern, static_cast<size_t>(bar - pattern));
                    emit = !piece.empty();
                } else if (on) {
                    piece = pattern;
                    emit = true;
                }
                break;
            }
            case kPrefInt:
            case kPrefEnum: {
                int32_t v = n->Number();
                if (parts) {
                    emit = PatternPart(pattern, v, &piece) && !piece.empty();
                } else if (n->type == kPrefEnum || v != 0 || n->defNumber.load(std::memory_order_relaxed) != 0) {
                    piece = std::string(pattern) + std::to_string(v);
                    emit = true;
                }
                break;
            }
            case kPrefFloat: {
                float v = n->Float();
                if (v != n->defFloat.load(std::memory_order_relaxed)) {
                    piece = std::string(pattern) + StreamFloat(v);
                    emit = true;
                }
                break;
            }
            default: {
                const char* t = n->Text();
                if (t && *t) {
                    piece = std::string(pattern) + QuoteArgument(t);
                    emit = true;
                }
                break;
            }
        }
        if (emit) {
            out += sep;
            out += piece;
        }
    }
    return out;
}
