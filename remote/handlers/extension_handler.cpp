#include "remote/handlers/extension_handler.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/extensions.h"
#include "platform/net_files.h"
#include "remote/httpd/web_server.h"

namespace {

constexpr int kXmlContentType = 2;

// Opens a file beneath folder; -1 when it is missing or lies outside (a link out of the folder).
int OpenBeneath(const std::string& folder, const std::string& relative, int64_t* size) {
    int dir = platform::NetOpenFolder(folder.c_str());
    if (dir < 0) return -1;
    platform::NetPathKind kind = platform::NetPathKind::Missing;
    int fd = platform::NetOpenBeneath(dir, relative.c_str(), &kind, size, nullptr);
    if (fd == platform::kNetBeneathUndecided) {
        const std::string full = folder + "/" + relative;
        fd = platform::NetOpenRegularFile(full.c_str(), false, size, nullptr);
        if (fd >= 0 && !platform::NetPathInside(folder, full)) {
            platform::NetCloseFile(fd);
            fd = -1;
        }
    }
    platform::NetCloseFile(dir);
    return fd;
}

// A folder answers with its "index.html"; *relative becomes the file's path.
int OpenServed(const std::string& folder, std::string* relative, int64_t* size) {
    int fd = OpenBeneath(folder, *relative, size);
    if (fd < 0) {
        std::string index = (*relative == "." ? std::string() : *relative + "/") + "index.html";
        fd = OpenBeneath(folder, index, size);
        if (fd >= 0) *relative = index;
    }
    return fd;
}

uint32_t ServeFile(UrlRequest* request, const std::string& folder) {
    std::string mapped;
    bool trailing = false;
    if (folder.empty() || !WebMapPath(folder, request->path, false, &mapped, &trailing)) return 0;
    const size_t prefix = folder.size() + (folder.back() == '/' ? 0 : 1);
    std::string relative = mapped.size() > prefix ? mapped.substr(prefix) : ".";
    int64_t size = 0;
    int fd = OpenServed(folder, &relative, &size);
    WebConnection* c = request->connection;
    if (fd < 0 || !c) {
        if (fd >= 0) platform::NetCloseFile(fd);
        // No such file: the file reply of a descriptor that is not there answers 404.
        return kReplyFile | kReplyOwnFile;
    }
    c->file = fd;
    // The reply's content type follows the name of the file served.
    if (char* served = strdup(("extensions/" + relative).c_str())) {
        free(c->path);
        c->path = served;
    }
    request->reply[0] = 0;
    return kReplyFile | kReplyOwnFile;
}

}  // namespace

uint32_t HandleExtensions(UrlRequest* request) {
    if (!request) return 0;
    const char* path = request->path ? request->path : "";
    if (strncmp(path, "/extensions.xml", 15) != 0) return ServeFile(request, ExtensionsServedFolder());

    const char* href = request->variableCount > 0 ? WebGetVar(request->variables, "xsl", nullptr) : nullptr;
    const std::string text = ExtensionsListXml(href);
    request->contentType = kXmlContentType;
    if (!text.empty()) {
        char* copy = static_cast<char*>(malloc(text.size() + 1));
        if (copy) {
            memcpy(copy, text.c_str(), text.size() + 1);
            request->reply = copy;
            request->length = static_cast<int>(text.size());
            return kReplyBuffer | kReplyFreeBuffer;
        }
    }
    request->length = snprintf(request->reply, static_cast<size_t>(request->length), "<?xml version=\"1.0\"?>");
    return kReplyBuffer;
}
