#include "common/xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/xml_fetch.h"
#include "platform/fs.h"
#include "platform/numtext.h"
#include "platform/sync.h"

namespace {

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const char* C(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

bool IsElement(const xmlNode* n) { return n && n->type == XML_ELEMENT_NODE; }
bool IsText(const xmlNode* n) { return n && (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE); }

char* CopyString(const char* s) {
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char* p = static_cast<char*>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

const char* SkipBlanks(const char* s) {
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r') ++s;
    return s;
}

// The value of an attribute as its single text child; null when missing or empty.
const char* AttrText(xmlNode* n, const char* name) {
    if (!n || !name) return nullptr;
    xmlAttr* a = xmlHasProp(n, X(name));
    if (!a || a->type != XML_ATTRIBUTE_NODE || !a->children || !a->children->content) return nullptr;
    const char* v = C(a->children->content);
    return *v ? v : nullptr;
}

bool Matches(xmlNode* n, const char* name, const char* attrName, const char* attrValue) {
    if (!IsElement(n) || !name || !xmlStrEqual(n->name, X(name))) return false;
    if (!attrName || !attrValue) return true;
    const char* v = AttrText(n, attrName);
    return std::strcmp(v ? v : "", attrValue) == 0;
}

// "<?xml-stylesheet?>" content with the href quoted safely: a request parameter may carry it.
std::string StylesheetContent(const char* href) {
    return std::string("type=\"text/xsl\" href=\"") + XmlEscape(href) + "\"";
}

// Stores at most *room - 1 characters of s and a NUL; advances by what was stored.
int PutBounded(char** pos, int* room, const std::string& s) {
    if (!pos || !*pos || !room || *room <= 0) return 0;
    size_t fit = static_cast<size_t>(*room - 1);
    size_t n = s.size() < fit ? s.size() : fit;
    std::memcpy(*pos, s.data(), n);
    (*pos)[n] = '\0';
    *pos += n;
    *room -= static_cast<int>(n);
    return static_cast<int>(n);
}

// Length of a valid UTF-8 sequence at s holding a character XML 1.0 allows; 0 otherwise.
size_t AllowedCharLength(const unsigned char* s, size_t left) {
    unsigned c = s[0];
    if (c < 0x80) return (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D) ? 1 : 0;
    size_t len;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
    else return 0;
    if (len > left) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    static const unsigned kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len]) return 0;                      // overlong
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;        // surrogate
    if (cp == 0xFFFE || cp == 0xFFFF || cp > 0x10FFFF) return 0;
    return len;
}

std::string Filter(const char* text, bool escape) {
    std::string out;
    if (!text) return out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t left = std::strlen(text);
    out.reserve(left);
    while (left) {
        size_t n = AllowedCharLength(s, left);
        if (n == 0) { ++s; --left; continue; }
        if (escape && n == 1) {
            switch (*s) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&apos;"; break;
                default: out += static_cast<char>(*s);
            }
        } else {
            out.append(reinterpret_cast<const char*>(s), n);
        }
        s += n;
        left -= n;
    }
    return out;
}

std::once_flag g_initOnce;

}  // namespace

std::string XmlEscape(const char* text) { return Filter(text, true); }
std::string XmlStripInvalid(const char* text) { return Filter(text, false); }

// --- life cycle ---

CXML::CXML() : mutex(std::make_unique<platform::RecursiveMutex>()) { Init(); }

CXML::CXML(const char* p) : CXML() {
    if (p) Open(p);
}

CXML::~CXML() { Close(); }

CXML::CXML(CXML&& other) noexcept
    : node(other.node), doc(other.doc), dumpBuffer(other.dumpBuffer), path(other.path),
      mutex(std::move(other.mutex)) {
    other.node = nullptr;
    other.doc = nullptr;
    other.dumpBuffer = nullptr;
    other.path = nullptr;
    other.mutex = std::make_unique<platform::RecursiveMutex>();
}

CXML& CXML::operator=(CXML&& other) noexcept {
    if (this != &other) {
        Close();
        node = other.node;
        doc = other.doc;
        dumpBuffer = other.dumpBuffer;
        path = other.path;
        other.node = nullptr;
        other.doc = nullptr;
        other.dumpBuffer = nullptr;
        other.path = nullptr;
        mutex.swap(other.mutex);
    }
    return *this;
}

void CXML::Close() {
    if (dumpBuffer) xmlFree(dumpBuffer);
    dumpBuffer = nullptr;
    if (doc) xmlFreeDoc(doc);
    doc = nullptr;
    std::free(path);
    path = nullptr;
    node = nullptr;  // it pointed into the freed tree
}

void CXML::Init() {
    std::call_once(g_initOnce, [] { xmlInitParser(); });
}

