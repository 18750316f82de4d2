// Dialog templates: checks, the literal provider, and the XML form read with libxml2.
#include "platform/gui/resources.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <set>
#include <thread>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "platform/gui/internal.h"

namespace gui {

namespace {

struct StyleName {
    const char* name;
    DWORD value;
    const char* prefix;  // which class may use it: "WS_", "DS_" (dialogs), "BS_", ...
};

const StyleName kStyles[] = {
    {"WS_OVERLAPPED", WS_OVERLAPPED, "WS_"}, {"WS_POPUP", WS_POPUP, "WS_"}, {"WS_CHILD", WS_CHILD, "WS_"},
    {"WS_VISIBLE", WS_VISIBLE, "WS_"}, {"WS_DISABLED", WS_DISABLED, "WS_"}, {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS, "WS_"},
    {"WS_CLIPCHILDREN", WS_CLIPCHILDREN, "WS_"}, {"WS_CAPTION", WS_CAPTION, "WS_"}, {"WS_BORDER", WS_BORDER, "WS_"},
    {"WS_DLGFRAME", WS_DLGFRAME, "WS_"}, {"WS_VSCROLL", WS_VSCROLL, "WS_"}, {"WS_HSCROLL", WS_HSCROLL, "WS_"},
    {"WS_SYSMENU", WS_SYSMENU, "WS_"}, {"WS_THICKFRAME", WS_THICKFRAME, "WS_"}, {"WS_GROUP", WS_GROUP, "WS_"},
    {"WS_TABSTOP", WS_TABSTOP, "WS_"}, {"WS_MINIMIZEBOX", WS_MINIMIZEBOX, "WS_"},
    {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX, "WS_"}, {"WS_OVERLAPPEDWINDOW", WS_OVERLAPPEDWINDOW, "WS_"},
    {"DS_3DLOOK", DS_3DLOOK, "DS_"}, {"DS_FIXEDSYS", DS_FIXEDSYS, "DS_"}, {"DS_SETFONT", DS_SETFONT, "DS_"},
    {"DS_MODALFRAME", DS_MODALFRAME, "DS_"}, {"DS_SETFOREGROUND", DS_SETFOREGROUND, "DS_"},
    {"DS_CONTROL", DS_CONTROL, "DS_"}, {"DS_CENTER", DS_CENTER, "DS_"}, {"DS_SHELLFONT", DS_SHELLFONT, "DS_"},
    {"BS_PUSHBUTTON", BS_PUSHBUTTON, "BS_"}, {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON, "BS_"},
    {"BS_CHECKBOX", BS_CHECKBOX, "BS_"}, {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX, "BS_"},
    {"BS_RADIOBUTTON", BS_RADIOBUTTON, "BS_"}, {"BS_3STATE", BS_3STATE, "BS_"}, {"BS_AUTO3STATE", BS_AUTO3STATE, "BS_"},
    {"BS_GROUPBOX", BS_GROUPBOX, "BS_"}, {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON, "BS_"}, {"BS_OWNERDRAW", BS_OWNERDRAW, "BS_"},
    {"BS_LEFTTEXT", BS_LEFTTEXT, "BS_"}, {"BS_BITMAP", BS_BITMAP, "BS_"}, {"BS_MULTILINE", BS_MULTILINE, "BS_"},
    {"BS_NOTIFY", BS_NOTIFY, "BS_"},
    {"SS_LEFT", SS_LEFT, "SS_"}, {"SS_CENTER", SS_CENTER, "SS_"}, {"SS_RIGHT", SS_RIGHT, "SS_"}, {"SS_ICON", SS_ICON, "SS_"},
    {"SS_ETCHEDHORZ", SS_ETCHEDHORZ, "SS_"}, {"SS_ETCHEDVERT", SS_ETCHEDVERT, "SS_"}, {"SS_NOPREFIX", SS_NOPREFIX, "SS_"},
    {"SS_NOTIFY", SS_NOTIFY, "SS_"}, {"SS_CENTERIMAGE", SS_CENTERIMAGE, "SS_"}, {"SS_SUNKEN", SS_SUNKEN, "SS_"},
    {"ES_LEFT", ES_LEFT, "ES_"}, {"ES_CENTER", ES_CENTER, "ES_"}, {"ES_RIGHT", ES_RIGHT, "ES_"},
    {"ES_MULTILINE", ES_MULTILINE, "ES_"}, {"ES_PASSWORD", ES_PASSWORD, "ES_"}, {"ES_AUTOVSCROLL", ES_AUTOVSCROLL, "ES_"},
    {"ES_AUTOHSCROLL", ES_AUTOHSCROLL, "ES_"}, {"ES_READONLY", ES_READONLY, "ES_"},
    {"ES_WANTRETURN", ES_WANTRETURN, "ES_"}, {"ES_NUMBER", ES_NUMBER, "ES_"},
    {"CBS_SIMPLE", CBS_SIMPLE, "CBS_"}, {"CBS_DROPDOWN", CBS_DROPDOWN, "CBS_"},
    {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST, "CBS_"}, {"CBS_AUTOHSCROLL", CBS_AUTOHSCROLL, "CBS_"},
    {"CBS_HASSTRINGS", CBS_HASSTRINGS, "CBS_"}, {"CBS_NOINTEGRALHEIGHT", CBS_NOINTEGRALHEIGHT, "CBS_"},
    {"LBS_NOTIFY", LBS_NOTIFY, "LBS_"}, {"LBS_MULTIPLESEL", LBS_MULTIPLESEL, "LBS_"},
    {"LBS_HASSTRINGS", LBS_HASSTRINGS, "LBS_"}, {"LBS_NOINTEGRALHEIGHT", LBS_NOINTEGRALHEIGHT, "LBS_"},
    {"LBS_EXTENDEDSEL", LBS_EXTENDEDSEL, "LBS_"},
    {"TBS_AUTOTICKS", TBS_AUTOTICKS, "TBS_"}, {"TBS_VERT", TBS_VERT, "TBS_"}, {"TBS_BOTH", TBS_BOTH, "TBS_"},
    {"TBS_NOTICKS", TBS_NOTICKS, "TBS_"},
    {"PBS_SMOOTH", PBS_SMOOTH, "PBS_"}, {"PBS_VERTICAL", PBS_VERTICAL, "PBS_"},
    {"LVS_REPORT", LVS_REPORT, "LVS_"}, {"LVS_SINGLESEL", LVS_SINGLESEL, "LVS_"},
    {"LVS_SHOWSELALWAYS", LVS_SHOWSELALWAYS, "LVS_"}, {"LVS_NOLABELWRAP", LVS_NOLABELWRAP, "LVS_"},
    {"LVS_NOCOLUMNHEADER", LVS_NOCOLUMNHEADER, "LVS_"}, {"LVS_NOSORTHEADER", LVS_NOSORTHEADER, "LVS_"},
    {"TVS_HASBUTTONS", TVS_HASBUTTONS, "TVS_"}, {"TVS_HASLINES", TVS_HASLINES, "TVS_"},
    {"TVS_LINESATROOT", TVS_LINESATROOT, "TVS_"}, {"TVS_SHOWSELALWAYS", TVS_SHOWSELALWAYS, "TVS_"},
    {"TVS_INFOTIP", TVS_INFOTIP, "TVS_"},
    {"SBARS_SIZEGRIP", SBARS_SIZEGRIP, "SBARS_"},
    {"TTS_ALWAYSTIP", TTS_ALWAYSTIP, "TTS_"}, {"TTS_NOPREFIX", TTS_NOPREFIX, "TTS_"},
};

const StyleName kExStyles[] = {
    {"WS_EX_DLGMODALFRAME", WS_EX_DLGMODALFRAME, "WS_EX_"}, {"WS_EX_NOPARENTNOTIFY", WS_EX_NOPARENTNOTIFY, "WS_EX_"},
    {"WS_EX_TOPMOST", WS_EX_TOPMOST, "WS_EX_"}, {"WS_EX_TRANSPARENT", WS_EX_TRANSPARENT, "WS_EX_"},
    {"WS_EX_TOOLWINDOW", WS_EX_TOOLWINDOW, "WS_EX_"}, {"WS_EX_WINDOWEDGE", WS_EX_WINDOWEDGE, "WS_EX_"},
    {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE, "WS_EX_"}, {"WS_EX_STATICEDGE", WS_EX_STATICEDGE, "WS_EX_"},
    {"WS_EX_CONTROLPARENT", WS_EX_CONTROLPARENT, "WS_EX_"}, {"WS_EX_APPWINDOW", WS_EX_APPWINDOW, "WS_EX_"},
    {"WS_EX_LAYERED", WS_EX_LAYERED, "WS_EX_"},
};

// The style prefix each built-in class takes besides WS_.
const char* ClassPrefix(const std::string& className) {
    std::string c = detail::Lower(className);
    if (c.empty() || c == "#32770") return "DS_";
    if (c == "button") return "BS_";
    if (c == "static") return "SS_";
    if (c == "edit") return "ES_";
    if (c == "combobox") return "CBS_";
    if (c == "listbox") return "LBS_";
    if (c == "msctls_trackbar32") return "TBS_";
    if (c == "msctls_progress32") return "PBS_";
    if (c == "syslistview32") return "LVS_";
    if (c == "systreeview32") return "TVS_";
    if (c == "systabcontrol32") return "TCS_";
    if (c == "msctls_statusbar32") return "SBARS_";
    if (c == "tooltips_class32") return "TTS_";
    return "";
}

bool ParseNumber(const std::string& text, long long& out) {
    const char* b = text.data();
    const char* e = b + text.size();
    int base = 10;
    bool negative = false;
    if (b < e && *b == '-') {
        negative = true;
        ++b;
    }
    if (e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) {
        b += 2;
        base = 16;
    }
    if (b == e) return false;
    auto [p, ec] = std::from_chars(b, e, out, base);
    if (ec != std::errc() || p != e) return false;
    if (negative) out = -out;
    return true;
}

// The resource files are read with libxml2 directly: this layer sits below the program's own XML
// class.
struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Document = std::unique_ptr<xmlDoc, DocFree>;

void InitXml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

xmlNode* Root(const Document& doc) { return doc ? xmlDocGetRootElement(doc.get()) : nullptr; }
std::string NameOf(const xmlNode* n) { return n && n->name ? reinterpret_cast<const char*>(n->name) : ""; }

// An attribute's text; fallback when it is missing or empty.
const char* Attr(xmlNode* n, const char* name, const char* fallback) {
    xmlAttr* a = n ? xmlHasProp(n, reinterpret_cast<const xmlChar*>(name)) : nullptr;
    if (!a || a->type != XML_ATTRIBUTE_NODE || !a->children || !a->children->content) return fallback;
    const char* v = reinterpret_cast<const char*>(a->children->content);
    return *v ? v : fallback;
}

// A resource file; null when it cannot be read or is not well-formed.
Document ReadFile(const std::filesystem::path& path) {
    InitXml();
    return Document(xmlReadFile(path.string().c_str(), nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET));
}

bool IntAttr(xmlNode* node, const char* name, int& out, bool required, const std::string& where,
             std::string& error) {
    const char* v = Attr(node, name, nullptr);
    if (!v) {
        if (required) error = where + ": the attribute \"" + name + "\" is missing";
        return !required;
    }
    long long n = 0;
    if (!ParseNumber(v, n) || n < INT32_MIN || n > INT32_MAX) {
        error = where + ": the attribute \"" + name + "\" is not a number: \"" + v + "\"";
        return false;
    }
    out = static_cast<int>(n);
    return true;
}

bool StyleAttr(xmlNode* node, const char* name, const std::string& className, bool extended, DWORD& out,
               const std::string& where, std::string& error) {
    const char* v = Attr(node, name, nullptr);
    if (!v) return true;
    std::string problem;
    if (!ParseStyleNames(v, className, extended, out, problem)) {
        error = where + ": " + problem;
        return false;
    }
    return true;
}

bool ParseDialog(xmlNode* root, DialogTemplate& t, std::string& error) {
    if (!root || NameOf(root) != "dialog") {
        error = "the document is not a <dialog>";
        return false;
    }
    t = DialogTemplate{};
    if (!IntAttr(root, "id", t.id, true, "dialog", error)) return false;
    const std::string where = "dialog " + std::to_string(t.id);
    t.name = Attr(root, "name", "");
    t.caption = Attr(root, "caption", "");
    if (!IntAttr(root, "x", t.x, false, where, error) || !IntAttr(root, "y", t.y, false, where, error) ||
        !IntAttr(root, "w", t.w, true, where, error) || !IntAttr(root, "h", t.h, true, where, error) ||
        !IntAttr(root, "menu", t.menuId, false, where, error) ||
        !StyleAttr(root, "style", "", false, t.style, where, error) ||
        !StyleAttr(root, "exStyle", "", true, t.exStyle, where, error))
        return false;
    for (xmlNode* n = xmlFirstElementChild(root); n; n = xmlNextElementSibling(n)) {
        const std::string element = NameOf(n);
        if (element != "control") {
            error = where + ": unknown element <" + element + ">";
            return false;
        }
        ControlTemplate c;
        if (!IntAttr(n, "id", c.id, true, where + ", a control", error)) return false;
        const std::string cw = where + ", control " + std::to_string(c.id);
        const char* cls = Attr(n, "class", nullptr);
        if (!cls) {
            error = cw + ": the attribute \"class\" is missing";
            return false;
        }
        c.className = cls;
        if (!IsKnownControlClass(nullptr, c.className)) {
            error = cw + ": unknown class \"" + c.className + "\"";
            return false;
        }
        c.caption = Attr(n, "caption", "");
        const std::string hidden = Attr(n, "hidden", "");
        c.hidden = hidden == "1" || hidden == "true";
        if (!IntAttr(n, "x", c.x, false, cw, error) || !IntAttr(n, "y", c.y, false, cw, error) ||
            !IntAttr(n, "w", c.w, true, cw, error) || !IntAttr(n, "h", c.h, true, cw, error) ||
            !StyleAttr(n, "style", c.className, false, c.style, cw, error) ||
            !StyleAttr(n, "exStyle", c.className, true, c.exStyle, cw, error))
            return false;
        t.controls.push_back(std::move(c));
    }
    error = CheckDialogTemplate(t);
    return error.empty();
}

// The document of a well-formed text; null with what is wrong and where otherwise.
Document ParseWellFormed(const std::string& text, std::string& problem) {
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        problem = "not well-formed XML: out of memory";
        return nullptr;
    }
    Document doc(xmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), "dialog.xml", nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc || !ctxt->wellFormed || !Root(doc)) {
        doc.reset();
        problem = "not well-formed XML";
        const xmlError& e = ctxt->lastError;
        if (e.message) {
            std::string message = e.message;
            while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
            problem += ": " + message + " (line " + std::to_string(e.line) + ")";
        }
    }
    xmlFreeParserCtxt(ctxt);
    return doc;
}

}  // namespace

