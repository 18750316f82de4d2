#include "engine/extensions.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/xml.h"
#include "engine/context.h"
#include "platform/net_files.h"

namespace {

// Guards the context's list and the served folder against the server thread.
std::mutex g_registryMutex;
std::string g_servedFolder;

char* Dup(const char* text) { return text ? strdup(text) : nullptr; }

bool IsXmlFileName(const std::string& name) {
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".xml") == 0;
}

bool IsYes(const char* value) {
    return value && (strcmp(value, "1") == 0 || strcasecmp(value, "true") == 0 || strcasecmp(value, "yes") == 0);
}

// Reads one description; null when it cannot be opened.
ExtensionEntry* ReadDescription(const std::string& id, const std::string& path) {
    CXML xml;
    if (xml.Open(path.c_str()) != 0) return nullptr;
    XmlNode first = xml.goChild();
    auto* entry = static_cast<ExtensionEntry*>(calloc(1, sizeof(ExtensionEntry)));
    if (!entry) return nullptr;
    entry->id = Dup(id.c_str());
    // An empty element counts as absent.
    const char* category = xml.getNodeValueByName("category");
    entry->category = Dup(category ? category : "other");
    const char* name = xml.getNodeValueByName("name");
    entry->name = Dup(name ? name : id.c_str());
    entry->plugin = Dup(xml.getNodeValueByName("plugin"));
    xml.SetCurrentNode(first);
    if (first && xml.findNode("window")) {
        entry->width = xml.getAttributeInt("width");
        entry->height = xml.getAttributeInt("height");
        if (IsYes(xml.getAttribute("resizable"))) entry->flags |= kExtensionResizable;
    }
    return entry;
}

}  // namespace

void FreeExtensions(ExtensionEntry** head) {
    if (!head) return;
    for (ExtensionEntry* e = *head; e;) {
        ExtensionEntry* next = e->next;
        free(e->id);
        free(e->name);
        free(e->category);
        free(e->plugin);
        free(e);
        e = next;
    }
    *head = nullptr;
}

int ScanExtensions(const char* folder, ExtensionEntry** head) {
    if (!folder || !head) return 0;
    FreeExtensions(head);
    std::vector<platform::NetDirEntry> entries;
    if (!platform::NetListFolder(folder, &entries)) return 0;
    const std::string base = std::string(folder) + "/";
    int count = 0;
    ExtensionEntry** tail = head;
    for (const platform::NetDirEntry& d : entries) {
        if (d.name.empty() || d.name[0] == '.' || d.name[0] == '_') continue;
        std::string path;
        if (d.isFolder) path = base + d.name + "/extension.xml";
        else if (IsXmlFileName(d.name)) path = base + d.name;
        else continue;
        // A description reached through a link out of the folder is not the folder's.
        if (!platform::NetPathInside(folder, path)) continue;
        ExtensionEntry* entry = ReadDescription(d.name, path);
        if (!entry) continue;
        *tail = entry;
        tail = &entry->next;
        ++count;
    }
    return count;
}

void LoadExtensionRegistry(EngineContext* context, const std::string& folder) {
    if (!context) return;
    ExtensionEntry* list = nullptr;
    ScanExtensions(folder.c_str(), &list);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto* old = static_cast<ExtensionEntry*>(context->extensionList);
    FreeExtensions(&old);
    context->extensionList = list;
    g_servedFolder = platform::NetRealPath(folder);
}

void FreeExtensionRegistry(EngineContext* context) {
    if (!context) return;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto* list = static_cast<ExtensionEntry*>(context->extensionList);
    FreeExtensions(&list);
    context->extensionList = nullptr;
}

std::string ExtensionsServedFolder() {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_servedFolder;
}

std::string ExtensionsListXml(const char* stylesheetHref) {
    CXML xml;
    xml.New("1.0", "extensions", stylesheetHref && *stylesheetHref ? stylesheetHref : nullptr);
    XmlNode root = xml.node;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        EngineContext* context = GetEngineContext();
        for (auto* e = context ? static_cast<ExtensionEntry*>(context->extensionList) : nullptr; e; e = e->next) {
            xml.SetCurrentNode(root);
            if (!xml.findChildNode("category", "id", e->category)) {
                xml.SetCurrentNode(root);
                xml.addChild("category");
                xml.addAttribute("id", e->category);
            }
            xml.addChild("extension");
            xml.addAttribute("id", e->id);
            xml.addAttribute("name", e->name);
            if (e->width) xml.setAttribute("width", e->width);
            if (e->height) xml.setAttribute("height", e->height);
            if (e->flags & kExtensionResizable) xml.addAttribute("resizable", "true");
            if (e->flags & kExtensionZipped) xml.addAttribute("zipped", "true");
            if (e->plugin) xml.addAttribute("plugin", e->plugin);
        }
    }
    char* text = nullptr;
    const int length = xml.Dump(&text, "UTF-8");
    return length > 0 && text ? std::string(text, static_cast<size_t>(length)) : std::string();
}