void CXML::Cleanup() { xmlCleanupParser(); }

// --- loading and saving ---

void CXML::New(const char* version, const char* rootName, const char* href) {
    Close();
    doc = xmlNewDoc(X(version ? version : "1.0"));
    if (!doc) return;
    xmlNode* root = xmlNewDocNode(doc, nullptr, X(rootName ? rootName : "root"), nullptr);
    xmlDocSetRootElement(doc, root);
    node = root;
    if (href) {
        std::string content = StylesheetContent(href);
        xmlNode* pi = xmlNewDocPI(doc, X("xml-stylesheet "), X(content.c_str()));
        if (pi) xmlAddPrevSibling(root, pi);
    }
}

int CXML::Open(const char* p) {
    if (!p) return -1;
    if (path && doc && std::strcmp(path, p) == 0) {
        node = xmlDocGetRootElement(doc);
        return 0;
    }
    Close();
    if (std::strstr(p, "://")) {
        std::string body;
        if (!XmlFetch(p, &body) || body.empty()) return -1;
        if (Read(body.c_str(), static_cast<int>(body.size()), p, nullptr) != 0) return -1;
    } else {
        doc = xmlReadFile(p, nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET);
    }
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!root) {
        Close();
        return -1;
    }
    path = CopyString(p);
    node = root;
    return 0;
}

int CXML::Read(const char* text, int length, const char* baseUrl, const char* encoding) {
    Close();
    if (!text) return -1;
    size_t len = length > 0 ? static_cast<size_t>(length) : std::strlen(text);
    if (len > static_cast<size_t>(INT32_MAX)) return -1;
    doc = xmlReadMemory(text, static_cast<int>(len), baseUrl ? baseUrl : "data.xml", encoding,
                        XML_PARSE_RECOVER | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET);
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!root) {
        Close();
        return -1;
    }
    node = root;
    return 0;
}

int CXML::Save(const char* p, const char* encoding) {
    if (!p || !doc) return -1;
    int written = xmlSaveFormatFileEnc(p, doc, encoding ? "UTF-8" : nullptr, 0);
    std::free(path);
    path = written >= 0 ? CopyString(p) : nullptr;
    return written;
}

int CXML::Dump(char** out, const char* encoding) {
    if (dumpBuffer) xmlFree(dumpBuffer);
    dumpBuffer = nullptr;
    if (out) *out = nullptr;
    if (!doc) return 0;
    xmlChar* buf = nullptr;
    int len = 0;
    const char* enc = encoding ? encoding : C(doc->encoding);
    xmlDocDumpFormatMemoryEnc(doc, &buf, &len, enc, 1);
    dumpBuffer = reinterpret_cast<char*>(buf);
    if (out) *out = dumpBuffer;
    return dumpBuffer ? len : 0;
}

// --- cursor ---

XmlNode CXML::goToKey(const char* xpath, int index) {
    if (!doc || !xpath) return nullptr;
    xmlXPathContext* ctx = xmlXPathNewContext(doc);
    if (!ctx) {
        std::fputs("Error in xmlXPathNewContext\n", stdout);
        return nullptr;
    }
    xmlXPathObject* result = xmlXPathEvalExpression(X(xpath), ctx);
    xmlXPathFreeContext(ctx);
    if (!result) {
        std::fputs("Error in xmlXPathEvalExpression\n", stdout);
        return nullptr;
    }
    xmlNode* found = nullptr;
    if (result->type == XPATH_NODESET && result->nodesetval && index >= 0 &&
        result->nodesetval->nodeNr > index)
        found = result->nodesetval->nodeTab[index];
    // A namespace node of a result is a copy that dies with the result: never a cursor.
    if (found && found->type == XML_NAMESPACE_DECL) found = nullptr;
    xmlXPathFreeObject(result);
    if (found) node = found;
    return found;
}

XmlNode CXML::goRoot() {
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (root) node = root;
    return root;
}

XmlNode CXML::goNext() {
    if (!node) return nullptr;
    xmlNode* n = xmlNextElementSibling(node);
    if (n) node = n;
    return n;
}

XmlNode CXML::goPrev() {
    if (!node) return nullptr;
    xmlNode* n = xmlPreviousElementSibling(node);
    if (n) node = n;
    return n;
}

XmlNode CXML::goFirst() {
    if (!node) return nullptr;
    xmlNode* n = node;
    while (n->prev) n = n->prev;
    while (n && !IsElement(n)) n = n->next;
    if (n) node = n;
    return n;
}

XmlNode CXML::goChild() {
    if (!node) return nullptr;
    xmlNode* n = xmlFirstElementChild(node);
    if (n) node = n;
    return n;
}

