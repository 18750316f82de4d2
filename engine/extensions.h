// The extension registry: small web pages in the program's "extensions" folder, each a folder
// with an "extension.xml" description or a single ".xml" file. The folder is scanned once the
// control server runs; the server's "extensions" route (remote/handlers/extension_handler.h) lists
// them as "/extensions.xml" and serves the files beneath the folder.
#pragma once

#include <cstdint>
#include <string>

struct EngineContext;

enum : uint32_t {
    kExtensionResizable = 1,
    kExtensionZipped = 2,
};

struct ExtensionEntry {
    char* id;        // the folder name, or the file name with its ".xml"
    char* name;
    char* category;
    uint32_t flags;
    int32_t width;   // 0: not given
    int32_t height;
    char* plugin;    // may be null
    ExtensionEntry* next;
};

// Scans folder into a new list in name order (entries beginning with '.' or '_' skipped, and
// descriptions that cannot be read or that lie outside the folder). An existing list at *head is
// freed first. Answers the number of entries; a folder without any leaves *head null.
int ScanExtensions(const char* folder, ExtensionEntry** head);
// Frees every entry and sets *head to null.
void FreeExtensions(ExtensionEntry** head);

// Scans folder into the context's list and makes it the folder the route serves from; the server
// thread may be answering meanwhile.
void LoadExtensionRegistry(EngineContext* context, const std::string& folder);
// Frees the context's list.
void FreeExtensionRegistry(EngineContext* context);

// The folder the route serves from (resolved when the registry was loaded), or "".
std::string ExtensionsServedFolder();
// The registry as "<extensions>" with one "<category>" per category holding its "<extension>"
// entries, with an "xml-stylesheet" instruction for a non-empty href; "" when it cannot be written.
std::string ExtensionsListXml(const char* stylesheetHref);