bool IsKnownControlClass(HINSTANCE instance, const std::string& className) {
    static const std::set<std::string> builtIn = {"button", "static", "edit", "combobox", "listbox",
                                                  "msctls_trackbar32", "msctls_progress32", "syslistview32",
                                                  "systreeview32", "systabcontrol32", "msctls_statusbar32",
                                                  "tooltips_class32"};
    if (builtIn.count(detail::Lower(className))) return true;
    return detail::Running() && detail::FindClass(instance, className) != nullptr;
}

std::string CheckDialogTemplate(const DialogTemplate& t) {
    const std::string where = "dialog " + std::to_string(t.id);
    // Positions and sizes are 16-bit signed dialog units, so converting them to pixels cannot
    // overflow (templates may come from plug-ins).
    auto offRange = [](int x, int y, int w, int h) {
        for (int v : {x, y, w, h})
            if (v < -32768 || v > 32767) return true;
        return false;
    };
    if (offRange(t.x, t.y, t.w, t.h)) return where + ": a position or size is out of range";
    std::set<int> seen;
    for (const auto& c : t.controls) {
        const std::string cw = where + ", control " + std::to_string(c.id);
        if (c.id != kAnonymousControlId && (c.id < 0 || c.id > 0xFFFF)) return cw + ": the id is out of range";
        if (offRange(c.x, c.y, c.w, c.h)) return cw + ": a position or size is out of range";
        if (c.className.empty()) return cw + ": no class";
        if (c.id != kAnonymousControlId && !seen.insert(c.id).second) return cw + ": the id is used twice";
        const std::string cls = detail::Lower(c.className);
        if ((cls == "combobox" && (c.style & CBS_SORT)) || (cls == "listbox" && (c.style & LBS_SORT)) ||
            (cls == "syslistview32" && (c.style & (LVS_SORTASCENDING | LVS_SORTDESCENDING))))
            return cw + ": sorted lists are not supported";
    }
    return {};
}