XmlNode CXML::goParent() {
    if (!node) return nullptr;
    xmlNode* n = node->parent;
    while (n && !IsElement(n)) n = n->parent;
    if (n) node = n;
    return n;
}

void CXML::SetCurrentNode(XmlNode n) { node = n; }

int CXML::getChildCount() { return node ? static_cast<int>(xmlChildElementCount(node)) : 0; }

XmlNode CXML::findNextNode(const char* name, const char* attrName, const char* attrValue) {
    if (!node) return nullptr;
    for (xmlNode* n = node->next; n; n = n->next) {
        if (Matches(n, name, attrName, attrValue)) return node = n;
    }
    return nullptr;
}

XmlNode CXML::findNode(const char* name, const char* attrName, const char* attrValue) {
    if (!node) return nullptr;
    if (xmlNode* n = findNextNode(name, attrName, attrValue)) return n;
    for (xmlNode* n = node; n; n = n->prev) {
        if (Matches(n, name, attrName, attrValue)) return node = n;
    }
    return nullptr;
}

XmlNode CXML::findChildNode(const char* name, const char* attrName, const char* attrValue) {
    if (!node) return nullptr;
    for (xmlNode* n = node->children; n; n = n->next) {
        if (Matches(n, name, attrName, attrValue)) return node = n;
    }
    return nullptr;
}

bool CXML::isMatched(const char* name) {
    return node && name && xmlStrEqual(node->name, X(name));
}

bool CXML::isAttrMatched(const char* attrName, const char* value) {
    if (!node || !attrName || !value || !xmlHasProp(node, X(attrName))) return false;
    const char* v = AttrText(node, attrName);
    return std::strcmp(v ? v : "", value) == 0;
}

// --- reading ---

const char* CXML::getNodeName() { return node ? C(node->name) : nullptr; }

const char* CXML::getNodeValue(int index) {
    if (!node || index < 0) return nullptr;
    for (xmlNode* n = node->children; n; n = n->next) {
        if (!IsText(n)) continue;
        if (index-- > 0) continue;
        if (!n->content) return nullptr;
        const char* v = SkipBlanks(C(n->content));
        return *v ? v : nullptr;
    }
    return nullptr;
}

int CXML::getNodeValueInt() {
    const char* v = getNodeValue(0);
    return v ? platform::ParseInt(v) : 0;
}

const char* CXML::getNodeValueByName(const char* name, const char* defValue) {
    if (!node || !name) return defValue;
    for (xmlNode* n = node; n; n = n->prev) {
        if (Matches(n, name, nullptr, nullptr)) {
            node = n;
            return getNodeValue(0);
        }
    }
    if (xmlNode* next = xmlNextElementSibling(node)) node = next;
    for (xmlNode* n = node; n; n = n->next) {
        if (Matches(n, name, nullptr, nullptr)) {
            node = n;
            return getNodeValue(0);
        }
    }
    for (xmlNode* n = node; n; n = n->prev) {
        if (Matches(n, name, nullptr, nullptr)) {
            node = n;
            return getNodeValue(0);
        }
    }
    return defValue;
}

const char* CXML::getAttribute(const char* name, const char* defValue, XmlNode n) {
    const char* v = AttrText(n ? n : node, name);
    return v ? v : defValue;
}

int CXML::getAttributeInt(const char* name, int defValue, XmlNode n) {
    const char* v = AttrText(n ? n : node, name);
    return v ? platform::ParseInt(v) : defValue;
}

float CXML::getAttributeFloat(const char* name, float defValue, XmlNode n) {
    const char* v = AttrText(n ? n : node, name);
    return v ? static_cast<float>(platform::ParseDouble(v)) : defValue;
}

// --- writing ---

void CXML::setNodeName(const char* name) {
    if (node && name) xmlNodeSetName(node, X(name));
}

void CXML::setNodeValue(const char* text) {
    if (node) xmlNodeSetContent(node, X(text));
}

void CXML::setNodeValue(int value) { setNodeValue(std::to_string(value).c_str()); }

void CXML::setNodeValue(float value) { setNodeValue(platform::FormatFixed(value).c_str()); }

void CXML::setNodeText(const char* text) {
    if (!node) return;
    xmlNodeSetContent(node, nullptr);
    std::string clean = XmlStripInvalid(text);
    if (!clean.empty()) xmlNodeAddContentLen(node, X(clean.c_str()), static_cast<int>(clean.size()));
}

XmlNode CXML::addChild(const char* name) {
    if (!node || !name) return nullptr;
    xmlNode* n = xmlNewChild(node, nullptr, X(name), nullptr);
    if (n) node = n;
    return n;
}

XmlNode CXML::addChild(const char* name, const char* text) {
    if (!node || !name) return nullptr;
    return xmlNewChild(node, nullptr, X(name), X(text));
}

