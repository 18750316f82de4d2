// The extension registry: the scan of a folder of extensions, and the "extensions" route of the
// control server fetched with curl.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/xml.h"
#include "engine/context.h"
#include "engine/engine_init.h"
#include "engine/extensions.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "remote/handlers/routes.h"
#include "remote/httpd/httpd_fixture.h"
#include "remote/httpd/web_server.h"
#include "support/event_recorder.h"
#include "support/program_folder.h"
#include "support/tempdir.h"
#include "ui/main/composition.h"

namespace {

using httpdtest::Shell;

std::string Description(const std::string& body) { return "<?xml version=\"1.0\"?>\n<extension>" + body + "</extension>\n"; }

// A folder of extensions with every kind of entry the scan meets, and a secret beside it.
void MakeExtensions(const sqtest::TempDir& tmp) {
    namespace fs = std::filesystem;
    tmp.write("secret.txt", "TOP-SECRET");
    tmp.write("outside/extension.xml", Description("<name>Outsider</name>"));
    tmp.write("ext/player/extension.xml",
              Description("<category>media</category><name>Player</name><plugin>qx</plugin>"
                          "<window width=\"640\" height=\"480\" resizable=\"YES\"/>"));
    tmp.write("ext/player/index.html", "<html>player</html>");
    fs::create_symlink(tmp.file("secret.txt"), tmp.file("ext/player/leak.html"));
    tmp.write("ext/clock/extension.xml", Description("<name/><window width=\"100\" resizable=\"no\"/>"));
    tmp.write("ext/demo.XML", Description("<category>media</category><name>Demo</name><window height=\"5\"/>"));
    tmp.write("ext/<b>&\"x'/extension.xml", Description("<name>a&lt;b&amp;\"c</name><category>&lt;/x&gt;</category>"));
    tmp.write("ext/_test/extension.xml", Description("<name>Hidden</name>"));
    tmp.write("ext/.git/extension.xml", Description("<name>Hidden</name>"));
    tmp.write("ext/broken/extension.xml", "<extension><name>cut");
    tmp.write("ext/empty/readme.txt", "no description");
    tmp.write("ext/notes.txt", "not an extension");
    fs::create_symlink(tmp.file("outside"), tmp.file("ext/linked"));
}

struct Expected {
    const char* id;
    const char* name;
    const char* category;
    uint32_t flags;
    int width;
    int height;
    const char* plugin;
};

// In name order; "_test", ".git", the broken, the empty and the linked folder and the text file
// are left out.
const Expected kExpected[] = {
    {"<b>&\"x'", "a<b&\"c", "</x>", 0, 0, 0, nullptr},
    {"clock", "clock", "other", 0, 100, 0, nullptr},
    {"demo.XML", "Demo", "media", 0, 0, 5, nullptr},
    {"player", "Player", "media", kExtensionResizable, 640, 480, "qx"},
};

TEST(ExtensionScan, FolderOfExtensions) {
    sqtest::TempDir tmp;
    MakeExtensions(tmp);
    ExtensionEntry* head = nullptr;
    ASSERT_EQ(ScanExtensions(tmp.file("ext").c_str(), &head), 4);
    const ExtensionEntry* e = head;
    for (const Expected& x : kExpected) {
        SCOPED_TRACE(x.id);
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->id, x.id);
        EXPECT_STREQ(e->name, x.name);
        EXPECT_STREQ(e->category, x.category);
        EXPECT_EQ(e->flags, x.flags);
        EXPECT_EQ(e->width, x.width);
        EXPECT_EQ(e->height, x.height);
        EXPECT_STREQ(e->plugin, x.plugin);
        e = e->next;
    }
    EXPECT_EQ(e, nullptr);

    // A second scan replaces the list; a missing folder gives an empty one.
    EXPECT_EQ(ScanExtensions(tmp.file("ext").c_str(), &head), 4);
    EXPECT_EQ(ScanExtensions(tmp.file("none").c_str(), &head), 0);
    EXPECT_EQ(head, nullptr);
    FreeExtensions(&head);
}

class ExtensionRouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeExtensions(tmp_);
        tmp_.write("htdocs/index.html", "<html>root</html>");
        SetEngineContext(&context_);
        LoadExtensionRegistry(&context_, tmp_.file("ext"));
        RegisterControlRoutes(&server_);
        port_ = WebServerStart(&server_, 0, 8, tmp_.file("htdocs").c_str(), WebBindLoopback());
        ASSERT_GT(port_, 0);
    }
    void TearDown() override {
        WebServerShutdown(&server_);
        SetWebDispatchFunction(nullptr);
        FreeExtensionRegistry(&context_);
        SetEngineContext(nullptr);
    }
    httpdtest::CommandResult get(const std::string& path) {
        return Shell("curl -sS --path-as-is -w '\\n%{http_code} %{content_type}' 'http://127.0.0.1:" + std::to_string(port_) +
                     path + "'");
    }

    sqtest::TempDir tmp_;
    EngineContext context_{};
    WebServer server_;
    int port_ = 0;
};