bool ParseStyleNames(const std::string& text, const std::string& className, bool extended, DWORD& out,
                     std::string& error) {
    DWORD value = 0;
    const char* own = ClassPrefix(className);
    std::string word;
    auto flush = [&]() -> bool {
        if (word.empty()) return true;
        long long n = 0;
        if (ParseNumber(word, n)) {
            if (n < 0 || n > 0xFFFFFFFFll) {
                error = "style number out of range: " + word;
                return false;
            }
            value |= static_cast<DWORD>(n);
            word.clear();
            return true;
        }
        if (word == "CBS_SORT" || word == "LBS_SORT" || word == "LVS_SORTASCENDING" || word == "LVS_SORTDESCENDING") {
            error = "sorted lists are not supported (" + word + ")";
            return false;
        }
        bool found = false;
        const StyleName* begin = extended ? std::begin(kExStyles) : std::begin(kStyles);
        const StyleName* end = extended ? std::end(kExStyles) : std::end(kStyles);
        for (const StyleName* s = begin; s != end; ++s) {
            if (word != s->name) continue;
            const std::string prefix = s->prefix;
            if (prefix != "WS_" && prefix != "WS_EX_" && prefix != own) {
                error = "the style " + word + " does not fit the class \"" + (className.empty() ? "dialog" : className) + "\"";
                return false;
            }
            value |= s->value;
            found = true;
            break;
        }
        if (!found) {
            error = "unknown style " + word;
            return false;
        }
        word.clear();
        return true;
    };
    for (char ch : text) {
        if (ch == ' ' || ch == '|' || ch == '\t' || ch == '\n' || ch == '\r' || ch == ',') {
            if (!flush()) return false;
        } else {
            word += ch;
        }
    }
    if (!flush()) return false;
    out = value;
    return true;
}

