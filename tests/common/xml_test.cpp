#include "common/xml.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "common/xml_fetch.h"
#include "support/locale_guard.h"
#include "support/tempdir.h"

namespace {

const char kRecords[] =
    "<list>"
    "<rec><a>1</a><b>two</b><c>3</c></rec>"
    "<rec id=\"x\" empty=\"\"><a> \n\t </a><b><![CDATA[ cdata]]></b><c>   </c></rec>"
    "</list>";

// --- loading, saving, dumping ---

TEST(XmlLoad, OpenSamePathKeepsEditsAndReturnsToRoot) {
    sqtest::TempDir dir;
    std::string path = dir.write("a.xml", "<root><k>old</k></root>");
    CXML xml;
    ASSERT_EQ(xml.Open(path.c_str()), 0);
    ASSERT_NE(xml.goToKey("/root/k", 0), nullptr);
    xml.setNodeValue("edited");
    dir.write("a.xml", "<root><k>changed on disk</k></root>");
    ASSERT_EQ(xml.Open(path.c_str()), 0);
    EXPECT_STREQ(xml.getNodeName(), "root");
    ASSERT_NE(xml.goChild(), nullptr);
    EXPECT_STREQ(xml.getNodeValue(0), "edited");
    // After Close the file is read again.
    xml.Close();
    ASSERT_EQ(xml.Open(path.c_str()), 0);
    xml.goChild();
    EXPECT_STREQ(xml.getNodeValue(0), "changed on disk");
}

TEST(XmlLoad, StrictFileAndRecoveringMemory) {
    sqtest::TempDir dir;
    const std::string truncated = "<root><a>kept</a><b>lost";
    std::string path = dir.write("t.xml", truncated);
    CXML xml;
    EXPECT_EQ(xml.Open(path.c_str()), -1);
    EXPECT_EQ(xml.doc, nullptr);
    EXPECT_EQ(xml.Open(dir.file("missing.xml").c_str()), -1);
    ASSERT_EQ(xml.Read(truncated.c_str()), 0);
    ASSERT_NE(xml.findChildNode("a"), nullptr);
    EXPECT_STREQ(xml.getNodeValue(0), "kept");
    EXPECT_EQ(xml.Read("not xml at all"), -1);
    EXPECT_EQ(xml.doc, nullptr);
}

TEST(XmlLoad, ReadLengthAndBaseUrl) {
    CXML xml;
    const char text[] = "<a>1</a><b>2</b>";
    ASSERT_EQ(xml.Read(text, 8), 0);  // only "<a>1</a>"
    EXPECT_STREQ(xml.getNodeName(), "a");
    EXPECT_STREQ(reinterpret_cast<const char*>(xml.doc->URL), "data.xml");
    ASSERT_EQ(xml.Read("<z/>", 0, "http://host/feed.xml"), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(xml.doc->URL), "http://host/feed.xml");
    EXPECT_EQ(xml.path, nullptr);  // Read never remembers a path
}

TEST(XmlLoad, SaveEncodingArgument) {
    sqtest::TempDir dir;
    struct Case {
        const char* encoding;
        const char* declaration;
    };
    const Case cases[] = {
        {"utf-8", "encoding=\"UTF-8\""},
        {"latin1", "encoding=\"UTF-8\""},
        {nullptr, "encoding=\"ISO-8859-1\""},  // the document's own
    };
    for (const Case& c : cases) {
        CXML xml;
        ASSERT_EQ(xml.Read("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xe9</r>"), 0);
        std::string out = dir.file("s.xml");
        int written = xml.Save(out.c_str(), c.encoding);
        std::string saved = sqtest::ReadFile(out);
        EXPECT_EQ(written, static_cast<int>(saved.size()));
        EXPECT_NE(saved.find(c.declaration), std::string::npos) << saved;
        ASSERT_NE(xml.path, nullptr);
        EXPECT_EQ(out, xml.path);
    }
    CXML empty;
    EXPECT_EQ(empty.Save(dir.file("e.xml").c_str()), -1);
}

TEST(XmlLoad, DumpIndentsAndOwnsBuffer) {
    CXML xml;
    xml.New("1.0", "root", "style/a.xsl");
    xml.addChild("child", "v");
    char* out = nullptr;
    int len = xml.Dump(&out);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(len, static_cast<int>(std::strlen(out)));
    std::string text = out;
    EXPECT_NE(text.find("<?xml-stylesheet  type=\"text/xsl\" href=\"style/a.xsl\"?>\n<root>"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  <child>v</child>\n"), std::string::npos) << text;
    EXPECT_EQ(xml.Dump(&out), len);  // the previous buffer is freed, not leaked (ASan)
}

TEST(XmlLoad, StylesheetHrefCannotInjectMarkup) {
    CXML xml;
    xml.New("1.0", "r", "a.xsl\"?><evil/><?x \"");
    char* out = nullptr;
    xml.Dump(&out);
    CXML back;
    ASSERT_EQ(back.Read(out), 0);
    EXPECT_STREQ(back.getNodeName(), "r");
    EXPECT_EQ(std::string(out).find("<evil/>"), std::string::npos) << out;
}

TEST(XmlLoad, UrlGoesThroughFetchSeam) {
    CXML xml;
    SetXmlFetcher({});
    EXPECT_EQ(xml.Open("http://127.0.0.1:1/x.xml"), -1);  // the HTTP client: nothing listens there

    struct Case {
        bool ok;
        const char* body;
        int expected;
    };
    const Case cases[] = {
        {true, "<feed><item>1</item></feed>", 0},
        {true, "plain text, not xml", -1},
        {false, "<feed/>", -1},  // a failed request (or a non-2xx answer)
    };
    for (const Case& c : cases) {
        SetXmlFetcher([&](const char*, std::string* body) {
            *body = c.body;
            return c.ok;
        });
        CXML doc;
        EXPECT_EQ(doc.Open("http://example.test/feed.xml"), c.expected) << c.body;
        if (c.expected == 0) {
            EXPECT_STREQ(doc.getNodeName(), "feed");
            EXPECT_STREQ(doc.path, "http://example.test/feed.xml");
        } else {
            EXPECT_EQ(doc.doc, nullptr);
        }
    }
    SetXmlFetcher({});
}

TEST(XmlLoad, MoveHandsOverTheTree) {
    static_assert(!std::is_copy_constructible_v<CXML>);
    static_assert(!std::is_copy_assignable_v<CXML>);
    CXML a;
    a.New("1.0", "r");
    CXML b(std::move(a));
    EXPECT_EQ(a.doc, nullptr);
    EXPECT_STREQ(b.getNodeName(), "r");
    a.New("1.0", "s");
    b = std::move(a);
    EXPECT_STREQ(b.getNodeName(), "s");
    a.Lock();  // the moved-from object still has a lock
    a.Unlock();
}

// --- cursor ---

TEST(XmlCursor, GoToKeyIndex) {
    CXML xml;
    ASSERT_EQ(xml.Read(kRecords), 0);
    ASSERT_NE(xml.goToKey("//rec", 1), nullptr);
    EXPECT_STREQ(xml.getAttribute("id"), "x");
    EXPECT_EQ(xml.goToKey("//rec", 2), nullptr);  // index == count
    EXPECT_STREQ(xml.getAttribute("id"), "x");     // cursor stayed
    EXPECT_EQ(xml.goToKey("//nothing", 0), nullptr);
    EXPECT_EQ(xml.goToKey("count(//rec)", 0), nullptr);  // not a node set
    testing::internal::CaptureStdout();
    EXPECT_EQ(xml.goToKey("//rec[", 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in xmlXPathEvalExpression\n");
    EXPECT_STREQ(xml.getAttribute("id"), "x");

    // Namespace nodes of a result die with it: such a match never becomes the cursor (ASan).
    ASSERT_EQ(xml.Read("<r xmlns:a=\"urn:x\"><x/></r>"), 0);
    EXPECT_EQ(xml.goToKey("//namespace::*", 0), nullptr);
    EXPECT_STREQ(xml.getNodeName(), "r");
    EXPECT_NE(xml.addChild("y"), nullptr);
}

TEST(XmlCursor, NodeValues) {
    CXML xml;
    ASSERT_EQ(xml.Read(kRecords), 0);
    struct Case {
        const char* xpath;
        const char* value;
        int asInt;
    };
    const Case cases[] = {
        {"/list/rec[1]/a", "1", 1},
        {"/list/rec[1]/b", "two", 0},
        {"/list/rec[2]/a", nullptr, 0},   // blanks and line breaks only
        {"/list/rec[2]/b", "cdata", 0},   // CDATA, leading blank skipped
        {"/list/rec[2]/c", nullptr, 0},
        {"/list/rec[1]", nullptr, 0},     // no text child
    };
    for (const Case& c : cases) {
        ASSERT_NE(xml.goToKey(c.xpath, 0), nullptr) << c.xpath;
        const char* v = xml.getNodeValue(0);
        if (c.value) {
            EXPECT_STREQ(v, c.value) << c.xpath;
        } else {
            EXPECT_EQ(v, nullptr) << c.xpath;
        }
        EXPECT_EQ(xml.getNodeValueInt(), c.asInt) << c.xpath;
    }
    ASSERT_EQ(xml.Read("<a>x<b/>  y</a>"), 0);
    EXPECT_STREQ(xml.getNodeValue(1), "y");
    EXPECT_EQ(xml.getNodeValue(2), nullptr);
}

TEST(XmlCursor, Attributes) {
    sqtest::CommaLocale comma;
    CXML xml;
    ASSERT_EQ(xml.Read("<r n=\"42\" f=\"1.5\" e=\"\" t=\"a&amp;b\"/>"), 0);
    EXPECT_STREQ(xml.getAttribute("e", "dflt"), "dflt");  // name="" gives the default
    EXPECT_STREQ(xml.getAttribute("missing", "dflt"), "dflt");
    EXPECT_STREQ(xml.getAttribute("t"), "a&b");
    EXPECT_EQ(xml.getAttributeInt("n", -1), 42);
    EXPECT_EQ(xml.getAttributeInt("missing", -1), -1);
    EXPECT_FLOAT_EQ(xml.getAttributeFloat("f", 0), 1.5f);  // under a comma locale too
    EXPECT_TRUE(xml.isAttrMatched("n", "42"));
    EXPECT_TRUE(xml.isAttrMatched("e", ""));
    EXPECT_FALSE(xml.isAttrMatched("missing", ""));
    XmlNode root = xml.goRoot();
    xml.addChild("kid");
    EXPECT_EQ(xml.getAttributeInt("n", 0), 0);        // the cursor moved to kid
    EXPECT_EQ(xml.getAttributeInt("n", 0, root), 42);  // an explicit node
}

TEST(XmlCursor, GetNodeValueByNameSearchesAroundTheCursor) {
    CXML xml;
    ASSERT_EQ(xml.Read("<r><a>A</a><b>B</b><c>C</c><d>D</d></r>"), 0);
    struct Case {
        const char* start;
        const char* name;
        const char* value;
        const char* cursorAfter;
    };
    const Case cases[] = {
        {"a", "c", "C", "c"},          // forward, after moving one step
        {"c", "c", "C", "c"},          // at the cursor
        {"d", "a", "A", "a"},          // backwards
        {"b", "zz", "dflt", "c"},      // failure: the one step forward stays
        {"d", "zz", "dflt", "d"},      // failure with no next sibling
    };
    for (const Case& c : cases) {
        ASSERT_NE(xml.goToKey((std::string("/r/") + c.start).c_str(), 0), nullptr);
        EXPECT_STREQ(xml.getNodeValueByName(c.name, "dflt"), c.value) << c.start << "->" << c.name;
        EXPECT_STREQ(xml.getNodeName(), c.cursorAfter) << c.start << "->" << c.name;
    }
    xml.SetCurrentNode(nullptr);
    EXPECT_STREQ(xml.getNodeValueByName("a", "dflt"), "dflt");
}

TEST(XmlCursor, FindAndNavigate) {
    CXML xml;
    ASSERT_EQ(xml.Read("<r>text<x k=\"1\"/><y/><x k=\"2\"/><x/></r>"), 0);
    EXPECT_EQ(xml.getChildCount(), 4);
    ASSERT_NE(xml.findChildNode("x", "k", "2"), nullptr);
    EXPECT_EQ(xml.findNextNode("x", "k", "1"), nullptr);      // only following siblings
    ASSERT_NE(xml.findNode("x", "k", "1"), nullptr);          // falls back to the backward search
    EXPECT_STREQ(xml.getAttribute("k"), "1");
    ASSERT_NE(xml.findNode("x", "k", ""), nullptr);           // missing attribute counts as ""
    EXPECT_EQ(xml.getAttribute("k"), nullptr);
    ASSERT_NE(xml.goFirst(), nullptr);                        // skips the leading text node
    EXPECT_TRUE(xml.isAttrMatched("k", "1"));
    EXPECT_EQ(xml.goPrev(), nullptr);
    ASSERT_NE(xml.goNext(), nullptr);
    EXPECT_TRUE(xml.isMatched("y"));
    EXPECT_EQ(xml.goChild(), nullptr);
    EXPECT_TRUE(xml.isMatched("y"));
    ASSERT_NE(xml.goParent(), nullptr);
    EXPECT_TRUE(xml.isMatched("r"));
    EXPECT_EQ(xml.goParent(), nullptr);  // the document node is not an element
    xml.SetCurrentNode(nullptr);
    EXPECT_EQ(xml.findNode("x"), nullptr);
    EXPECT_EQ(xml.goFirst(), nullptr);
}

TEST(XmlCursor, RemoveNode) {
    CXML xml;
    ASSERT_EQ(xml.Read("<r><a><b/></a></r>"), 0);
    ASSERT_NE(xml.goToKey("//b", 0), nullptr);
    XmlNode parent = xml.removeNode();
    EXPECT_EQ(parent, xml.goToKey("/r/a", 0));
    EXPECT_EQ(xml.getChildCount(), 0);
    xml.goRoot();
    EXPECT_EQ(xml.removeNode(), nullptr);  // the document element: null cursor
    EXPECT_EQ(xml.goRoot(), nullptr);
}

// --- writing ---

TEST(XmlWrite, TypedWritersIgnoreTheLocale) {
    sqtest::CommaLocale comma;
    CXML xml;
    xml.New("1.0", "r");
    xml.addChild("f", 1.5f);
    xml.addChild("d", 0.25);
    xml.addChild("i", -7);
    xml.addChild("u", uint64_t{18446744073709551615u});
    xml.setAttribute("a", 2.5f);
    xml.setAttribute("n", 3);
    xml.addChild("v");
    xml.setNodeValue(0.5f);
    struct Case {
        const char* xpath;
        const char* text;
    };
    const Case cases[] = {{"/r/f", "1.500000"}, {"/r/d", "0.250000"}, {"/r/i", "-7"},
                          {"/r/u", "18446744073709551615"}, {"/r/v", "0.500000"}};
    for (const Case& c : cases) {
        ASSERT_NE(xml.goToKey(c.xpath, 0), nullptr);
        EXPECT_STREQ(xml.getNodeValue(0), c.text) << c.xpath;
    }
    xml.goRoot();
    EXPECT_STREQ(xml.getAttribute("a"), "2.500000");
    EXPECT_STREQ(xml.getAttribute("n"), "3");
}

TEST(XmlWrite, MarkupFormsKeepMarkupMeaning) {
    CXML xml;
    xml.New("1.0", "r");
    xml.addChild("m", "a &amp; b");
    ASSERT_NE(xml.goToKey("/r/m", 0), nullptr);
    EXPECT_STREQ(xml.getNodeValue(0), "a & b");
    xml.setNodeValue("x &lt; y");
    EXPECT_STREQ(xml.getNodeValue(0), "x < y");
}

// User data written through the escaping forms survives a save and a strict load.
TEST(XmlWrite, UserDataRoundTrip) {
    sqtest::TempDir dir;
    struct Case {
        const char* in;
        const char* out;  // what XML can hold of it
    };
    const Case cases[] = {
        {"R&B", "R&B"},
        {"a&b;c", "a&b;c"},
        {"C:\\a&b\\c;d", "C:\\a&b\\c;d"},
        {"<x>", "<x>"},
        {"\"q\" 'a'", "\"q\" 'a'"},
        {"ctl\x01here", "ctlhere"},
        {"bad\xff" "byte", "badbyte"},
        {"Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac"},
        {"tab\tline\nend", "tab\tline\nend"},
    };
    CXML xml;
    xml.New("1.0", "r");
    for (const Case& c : cases) {
        xml.addTextChild("t", c.in);
        XmlNode attr = xml.addChild("a");
        xml.setAttribute("v", c.in);
        xml.SetCurrentNode(attr);
        xml.goParent();
        xml.addChild("s");
        xml.setNodeText(c.in);
        xml.goParent();
    }
    std::string path = dir.file("u.xml");
    ASSERT_GT(xml.Save(path.c_str(), "UTF-8"), 0);
    CXML back;
    ASSERT_EQ(back.Open(path.c_str()), 0) << sqtest::ReadFile(path);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int n = static_cast<int>(i);
        ASSERT_NE(back.goToKey("/r/t", n), nullptr);
        EXPECT_STREQ(back.getNodeValue(0), cases[i].out) << i;
        ASSERT_NE(back.goToKey("/r/a", n), nullptr);
        EXPECT_STREQ(back.getAttribute("v"), cases[i].out) << i;
        ASSERT_NE(back.goToKey("/r/s", n), nullptr);
        EXPECT_STREQ(back.getNodeValue(0), cases[i].out) << i;
    }
}

TEST(XmlWrite, EscapeHelpers) {
    EXPECT_EQ(XmlEscape("a<b>&\"c'\x02"), "a&lt;b&gt;&amp;&quot;c&apos;");
    EXPECT_EQ(XmlStripInvalid("\xc0\xaf ok \xed\xa0\x80 \xef\xbf\xbe"), " ok  ");  // overlong, surrogate, U+FFFE
    EXPECT_EQ(XmlEscape(nullptr), "");
}

// --- plain-text helpers ---

struct Guarded {
    explicit Guarded(int size) : bytes(static_cast<size_t>(size) + 16, '#') {}
    char* start() { return bytes.data() + 8; }
    bool guardsIntact(int size) const {
        for (int i = 0; i < 8; ++i) {
            if (bytes[static_cast<size_t>(i)] != '#' || bytes[static_cast<size_t>(size + 8 + i)] != '#') return false;
        }
        return true;
    }
    std::vector<char> bytes;
};

TEST(XmlText, WriteXmlHeaderBounded) {
    const std::string full = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    const int len = static_cast<int>(full.size());
    for (int room : {0, 1, 2, len, len + 1, len + 10}) {
        Guarded buf(room);
        char* pos = buf.start();
        int left = room;
        int written = WriteXmlHeader(&pos, &left, 10, nullptr, nullptr);
        int expected = room > 0 ? std::min(len, room - 1) : 0;
        EXPECT_EQ(written, expected) << room;
        EXPECT_EQ(pos - buf.start(), expected) << room;
        EXPECT_EQ(left, room - expected) << room;
        EXPECT_TRUE(buf.guardsIntact(room)) << room;
        if (room > 0) {
            EXPECT_EQ(std::string(buf.start()), full.substr(0, static_cast<size_t>(expected)));
        }
    }
    char big[256];
    char* pos = big;
    int left = sizeof big;
    int written = WriteXmlHeader(&pos, &left, 11, "ISO-8859-1", "a.xsl");
    EXPECT_STREQ(big,
                 "<?xml version=\"1.1\" encoding=\"ISO-8859-1\"?>\n"
                 "<?xml-stylesheet type=\"text/xsl\" href=\"a.xsl\"?>\n");
    EXPECT_EQ(written, static_cast<int>(std::strlen(big)));
}

TEST(XmlText, WriteXmlStringBounded) {
    struct Case {
        int room;
        int indent;
        const char* expected;  // null: nothing written
    };
    const Case cases[] = {
        {64, 2, "    <a>x</a>\n"},
        {64, 0, "<a>x</a>\n"},
        {3, 2, nullptr},            // room below twice the indent
        {4, 2, "   "},              // exactly twice: blanks cut to fit with the NUL
        {14, 2, "    <a>x</a>\n"},  // length + 1
        {13, 2, "    <a>x</a>"},    // exactly the length: the line feed gives way to the NUL
        {0, 0, nullptr},
    };
    for (const Case& c : cases) {
        Guarded buf(c.room);
        char* pos = buf.start();
        int left = c.room;
        WriteXmlString(&pos, &left, c.indent, "<a>x</a>");
        EXPECT_TRUE(buf.guardsIntact(c.room)) << c.room;
        if (!c.expected) {
            EXPECT_EQ(pos, buf.start());
            EXPECT_EQ(left, c.room);
            continue;
        }
        EXPECT_STREQ(buf.start(), c.expected) << c.room;
        EXPECT_EQ(pos - buf.start(), static_cast<long>(std::strlen(c.expected)));
        EXPECT_EQ(left, c.room - static_cast<int>(std::strlen(c.expected)));
        EXPECT_GE(left, 1);
    }
}

TEST(XmlText, GetXMLValue) {
    const char* text = "<a><b>x</b></a><c>y</c>";
    struct Case {
        std::vector<const char*> names;
        int result;
        std::vector<int> offsets;  // -1: null
    };
    const Case cases[] = {
        {{"a", "b"}, 0, {3, 6}},
        {{"a", "c"}, -1, {3, 18}},       // c closes outside a: it keeps its content position
        {{"a", "zz", "b"}, -1, {3, -1, -1}},
        {{"c"}, 0, {18}},
        {{"b", "a"}, -1, {6, -1}},       // no <a> after <b>
    };
    for (const Case& c : cases) {
        std::vector<const char*> names = c.names;
        names.push_back(nullptr);
        std::vector<const char*> values(c.names.size(), reinterpret_cast<const char*>(1));
        EXPECT_EQ(GetXMLValue(text, names.data(), values.data()), c.result) << c.names[0];
        for (size_t i = 0; i < c.offsets.size(); ++i) {
            if (c.offsets[i] < 0) {
                EXPECT_EQ(values[i], nullptr) << i;
            } else {
                EXPECT_EQ(values[i], text + c.offsets[i]) << i;
            }
        }
    }
    // a closing tag missing keeps the content position of its level
    const char* open = "<a><b>x";
    const char* names[] = {"a", nullptr};
    const char* values[1];
    EXPECT_EQ(GetXMLValue(open, names, values), -1);
    EXPECT_EQ(values[0], open + 3);
    // tags with attributes do not match; overlong names are refused
    const char* withAttr = "<a id=\"1\">v</a>";
    EXPECT_EQ(GetXMLValue(withAttr, names, values), -1);
    EXPECT_EQ(values[0], nullptr);
    std::string longName(300, 'n');
    std::string longText = "<" + longName + ">v</" + longName + ">";
    const char* longNames[] = {longName.c_str(), nullptr};
    EXPECT_EQ(GetXMLValue(longText.c_str(), longNames, values), -1);
}

}  // namespace
