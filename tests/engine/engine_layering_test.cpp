// The program's layers, bottom to top: platform (with the windowing layer platform/gui), the common
// library, the engine, the servers (remote), the user interface (ui, whose start-up composes the
// layers). Every arrow points down: a folder includes and links nothing of a layer above it; the
// engine and the servers leave the windowing layer to the user interface. Within the engine the
// preference tree needs only the common library and the platform layer, and the task queue needs
// the preference tree but not the engine around it. Checked on the sources and on the build's
// link lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = SQ_SOURCE_DIR;

// The project headers a file includes by a quoted, source-relative name.
std::vector<std::string> QuotedIncludes(const fs::path& file) {
    static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> out;
    std::ifstream in(file);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, include) && fs::exists(kSource / m[1].str())) out.push_back(m[1].str());
    }
    return out;
}

bool StartsWithAny(const std::string& path, const std::vector<std::string>& prefixes) {
    for (const std::string& p : prefixes) {
        if (path.compare(0, p.size(), p) == 0) return true;
    }
    return false;
}

// "file -> header -> header" for every reached header outside the allowed folders.
std::vector<std::string> Violations(const std::string& folder, const std::vector<std::string>& allowed) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(kSource / folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        const std::string start = fs::relative(entry.path(), kSource).string();
        std::map<std::string, std::string> via = {{start, start}};  // header -> chain that reached it
        std::vector<std::string> todo = {start};
        while (!todo.empty()) {
            const std::string current = todo.back();
            todo.pop_back();
            for (const std::string& header : QuotedIncludes(kSource / current)) {
                if (via.count(header)) continue;
                via[header] = via[current] + " -> " + header;
                if (StartsWithAny(header, allowed)) todo.push_back(header);
                else out.push_back(via[header]);
            }
        }
    }
    return out;
}

// "file -> header" for every header a file of the folder includes from a forbidden folder.
std::vector<std::string> ForbiddenIncludes(const std::string& folder, const std::vector<std::string>& forbidden) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(kSource / folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h" && ext != ".c") continue;
        const std::string file = fs::relative(entry.path(), kSource).string();
        for (const std::string& header : QuotedIncludes(entry.path())) {
            if (StartsWithAny(header, forbidden)) out.push_back(file + " -> " + header);
        }
    }
    return out;
}

// The libraries each target of the top-level build links (sq_link and target_link_libraries lines).
std::map<std::string, std::set<std::string>> LinkLines() {
    static const std::regex line(R"re((?:sq_link|target_link_libraries)\(\s*([A-Za-z0-9_]+)\s+([^)]*)\))re");
    std::ifstream in(kSource / "CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, std::set<std::string>> links;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        std::istringstream words((*it)[2].str());
        std::string word;
        while (words >> word) links[(*it)[1].str()].insert(word);
    }
    return links;
}

// Every library the target reaches through the link lines.
std::set<std::string> LinkClosure(const std::map<std::string, std::set<std::string>>& links, const std::string& target) {
    std::set<std::string> seen;
    std::vector<std::string> todo = {target};
    while (!todo.empty()) {
        const std::string current = todo.back();
        todo.pop_back();
        auto found = links.find(current);
        if (found == links.end()) continue;
        for (const std::string& lib : found->second)
            if (seen.insert(lib).second) todo.push_back(lib);
    }
    return seen;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

TEST(Layering, EveryFolderIncludesNothingAbove) {
    const struct {
        const char* folder;
        std::vector<std::string> forbidden;
    } table[] = {
        {"platform", {"common/", "engine/", "remote/", "ui/", "res/", "framepipe/"}},
        {"common", {"platform/gui/", "engine/", "remote/", "ui/", "res/", "framepipe/"}},
        {"engine", {"platform/gui/", "remote/", "ui/", "res/", "framepipe/"}},
        {"remote", {"platform/gui/", "ui/", "res/", "framepipe/"}},
        {"ui", {"framepipe/"}},
        {"res", {"platform/", "common/", "engine/", "remote/", "ui/", "framepipe/"}},
        {"framepipe", {"common/", "engine/", "remote/", "ui/", "res/"}},
    };
    for (const auto& row : table) {
        ASSERT_TRUE(fs::is_directory(kSource / row.folder)) << row.folder;
        EXPECT_EQ(Lines(ForbiddenIncludes(row.folder, row.forbidden)), "") << row.folder;
    }
}

TEST(Layering, EveryLibraryLinksNothingAbove) {
    const auto links = LinkLines();
    const struct {
        const char* library;
        std::vector<std::string> forbidden;
    } table[] = {
        {"sqplatform", {"qxcommon", "sqgui", "sqengine", "sqremote", "squi"}},
        {"sqgui", {"qxcommon", "sqengine", "sqremote", "squi"}},
        {"qxcommon", {"sqgui", "sqengine", "sqremote", "squi"}},
        // The engine opens the avs_ layer as a module when it reads a script (platform/avs_module).
        {"sqengine", {"sqgui", "sqgtk", "sqremote", "squi", "sqavs"}},
        {"sqremote", {"sqgui", "sqgtk", "squi"}},
    };
    for (const auto& row : table) {
        ASSERT_TRUE(links.count(row.library)) << row.library << " has no link line";
        const std::set<std::string> reached = LinkClosure(links, row.library);
        for (const std::string& lib : row.forbidden) EXPECT_EQ(reached.count(lib), 0u) << row.library << " reaches " << lib;
    }
}

// The checks themselves see what lies there: the user interface includes and links the engine.
TEST(Layering, ChecksSeeIncludesAndLinks) {
    EXPECT_FALSE(ForbiddenIncludes("ui", {"engine/"}).empty());
    EXPECT_EQ(LinkClosure(LinkLines(), "squi").count("sqengine"), 1u);
    EXPECT_EQ(LinkClosure(LinkLines(), "squi").count("sqplatform"), 1u);
}

TEST(EngineLayering, PrefsAndQueueStayBelowTheEngine) {
    ASSERT_TRUE(fs::is_directory(kSource / "engine/prefs"));
    const std::vector<std::string> prefs = {"common/", "platform/", "engine/prefs/"};
    EXPECT_EQ(Lines(Violations("engine/prefs", prefs)), "");

    // The queue also reads the records of the running job and its encoder (task variables): the
    // declarations named here, and nothing they might include beyond them, which the walk checks.
    // The engine's core (context, interface, start-up) stays out of reach.
    std::vector<std::string> queue = prefs;
    queue.insert(queue.end(), {"engine/queue/", "engine/jobs/audiotask.h", "engine/jobs/blockbuffer.h",
                               "engine/jobs/pcmio.h", "engine/encoders/encoder_info.h",
                               "engine/encoders/encoder.h", "engine/encoders/wave_header.h",
                               "engine/eventlog.h"});
    EXPECT_EQ(Lines(Violations("engine/queue", queue)), "");
}

// The check itself finds an include of the engine core, also through another header.
TEST(EngineLayering, CheckSeesIndirectIncludes) {
    const std::vector<std::string> none = {"engine/prefs/"};
    const std::vector<std::string> found = Violations("engine/queue", none);
    ASSERT_FALSE(found.empty());
    EXPECT_NE(Lines(found).find("engine/queue/queue.h -> engine/queue/inputtype.h"), std::string::npos) << Lines(found);
}

}  // namespace