namespace {

// Reads text strictly: a resource must be whole, never what stands before a cut or an unclosed
// element. Null with the reason in error otherwise.
Document ReadStrict(const std::string& text, std::string& error) {
    InitXml();
    if (text.empty() || text.size() > static_cast<size_t>(INT32_MAX)) {
        error = "the text is not XML";
        return nullptr;
    }
    return ParseWellFormed(text, error);
}

bool ParseMenuItems(xmlNode* parent, std::vector<MenuItemTemplate>& items, const std::string& where,
                    std::string& error, int depth) {
    if (depth > 16) {
        error = where + ": popups nest too deep";
        return false;
    }
    for (xmlNode* n = xmlFirstElementChild(parent); n; n = xmlNextElementSibling(n)) {
        const std::string element = NameOf(n);
        MenuItemTemplate item;
        if (element == "separator") {
            item.separator = true;
        } else if (element == "item" || element == "popup") {
            item.popup = element == "popup";
            item.text = Attr(n, "text", "");
            if (const char* shortcut = Attr(n, "shortcut", nullptr)) item.text += std::string("\t") + shortcut;
            item.checked = std::string(Attr(n, "checked", "")) == "1";
            item.grayed = std::string(Attr(n, "grayed", "")) == "1";
            if (!IntAttr(n, "id", item.id, !item.popup, where + ", item \"" + item.text + "\"", error)) return false;
            if (item.popup &&
                !ParseMenuItems(n, item.items, where + ", popup \"" + item.text + "\"", error, depth + 1))
                return false;
        } else {
            error = where + ": unknown element <" + element + ">";
            return false;
        }
        items.push_back(std::move(item));
    }
    return true;
}

bool ParseMenu(xmlNode* root, MenuTemplate& t, std::string& error) {
    if (!root || NameOf(root) != "menu") {
        error = "the document is not a <menu>";
        return false;
    }
    t = MenuTemplate{};
    if (!IntAttr(root, "id", t.id, true, "menu", error)) return false;
    t.name = Attr(root, "name", "");
    return ParseMenuItems(root, t.items, "menu " + std::to_string(t.id), error, 0);
}

struct KeyName {
    const char* name;
    WORD vk;
};

const KeyName kKeys[] = {
    {"VK_BACK", VK_BACK},     {"VK_TAB", VK_TAB},       {"VK_RETURN", VK_RETURN}, {"VK_ESCAPE", VK_ESCAPE},
    {"VK_SPACE", VK_SPACE},   {"VK_PRIOR", VK_PRIOR},   {"VK_NEXT", VK_NEXT},     {"VK_END", VK_END},
    {"VK_HOME", VK_HOME},     {"VK_LEFT", VK_LEFT},     {"VK_UP", VK_UP},         {"VK_RIGHT", VK_RIGHT},
    {"VK_DOWN", VK_DOWN},     {"VK_INSERT", VK_INSERT}, {"VK_DELETE", VK_DELETE}, {"VK_ADD", 0x6B},
    {"VK_SUBTRACT", 0x6D},    {"VK_MULTIPLY", 0x6A},    {"VK_DIVIDE", 0x6F},
};

bool ParseKey(const std::string& text, WORD& vk) {
    for (const auto& k : kKeys)
        if (text == k.name) return vk = k.vk, true;
    if (text.size() >= 4 && text.compare(0, 4, "VK_F") == 0) {
        long long n = 0;
        if (ParseNumber(text.substr(4), n) && n >= 1 && n <= 24) return vk = static_cast<WORD>(VK_F1 + n - 1), true;
    }
    if (text.size() == 1 && std::isalnum(static_cast<unsigned char>(text[0])))
        return vk = static_cast<WORD>(std::toupper(static_cast<unsigned char>(text[0]))), true;
    return false;
}

bool ParseAccelerators(xmlNode* root, AcceleratorTable& t, std::string& error) {
    if (!root || NameOf(root) != "accelerators") {
        error = "the document is not <accelerators>";
        return false;
    }
    t = AcceleratorTable{};
    if (!IntAttr(root, "id", t.id, true, "accelerators", error)) return false;
    const std::string where = "accelerators " + std::to_string(t.id);
    for (xmlNode* n = xmlFirstElementChild(root); n; n = xmlNextElementSibling(n)) {
        if (NameOf(n) != "accel") {
            error = where + ": unknown element <" + NameOf(n) + ">";
            return false;
        }
        ACCEL a;
        const std::string key = Attr(n, "key", "");
        if (!ParseKey(key, a.key)) {
            error = where + ": unknown key \"" + key + "\"";
            return false;
        }
        int cmd = 0;
        if (!IntAttr(n, "cmd", cmd, true, where + ", key " + key, error)) return false;
        if (cmd <= 0 || cmd > 0xFFFF) {
            error = where + ", key " + key + ": the command is out of range";
            return false;
        }
        a.cmd = static_cast<WORD>(cmd);
        std::string word;
        std::string mods = Attr(n, "mods", "");
        mods += ' ';
        for (char ch : mods) {
            if (ch != ' ') {
                word += ch;
                continue;
            }
            if (word == "ctrl") a.fVirt |= FCONTROL;
            else if (word == "shift") a.fVirt |= FSHIFT;
            else if (word == "alt") a.fVirt |= FALT;
            else if (!word.empty()) {
                error = where + ", key " + key + ": unknown modifier \"" + word + "\"";
                return false;
            }
            word.clear();
        }
        t.entries.push_back(a);
    }
    return true;
}

template <class T>
std::shared_ptr<const T> FindIn(std::mutex& m, const std::map<int, std::shared_ptr<const T>>& map, int id) {
    std::lock_guard lk(m);
    auto it = map.find(id);
    return it == map.end() ? nullptr : it->second;
}

template <class T>
std::vector<int> IdsOf(std::mutex& m, const std::map<int, std::shared_ptr<const T>>& map) {
    std::lock_guard lk(m);
    std::vector<int> ids;
    for (const auto& [id, t] : map) ids.push_back(id);
    return ids;
}

// Reads <dir>/<id>-<name>.xml files with parse; the file name's prefix must be the id.
template <class T, class Parse>
std::map<int, std::shared_ptr<const T>> LoadFiles(const std::filesystem::path& dir, Parse parse,
                                                  std::vector<std::string>& problems) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> files;
    if (fs::is_directory(dir, ec)) {
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.path().extension() == ".xml") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    // The files are read and parsed on a few threads at once (they are on the road of the
    // program's start), then checked in order.
    struct Parsed {
        T t;
        std::string problem;
    };
    std::vector<Parsed> parsed(files.size());
    InitXml();
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            const Document doc = ReadFile(files[i]);
            if (!Root(doc)) parsed[i].problem = "not well-formed XML";
            else parse(Root(doc), parsed[i].t, parsed[i].problem);
        }
    };
    {
        std::vector<std::jthread> helpers;
        const size_t count = std::min<size_t>(files.size() / 8, std::max(1u, std::thread::hardware_concurrency()) - 1);
        for (size_t h = 0; h < count; ++h) helpers.emplace_back(work);
        work();
    }
    std::map<int, std::shared_ptr<const T>> found;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::filesystem::path& path = files[i];
        const std::string name = path.filename().string();
        T& t = parsed[i].t;
        std::string& problem = parsed[i].problem;
        if (problem.empty()) {
            const std::string stem = path.stem().string();
            const std::string prefix = stem.substr(0, stem.find('-'));
            if (prefix != std::to_string(t.id))
                problem = "the file name does not start with the id " + std::to_string(t.id);
            else if (found.count(t.id))
                problem = "the id " + std::to_string(t.id) + " is used by another file";
        }
        if (!problem.empty()) {
            problems.push_back(name + ": " + problem);
            continue;
        }
        int id = t.id;
        found[id] = std::make_shared<const T>(std::move(t));
    }
    return found;
}

