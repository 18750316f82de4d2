// CXML: the one XML document class. A libxml2 tree with a current-node cursor, absolute XPath
// lookup, typed reads and writes of node text and attributes, loading from a file, memory or a
// URL, saving and dumping, and a per-document re-entrant lock. Beside it, three helpers that write
// or scan XML text without building a tree.
//
// Node handles are opaque: callers pass them back (SetCurrentNode, the node argument of the
// attribute getters) but never look inside. Strings returned by getters point into the tree and
// stay valid until that node changes or the document is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct _xmlNode;
struct _xmlDoc;
struct _xmlAttr;

using XmlNode = struct _xmlNode*;
using XmlAttr = struct _xmlAttr*;
using XmlDoc = struct _xmlDoc*;

namespace platform {
class RecursiveMutex;
}

class CXML {
public:
    CXML();
    // Opens the path when one is given (check the result with a later goRoot or by doc).
    explicit CXML(const char* path);
    ~CXML();

    // A document owns its tree: copying would free it twice. Moving hands it over.
    CXML(const CXML&) = delete;
    CXML& operator=(const CXML&) = delete;
    CXML(CXML&& other) noexcept;
    CXML& operator=(CXML&& other) noexcept;

    // Frees the dump buffer, the tree and the remembered path. The lock stays.
    void Close();

    // Parser library set-up and release, once per process.
    static void Init();
    static void Cleanup();

    // --- loading and saving ---

    // Discards what is loaded and makes a new document with one root element; cursor = root.
    // With an href, an xml-stylesheet processing instruction precedes the root.
    void New(const char* version, const char* rootName, const char* href = nullptr);
    // Loads a file (strict) or, for a path containing "://", fetches it and parses the body.
    // The same path as the one loaded last is not read again: the cursor returns to the root.
    // 0, or -1 with the object left empty.
    int Open(const char* path);
    // Parses text in recover mode. length 0: up to the terminating NUL; baseUrl null: "data.xml".
    int Read(const char* text, int length = 0, const char* baseUrl = nullptr, const char* encoding = nullptr);
    // Writes the tree unindented. A non-null encoding writes UTF-8; null keeps the document's own.
    // Bytes written, or -1.
    int Save(const char* path, const char* encoding = nullptr);
    // Serialises with indentation into the object's own buffer and hands out its address.
    // Length in bytes.
    int Dump(char** out, const char* encoding = nullptr);

    // --- cursor ---

    // Evaluates an XPath expression on the whole document; the index-th match becomes the cursor.
    XmlNode goToKey(const char* xpath, int index = 0);
    XmlNode goRoot();
    XmlNode goNext();
    XmlNode goPrev();
    XmlNode goFirst();
    XmlNode goChild();
    XmlNode goParent();
    void SetCurrentNode(XmlNode node);
    int getChildCount();

    // Element search by name and, when both are given, an attribute value (missing = "").
    XmlNode findNextNode(const char* name, const char* attrName = nullptr, const char* attrValue = nullptr);
    XmlNode findNode(const char* name, const char* attrName = nullptr, const char* attrValue = nullptr);
    XmlNode findChildNode(const char* name, const char* attrName = nullptr, const char* attrValue = nullptr);
    bool isMatched(const char* name);
    bool isAttrMatched(const char* attrName, const char* value);

    // --- reading ---

    const char* getNodeName();
    // The index-th text or CDATA child, leading blanks skipped; null when none or blank.
    const char* getNodeValue(int index = 0);
    int getNodeValueInt();
    // Value of a sibling element with that name, searched around the cursor (which moves to it).
    const char* getNodeValueByName(const char* name, const char* defValue = nullptr);
    // Attribute of node (null: the cursor); the default when missing or empty.
    const char* getAttribute(const char* name, const char* defValue = nullptr, XmlNode node = nullptr);
    int getAttributeInt(const char* name, int defValue = 0, XmlNode node = nullptr);
    float getAttributeFloat(const char* name, float defValue = 0.0f, XmlNode node = nullptr);

    // --- writing ---

    void setNodeName(const char* name);
    // Replaces the cursor's content. The text form takes XML content: "&" starts an entity
    // reference. User data goes through setNodeText.
    void setNodeValue(const char* text);
    void setNodeValue(int value);
    void setNodeValue(float value);
    // Replaces the cursor's content with plain text: escaped, characters XML cannot hold dropped.
    void setNodeText(const char* text);

    // Appends an empty element child and makes it the cursor.
    XmlNode addChild(const char* name);
    // Appends an element child with that content (XML content, as setNodeValue); cursor stays.
    XmlNode addChild(const char* name, const char* text);
    XmlNode addChild(const char* name, int value);
    XmlNode addChild(const char* name, uint64_t value);
    XmlNode addChild(const char* name, float value);
    XmlNode addChild(const char* name, double value);
    // Appends an element child holding plain text (escaped, characters XML cannot hold dropped);
    // the cursor stays. The form for user data.
    XmlNode addTextChild(const char* name, const char* text);
    // Appends a text node (escaped) to the cursor.
    XmlNode addText(const char* text);
    XmlAttr addAttribute(const char* name, const char* value);
    XmlAttr setAttribute(const char* name, const char* value);
    XmlAttr setAttribute(const char* name, int value);
    XmlAttr setAttribute(const char* name, float value);

    // Unlinks and frees the cursor's node; the cursor moves to its element parent (or null).
    XmlNode removeNode();

    // The document's re-entrant lock.
    void Lock();
    void Unlock();

    // The five fields, in the order the class has always had them.
    XmlNode node = nullptr;                          // cursor
    XmlDoc doc = nullptr;                            // the tree; null when nothing is loaded
    char* dumpBuffer = nullptr;                      // last Dump text (libxml2 allocation)
    char* path = nullptr;                            // path or URL last loaded or saved
    std::unique_ptr<platform::RecursiveMutex> mutex; // made by the constructor, never replaced
};

// Saves the document as UTF-8 over path through platform::ReplaceFileDurably: a failed or
// interrupted save leaves the old file whole and at most "<path>.tmp" beside it. Bytes written,
// or -1.
int SaveXmlFileSafely(CXML& xml, const char* path);

// Writes '<?xml version="v.v" encoding="..."?>\n' (and a stylesheet instruction when href is given)
// at *pos, bounded by *room (a NUL always fits in it); advances *pos and shrinks *room by what was
// stored. version in tenths (10 = "1.0"); encoding null = "utf-8". Characters stored.
int WriteXmlHeader(char** pos, int* room, int version, const char* encoding = nullptr, const char* href = nullptr);
// Writes 2 blanks per indent level, the text (as markup: escape data first) and "\n", bounded as above.
void WriteXmlString(char** pos, int* room, int indent, const char* text);
// Walks a nesting path of plain "<name>" tags through XML text. values[i] receives the position
// just after "<names[i]>" (not terminated). 0 when the whole path was found, -1 otherwise.
int GetXMLValue(const char* text, const char* const* names, const char** values);

// Escapes & < > " ' as entities and drops the characters XML 1.0 cannot hold (controls other
// than tab, line feed and carriage return; invalid UTF-8). For user data in hand-written XML.
std::string XmlEscape(const char* text);
// Drops the characters XML 1.0 cannot hold, escapes nothing.
std::string XmlStripInvalid(const char* text);
