// The engine's layers: the preference tree needs only the common library and the platform layer;
// the task queue needs the preference tree but not the engine around it. Checked on the sources:
// every project header a file of the layer reaches, directly or through other headers, lies in a
// folder the layer may use.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
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

std::string Lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
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