// images.xml: each picture's id, type and file (relative to the folder), read whole.
std::map<int, std::shared_ptr<const ImageResource>> LoadImages(const std::filesystem::path& folder,
                                                               std::vector<std::string>& problems) {
    std::map<int, std::shared_ptr<const ImageResource>> found;
    const auto list = folder / "images.xml";
    std::error_code ec;
    if (!std::filesystem::exists(list, ec)) return found;
    const Document doc = ReadFile(list);
    xmlNode* root = Root(doc);
    if (!root || NameOf(root) != "images") {
        problems.push_back("images.xml: not a well-formed <images> list");
        return found;
    }
    for (xmlNode* n = xmlFirstElementChild(root); n; n = xmlNextElementSibling(n)) {
        ImageResource image;
        std::string problem;
        const std::string file = Attr(n, "file", "");
        image.type = Attr(n, "type", "");
        if (!IntAttr(n, "id", image.id, true, "images.xml, an image", problem)) {
            // problem says what is wrong with the id
        } else if (image.type != "png" && image.type != "bmp") {
            problem = "image " + std::to_string(image.id) + ": unknown type \"" + image.type + "\"";
        } else if (file.empty() || file.find("..") != std::string::npos || file[0] == '/') {
            problem = "image " + std::to_string(image.id) + ": the file must lie in the resource folder";
        } else if (found.count(image.id)) {
            problem = "image " + std::to_string(image.id) + ": the id is used twice";
        } else {
            std::ifstream in(folder / file, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            if (!in) problem = "image " + std::to_string(image.id) + ": cannot read " + file;
            image.bytes = bytes.str();
        }
        if (!problem.empty()) {
            problems.push_back(problem.rfind("images.xml", 0) == 0 ? problem : "images.xml: " + problem);
            continue;
        }
        int id = image.id;
        found[id] = std::make_shared<const ImageResource>(std::move(image));
    }
    return found;
}

}  // namespace