TEST_F(ExtensionRouteTest, ListsEveryExtensionByCategory) {
    auto r = get("/extensions/extensions.xml");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const size_t status = r.output.rfind('\n');
    EXPECT_EQ(r.output.substr(status + 1), "200 text/xml");
    const std::string xmlText = r.output.substr(0, status);
    EXPECT_EQ(xmlText.find("xml-stylesheet"), std::string::npos);

    CXML xml;
    ASSERT_EQ(xml.Read(xmlText.c_str()), 0) << xmlText;  // hostile names leave it well-formed
    EXPECT_STREQ(xml.getNodeName(), "extensions");
    // Categories in order of first appearance, each holding its extensions in scan order.
    const std::vector<std::pair<std::string, std::vector<std::string>>> categories = {
        {"</x>", {"<b>&\"x'"}}, {"other", {"clock"}}, {"media", {"demo.XML", "player"}}};
    ASSERT_EQ(xml.getChildCount(), 3);
    XmlNode category = xml.goChild();
    for (const auto& [id, extensions] : categories) {
        SCOPED_TRACE(id);
        ASSERT_NE(category, nullptr);
        EXPECT_STREQ(xml.getAttribute("id"), id.c_str());
        ASSERT_EQ(xml.getChildCount(), static_cast<int>(extensions.size()));
        xml.goChild();
        for (const std::string& ext : extensions) {
            EXPECT_STREQ(xml.getAttribute("id"), ext.c_str());
            xml.goNext();
        }
        xml.SetCurrentNode(category);
        category = xml.goNext();
    }
    ASSERT_NE(xml.goToKey("//extension[@id='player']"), nullptr);
    EXPECT_STREQ(xml.getAttribute("name"), "Player");
    EXPECT_STREQ(xml.getAttribute("width"), "640");
    EXPECT_STREQ(xml.getAttribute("height"), "480");
    EXPECT_STREQ(xml.getAttribute("resizable"), "true");
    EXPECT_STREQ(xml.getAttribute("plugin"), "qx");
    ASSERT_NE(xml.goToKey("//extension[@id='clock']"), nullptr);
    EXPECT_EQ(xml.getAttribute("height"), nullptr);  // zero sizes and unset flags are left out
    EXPECT_EQ(xml.getAttribute("resizable"), nullptr);
    EXPECT_EQ(xml.getAttribute("plugin"), nullptr);
}

TEST_F(ExtensionRouteTest, StylesheetParameter) {
    struct Case {
        const char* query;
        const char* expected;  // the end of the instruction as served
    };
    const Case cases[] = {
        {"?xsl=_include/list.xsl", "type=\"text/xsl\" href=\"_include/list.xsl\"?>\n<extensions>"},
        {"?xsl=a%22%3F%3E%3Cx%3E", "type=\"text/xsl\" href=\"a&quot;?&gt;&lt;x&gt;\"?>\n<extensions>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        auto r = get(std::string("/extensions/extensions.xml") + c.query);
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
        CXML xml;
        EXPECT_EQ(xml.Read(r.output.substr(0, r.output.rfind('\n')).c_str()), 0);
        EXPECT_STREQ(xml.getNodeName(), "extensions");
    }
}

TEST_F(ExtensionRouteTest, FilesOnlyFromInsideTheFolder) {
    struct Case {
        const char* path;
        const char* status;
        const char* body;  // expected at the start of the reply, or null
    };
    const Case cases[] = {
        {"/extensions/player/index.html", "200 text/html", "<html>player</html>"},
        {"/extensions/player/", "200 text/html", "<html>player</html>"},
        {"/extensions/player/leak.html", "404", nullptr},         // a link out of the folder
        {"/extensions/linked/extension.xml", "404", nullptr},     // a linked folder leads outside
        {"/extensions/../secret.txt", "404", nullptr},
        {"/extensions/%2e%2e/secret.txt", "404", nullptr},
        {"/extensions/player/%2e%2e/%2e%2e/secret.txt", "404", nullptr},
        {"/extensions/missing.html", "404", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = get(c.path);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const size_t tail = r.output.rfind('\n');
        EXPECT_EQ(r.output.substr(tail + 1, strlen(c.status)), c.status) << r.output;
        if (c.body) {
            EXPECT_EQ(r.output.substr(0, tail), c.body);
        }
        EXPECT_EQ(r.output.find("TOP-SECRET"), std::string::npos);
    }
}

// The engine's start-up scans the program's "extensions" folder once the control server runs, and
// the control server answers the route.
TEST(ExtensionRegistryAtStartup, ControlServerServesTheProgramsExtensions) {
    ui::ConnectEngine();
    sqtest::ProgramFolder folder;
    folder.dir().write("extensions/clock/extension.xml", Description("<name>Clock</name>"));
    folder.dir().write("extensions/clock/index.html", "<html>tick</html>");
    sqtest::EventRecorder recorder;
    const std::string definitions = folder.read("qxcore.xml");
    recorder.context().definitionsText = definitions.c_str();
    recorder.context().definitionsLength = static_cast<uint32_t>(definitions.size());
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    GetPrefStore().SetInt("overall.httpd.port", 0);  // any free port
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    const std::string base = "http://127.0.0.1:" + std::to_string(recorder.context().httpPort.load());

    auto list = Shell("curl -sS " + base + "/extensions/extensions.xml");
    EXPECT_NE(list.output.find("<category id=\"other\">"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("<extension id=\"clock\" name=\"Clock\"/>"), std::string::npos) << list.output;
    EXPECT_EQ(Shell("curl -sS " + base + "/extensions/clock/").output, "<html>tick</html>");
    EngineShutdown(&recorder.context());
    EXPECT_EQ(recorder.context().extensionList, nullptr);
}

}  // namespace
