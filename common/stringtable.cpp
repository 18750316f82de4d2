#include "common/stringtable.h"

#include <cstring>
#include <libxml/tree.h>
#include <string>

#include "common/xml.h"
#include "platform/sysinfo.h"

namespace {

bool IsElement(CXML& xml, const char* name) {
    XmlNode n = xml.node;
    return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

// Moves the cursor to the first element child of the cursor; false when there is none.
bool FirstElementChild(CXML& xml) {
    XmlNode parent = xml.node;
    if (!parent) return false;
    for (XmlNode c = parent->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            xml.SetCurrentNode(c);
            return true;
        }
    }
    return false;
}

// Moves the cursor to the next element sibling; false when there is none.
bool NextElement(CXML& xml) {
    if (!xml.node) return false;
    for (XmlNode c = xml.node->next; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            xml.SetCurrentNode(c);
            return true;
        }
    }
    return false;
}

// An attribute of the cursor, "" when present but empty, null when missing.
const char* Attribute(CXML& xml, const char* name) {
    const char* v = xml.getAttribute(name, nullptr);
    if (v) return v;
    return xmlHasProp(xml.node, reinterpret_cast<const xmlChar*>(name)) ? "" : nullptr;
}

}  // namespace

CStringTable::CStringTable() = default;

CStringTable::~CStringTable() { Destroy(); }

int CStringTable::GetHashIndex(int c) { return c >= 'A' && c <= 'z' ? c - 'A' : -1; }

void CStringTable::Destroy() {
    for (auto& bucket : buckets_) bucket.clear();
}

int CStringTable::Load(const char* listFile, const char* module, int langIndex, char* listBuf, int listBufSize) {
    languageId_.clear();
    languageFile_.clear();
    if (listBuf && listBufSize > 0) listBuf[0] = 0;
    if (!listFile || !module) return -1;

    bool selected = false;
    {
        CXML list;
        if (list.Open(listFile) != 0 || !list.goRoot() || !IsElement(list, "languages")) return -1;
        // The code page as the list writes it, compared as text.
        const std::string systemCodePage = std::to_string(platform::SystemAnsiCodePage());

        std::size_t listed = 0;  // characters in listBuf
        int count = 0;
        for (bool more = FirstElementChild(list); more; more = NextElement(list)) {
            if (!IsElement(list, "language")) continue;
            ++count;
            const char* id = list.getAttribute("id", "");
            if (listBuf) {
                // The walk ends at the first id that would fill the buffer.
                std::size_t add = std::strlen(id) + (count > 1 ? 1 : 0);
                if (listBufSize <= 0 || listed + add >= static_cast<std::size_t>(listBufSize) - 1) break;
                if (count > 1) listBuf[listed++] = ';';
                std::memcpy(listBuf + listed, id, std::strlen(id));
                listed += std::strlen(id);
                listBuf[listed] = 0;
            }
            bool pick = count == 1;
            if (langIndex == 0 && count > 1) {
                const char* cp = list.getAttribute("codepage", "");
                pick = systemCodePage == cp;
            } else if (langIndex > 0 && count == langIndex) {
                pick = true;
            }
            if (pick) {
                languageId_ = id;
                languageFile_ = list.getAttribute("file", "");
                selected = true;
            }
        }
    }
    if (!selected) return -1;

    CXML table;
    if (table.Open(languageFile_.c_str()) != 0 || !table.goRoot() || !IsElement(table, "StringTables")) return -1;
    bool found = false;
    for (bool more = FirstElementChild(table); more; more = NextElement(table)) {
        if (IsElement(table, "StringTable")) {
            const char* m = Attribute(table, "module");
            if (m && std::strcmp(m, module) == 0) {
                found = true;
                break;
            }
        }
    }
    if (!found) return -1;

    charset_.Set("", "UTF-8");
    for (bool more = FirstElementChild(table); more; more = NextElement(table)) {
        if (!IsElement(table, "string")) continue;
        const char* id = Attribute(table, "id");
        const char* value = Attribute(table, "value");
        // An empty value is a string not translated yet: the lookup falls back as for a missing one.
        if (!id || !value || !*value) continue;
        int h = GetHashIndex(static_cast<unsigned char>(id[0]));
        if (h < 0) continue;
        buckets_[h].push_back(Entry{id + 1, charset_.Convert(value)});
    }
    charset_.Unset();
    return 0;
}

const char* CStringTable::GetString(const char* key, char prefix, const char* defValue) const {
    if (!key) return defValue ? defValue : "";
    if (prefix) {
        if (key[0] != prefix) return key;
        ++key;
    }
    int h = GetHashIndex(static_cast<unsigned char>(key[0]));
    if (h < 0) return "";
    for (const Entry& e : buckets_[h]) {
        if (std::strcmp(e.key.c_str(), key + 1) == 0) return e.value.c_str();
    }
    return defValue ? defValue : key;
}