bool ParseDialogXml(const std::string& text, DialogTemplate& out, std::string& error) {
    const Document doc = ReadStrict(text, error);
    return doc && ParseDialog(Root(doc), out, error);
}

bool ParseMenuXml(const std::string& text, MenuTemplate& out, std::string& error) {
    const Document doc = ReadStrict(text, error);
    return doc && ParseMenu(Root(doc), out, error);
}

bool ParseAcceleratorsXml(const std::string& text, AcceleratorTable& out, std::string& error) {
    const Document doc = ReadStrict(text, error);
    return doc && ParseAccelerators(Root(doc), out, error);
}

void LiteralResources::Add(DialogTemplate t) {
    std::lock_guard lk(m_);
    int id = t.id;
    dialogs_[id] = std::make_shared<const DialogTemplate>(std::move(t));
}

void LiteralResources::Add(MenuTemplate t) {
    std::lock_guard lk(m_);
    int id = t.id;
    menus_[id] = std::make_shared<const MenuTemplate>(std::move(t));
}

void LiteralResources::Add(AcceleratorTable t) {
    std::lock_guard lk(m_);
    int id = t.id;
    accelerators_[id] = std::make_shared<const AcceleratorTable>(std::move(t));
}

void LiteralResources::Add(ImageResource t) {
    std::lock_guard lk(m_);
    int id = t.id;
    images_[id] = std::make_shared<const ImageResource>(std::move(t));
}