XmlNode CXML::addChild(const char* name, int value) { return addChild(name, std::to_string(value).c_str()); }

XmlNode CXML::addChild(const char* name, uint64_t value) { return addChild(name, std::to_string(value).c_str()); }

XmlNode CXML::addChild(const char* name, float value) {
    return addChild(name, platform::FormatFixed(value).c_str());
}

XmlNode CXML::addChild(const char* name, double value) {
    return addChild(name, platform::FormatFixed(value).c_str());
}

XmlNode CXML::addTextChild(const char* name, const char* text) {
    if (!node || !name) return nullptr;
    std::string clean = XmlStripInvalid(text);
    return xmlNewTextChild(node, nullptr, X(name), text ? X(clean.c_str()) : nullptr);
}

XmlNode CXML::addText(const char* text) {
    if (!node) return nullptr;
    std::string clean = XmlStripInvalid(text);
    xmlNode* t = xmlNewDocText(doc, X(clean.c_str()));
    if (!t) return nullptr;
    xmlNode* added = xmlAddChild(node, t);
    if (!added) xmlFreeNode(t);
    return added;
}

XmlAttr CXML::addAttribute(const char* name, const char* value) {
    if (!node || !name) return nullptr;
    std::string clean = XmlStripInvalid(value);
    return xmlNewProp(node, X(name), X(clean.c_str()));
}

XmlAttr CXML::setAttribute(const char* name, const char* value) {
    if (!node || !name) return nullptr;
    std::string clean = XmlStripInvalid(value);
    return xmlSetProp(node, X(name), X(clean.c_str()));
}

XmlAttr CXML::setAttribute(const char* name, int value) {
    return setAttribute(name, std::to_string(value).c_str());
}

XmlAttr CXML::setAttribute(const char* name, float value) {
    return setAttribute(name, platform::FormatFixed(value).c_str());
}

XmlNode CXML::removeNode() {
    if (!node) return nullptr;
    xmlNode* parent = node->parent;
    while (parent && !IsElement(parent)) parent = parent->parent;
    xmlUnlinkNode(node);
    xmlFreeNode(node);
    node = parent;
    return node;
}

void CXML::Lock() { mutex->lock(); }

void CXML::Unlock() { mutex->unlock(); }

int SaveXmlFileSafely(CXML& xml, const char* path) {
    if (!path || !*path || !xml.doc) return -1;
    int written = -1;
    const bool ok = platform::ReplaceFileDurably(path, [&](int fd) {
        xmlSaveCtxtPtr save = xmlSaveToFd(fd, "UTF-8", 0);
        if (!save) return false;
        const bool saved = xmlSaveDoc(save, xml.doc) >= 0;
        written = xmlSaveClose(save);  // flushes; the bytes written, or -1 on a write error
        return saved && written >= 0;
    });
    if (!ok) return -1;
    std::free(xml.path);
    xml.path = CopyString(path);
    return written;
}

// --- text helpers ---

int WriteXmlHeader(char** pos, int* room, int version, const char* encoding, const char* href) {
    char decl[96];
    std::snprintf(decl, sizeof decl, "<?xml version=\"%d.%d\" encoding=\"", version / 10, version % 10);
    std::string text = decl;
    text += XmlEscape(encoding ? encoding : "utf-8");
    text += "\"?>\n";
    int written = PutBounded(pos, room, text);
    if (href) written += PutBounded(pos, room, "<?xml-stylesheet " + StylesheetContent(href) + "?>\n");
    return written;
}

void WriteXmlString(char** pos, int* room, int indent, const char* text) {
    if (!room || indent < 0 || *room < 2 * static_cast<int64_t>(indent)) return;
    std::string line(static_cast<size_t>(indent) * 2, ' ');
    if (text) line += text;
    line += '\n';
    PutBounded(pos, room, line);
}

int GetXMLValue(const char* text, const char* const* names, const char** values) {
    if (!names || !values) return -1;
    size_t count = 0;
    while (names[count]) values[count++] = nullptr;
    if (!text) return -1;
    const char* cur = text;
    const char* parentEnd = nullptr;
    for (size_t i = 0; i < count; ++i) {
        size_t len = std::strlen(names[i]);
        if (len > 252) return -1;
        std::string open = "<" + std::string(names[i]) + ">";
        std::string close = "</" + std::string(names[i]) + ">";
        const char* at = std::strstr(cur, open.c_str());
        if (!at) return -1;
        values[i] = at + open.size();
        cur = values[i];
        const char* end = std::strstr(cur, close.c_str());
        if (!end || (parentEnd && end > parentEnd)) return -1;
        parentEnd = end;
    }
    return 0;
}