std::shared_ptr<const ImageResource> LiteralResources::FindImage(HINSTANCE, int id) const { return FindIn(m_, images_, id); }

std::shared_ptr<const DialogTemplate> LiteralResources::FindDialog(HINSTANCE, int id) const {
    return FindIn(m_, dialogs_, id);
}
std::shared_ptr<const MenuTemplate> LiteralResources::FindMenu(HINSTANCE, int id) const { return FindIn(m_, menus_, id); }
std::shared_ptr<const AcceleratorTable> LiteralResources::FindAccelerators(HINSTANCE, int id) const {
    return FindIn(m_, accelerators_, id);
}

bool XmlResourceFolder::Load(const std::string& folder, std::string& error) {
    namespace fs = std::filesystem;
    std::vector<std::string> problems;
    auto dialogs = LoadFiles<DialogTemplate>(fs::path(folder) / "dialogs", ParseDialog, problems);
    auto menus = LoadFiles<MenuTemplate>(fs::path(folder) / "menus", ParseMenu, problems);
    std::map<int, std::shared_ptr<const AcceleratorTable>> accelerators;
    const fs::path accelPath = fs::path(folder) / "accelerators.xml";
    std::error_code ec;
    if (fs::exists(accelPath, ec)) {
        AcceleratorTable t;
        std::string problem;
        const Document doc = ReadFile(accelPath);
        if (!Root(doc)) problem = "not well-formed XML";
        else ParseAccelerators(Root(doc), t, problem);
        if (problem.empty()) {
            int id = t.id;
            accelerators[id] = std::make_shared<const AcceleratorTable>(std::move(t));
        } else {
            problems.push_back("accelerators.xml: " + problem);
        }
    }
    auto images = LoadImages(fs::path(folder), problems);
    {
        std::lock_guard lk(m_);
        dialogs_ = std::move(dialogs);
        menus_ = std::move(menus);
        accelerators_ = std::move(accelerators);
        images_ = std::move(images);
    }
    error.clear();
    for (const auto& p : problems) error += (error.empty() ? "" : "\n") + p;
    return problems.empty();
}

std::shared_ptr<const DialogTemplate> XmlResourceFolder::FindDialog(HINSTANCE, int id) const {
    return FindIn(m_, dialogs_, id);
}
std::shared_ptr<const MenuTemplate> XmlResourceFolder::FindMenu(HINSTANCE, int id) const {
    return FindIn(m_, menus_, id);
}
std::shared_ptr<const AcceleratorTable> XmlResourceFolder::FindAccelerators(HINSTANCE, int id) const {
    return FindIn(m_, accelerators_, id);
}
std::shared_ptr<const ImageResource> XmlResourceFolder::FindImage(HINSTANCE, int id) const {
    return FindIn(m_, images_, id);
}

namespace {
std::mutex g_modulesLock;
std::map<uintptr_t, ResourceDataFn> g_modules;
}  // namespace

void RegisterResourceModule(HINSTANCE module, ResourceDataFn fn) {
    std::lock_guard lk(g_modulesLock);
    if (fn) g_modules[reinterpret_cast<uintptr_t>(module)] = std::move(fn);
    else g_modules.erase(reinterpret_cast<uintptr_t>(module));
}

std::optional<std::string> LoadResourceBytes(HINSTANCE instance, int id) {
    ResourceDataFn fn;
    {
        std::lock_guard lk(g_modulesLock);
        auto it = g_modules.find(reinterpret_cast<uintptr_t>(instance));
        if (it != g_modules.end()) fn = it->second;
    }
    if (fn) return fn(id);
    auto provider = GetResourceProvider();
    auto image = provider ? provider->FindImage(instance, id) : nullptr;
    if (!image) return std::nullopt;
    return image->bytes;
}

std::vector<int> XmlResourceFolder::DialogIds() const { return IdsOf(m_, dialogs_); }
std::vector<int> XmlResourceFolder::MenuIds() const { return IdsOf(m_, menus_); }

}  // namespace gui
