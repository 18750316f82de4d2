// Checks the preference files shipped in data/: the definitions (qxcore.xml) hold every key the
// program reads, with the type its readers expect, and defaults that fit their ranges and option
// lists; the value files name only defined keys with values those keys accept.
//
// The files are read with libxml2 the way the preference loaders read them: in a branch an
// optional first desc, then node elements; any other element or an unknown type ends the branch,
// so everything after it would be silently lost. Those cases are reported as faults here.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "support/shipped_data.h"

namespace {

namespace fs = std::filesystem;

using sqtest::DataFile;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// Strict parse: a values file that is not well-formed is ignored whole by the loader.
DocPtr ReadStrict(const std::string& path) {
    return DocPtr(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET));
}

std::string Attr(xmlNode* el, const char* name) {
    xmlChar* v = xmlGetProp(el, reinterpret_cast<const xmlChar*>(name));
    if (!v) return {};
    std::string s(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return s;
}

bool IsNamed(xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

// The element's first text or CDATA child with leading white space skipped, as the loader reads
// it; nothing when there is none or it is only white space.
std::optional<std::string> FirstText(xmlNode* el) {
    for (xmlNode* c = el->children; c; c = c->next) {
        if (c->type != XML_TEXT_NODE && c->type != XML_CDATA_SECTION_NODE) continue;
        std::string s(reinterpret_cast<const char*>(c->content));
        size_t b = s.find_first_not_of(" \t\r\n");
        if (b == std::string::npos) return std::nullopt;
        return s.substr(b);
    }
    return std::nullopt;
}

long XPathCount(xmlDoc* doc, const char* expr) {
    xmlXPathContext* ctx = xmlXPathNewContext(doc);
    xmlXPathObject* obj = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr), ctx);
    long n = obj && obj->type == XPATH_NUMBER ? static_cast<long>(obj->floatval) : -1;
    xmlXPathFreeObject(obj);
    xmlXPathFreeContext(ctx);
    return n;
}

std::vector<xmlNode*> XPathNodes(xmlDoc* doc, const char* expr) {
    std::vector<xmlNode*> out;
    xmlXPathContext* ctx = xmlXPathNewContext(doc);
    xmlXPathObject* obj = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr), ctx);
    if (obj && obj->nodesetval)
        for (int i = 0; i < obj->nodesetval->nodeNr; ++i) out.push_back(obj->nodesetval->nodeTab[i]);
    xmlXPathFreeObject(obj);
    xmlXPathFreeContext(ctx);
    return out;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += "\n  " + l;
    return s;
}

// One definition as the tree builder would make it.
struct Def {
    std::string type;
    std::string minText, maxText;
    std::vector<std::string> options;  // every option written, empty ones included
    std::optional<std::string> value;  // the last value child's text
    int sel = -1;                      // option index of an enum element with sel
};

bool IsValueType(const std::string& t) {
    return t == "int" || t == "enum" || t == "bool" || t == "float" || t == "string" || t == "file" ||
           t == "dir";
}
bool IsBranchType(const std::string& t) { return t == "node" || t == "root"; }

bool ParseLong(const std::string& text, long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0') return false;
    *out = v;
    return true;
}

class Definitions {
public:
    explicit Definitions(const std::string& path) : doc_(ReadStrict(path)) {
        if (!doc_) return;
        Walk(xmlDocGetRootElement(doc_.get()), "");
    }

    bool parsed() const { return doc_ != nullptr; }
    xmlDoc* doc() const { return doc_.get(); }
    const std::map<std::string, Def>& keys() const { return keys_; }
    const std::vector<std::string>& faults() const { return faults_; }
    int reachable() const { return reachable_; }

    const Def* Find(const std::string& key) const {
        auto it = keys_.find(key);
        return it == keys_.end() ? nullptr : &it->second;
    }

private:
    void Walk(xmlNode* branch, const std::string& prefix) {
        bool first = true;
        std::set<std::string> seen;
        for (xmlNode* c = branch->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE) continue;
            bool wasFirst = first;
            first = false;
            if (wasFirst && IsNamed(c, "desc")) continue;
            std::string where = prefix.empty() ? "the top" : prefix;
            if (!IsNamed(c, "node")) {
                faults_.push_back("element <" + std::string(reinterpret_cast<const char*>(c->name)) +
                                  "> ends the children of " + where);
                return;
            }
            std::string type = Attr(c, "type"), key = Attr(c, "key");
            if (!IsValueType(type) && !IsBranchType(type)) {
                faults_.push_back("type \"" + type + "\" of \"" + key + "\" ends the children of " + where);
                return;
            }
            if (key.empty() || key.find_first_of("./") != std::string::npos) {
                faults_.push_back("bad key segment \"" + key + "\" under " + where);
                continue;
            }
            if (!seen.insert(key).second) {
                faults_.push_back("\"" + key + "\" appears twice under " + where + "; the second is unreachable");
                continue;
            }
            std::string full = prefix.empty() ? key : prefix + "." + key;
            ++reachable_;
            Def def;
            def.type = type;
            if (IsBranchType(type)) {
                keys_[full] = def;
                Walk(c, full);
                continue;
            }
            def.minText = Attr(c, "min");
            def.maxText = Attr(c, "max");
            for (xmlNode* v = c->children; v; v = v->next) {
                if (IsNamed(v, "enum")) {
                    std::string text = FirstText(v).value_or("");
                    size_t before = def.options.size();
                    std::stringstream parts(text);
                    std::string part;
                    while (std::getline(parts, part, '|')) def.options.push_back(part);
                    if (text.empty() || text.back() == '|') def.options.push_back("");
                    if (!Attr(v, "sel").empty()) {
                        if (def.options.size() - before != 1)
                            faults_.push_back(full + ": sel on an enum element with several options");
                        def.sel = static_cast<int>(before);
                    }
                } else if (IsNamed(v, "value")) {
                    def.value = FirstText(v);
                }
            }
            keys_[full] = std::move(def);
        }
    }

    DocPtr doc_;
    std::map<std::string, Def> keys_;
    std::vector<std::string> faults_;
    int reachable_ = 0;
};

const Definitions& Shipped() {
    static const Definitions defs(DataFile("qxcore.xml"));
    return defs;
}

// Options up to the first empty one: what the tree keeps.
std::vector<std::string> KeptOptions(const Def& d) {
    std::vector<std::string> kept;
    for (const auto& o : d.options) {
        if (o.empty()) break;
        size_t skip = (o[0] == '\t' || o[0] == ' ') ? 1 : 0;
        kept.push_back(o.substr(skip));
    }
    return kept;
}

// Whether a value text suits a definition; the reason when it does not. Shipped files must use
// the plain forms: an option text or index, a whole number, a known boolean word.
std::optional<std::string> CheckValue(const Def& d, const std::string& text) {
    if (!text.empty() && text[0] == '~') return "starts with '~' and would be applied as an operator";
    if (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) return "ends in white space";
    long n = 0;
    double f = 0;
    long min = 0, max = 0;
    ParseLong(d.minText, &min);
    ParseLong(d.maxText, &max);
    bool ranged = min != 0 || max != 0;  // both 0: no range
    if (d.type == "int") {
        if (!ParseLong(text, &n) || n < INT_MIN || n > INT_MAX) return "is not a 32-bit whole number";
        if (ranged && (n < min || n > max)) return "lies outside " + d.minText + ".." + d.maxText;
    } else if (d.type == "float") {
        if (!ParseDouble(text, &f)) return "is not a number";
        if (ranged && (f < min || f > max)) return "lies outside " + d.minText + ".." + d.maxText;
    } else if (d.type == "bool") {
        static const char* const words[] = {"true", "false", "enabled", "disabled", "0", "1"};
        for (const char* w : words)
            if (strcasecmp(text.c_str(), w) == 0) return std::nullopt;
        return "is not a boolean word";
    } else if (d.type == "enum") {
        auto kept = KeptOptions(d);
        for (const auto& o : kept)
            if (strcasecmp(o.c_str(), text.c_str()) == 0) return std::nullopt;
        if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) && ParseLong(text, &n) &&
            n < static_cast<long>(kept.size()))
            return std::nullopt;
        return "is neither an option nor an option index";
    } else {
        size_t limit = (ParseLong(d.maxText, &max) && max > 0) ? static_cast<size_t>(max) : 260;
        if (text.size() > limit) return "is longer than the key's " + std::to_string(limit) + " characters";
    }
    return std::nullopt;
}

struct ListedKey {
    std::string key, type;
};

std::vector<ListedKey> ReadKeyList() {
    std::vector<ListedKey> out;
    std::ifstream in(std::string(SQ_TEST_DATA_DIR) + "/prefkeys.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        ListedKey k;
        words >> k.key >> k.type;
        out.push_back(k);
    }
    return out;
}

TEST(ShippedPrefs, DefinitionsParseStrictlyAndEveryNodeIsReachable) {
    const Definitions& defs = Shipped();
    ASSERT_TRUE(defs.parsed()) << DataFile("qxcore.xml") << " is not well-formed";
    EXPECT_TRUE(defs.faults().empty()) << Join(defs.faults());
    // A node after a stray element or a misspelt type would vanish without a word.
    EXPECT_EQ(XPathCount(defs.doc(), "count(//node)"), defs.reachable());
    EXPECT_EQ(XPathCount(defs.doc(), "count(//node[not(@type)])"), 0);
}

TEST(ShippedPrefs, EveryNamedKeyExistsWithItsType) {
    const Definitions& defs = Shipped();
    ASSERT_TRUE(defs.parsed());
    auto listed = ReadKeyList();
    ASSERT_GT(listed.size(), 250u) << "the key list did not load";
    std::vector<std::string> faults;
    for (const auto& k : listed) {
        const Def* d = defs.Find(k.key);
        if (!d)
            faults.push_back(k.key + " is missing");
        else if (d->type != k.type)
            faults.push_back(k.key + " is " + d->type + ", its readers expect " + k.type);
    }
    EXPECT_TRUE(faults.empty()) << Join(faults);
}

TEST(ShippedPrefs, DefaultsFitRangesAndOptionLists) {
    const Definitions& defs = Shipped();
    ASSERT_TRUE(defs.parsed());
    std::vector<std::string> faults;
    for (const auto& [key, d] : defs.keys()) {
        if (!IsValueType(d.type)) continue;
        long min = 0, max = 0;
        if (!d.minText.empty() && (!ParseLong(d.minText, &min) || min < -32768 || min > 32767))
            faults.push_back(key + ": min " + d.minText + " does not fit the 16 bits it is kept in");
        if (!d.maxText.empty() && (!ParseLong(d.maxText, &max) || max < 0))
            faults.push_back(key + ": max " + d.maxText + " is not a non-negative number");
        if (!d.minText.empty() && !d.maxText.empty() && max != 0 && min > max)
            faults.push_back(key + ": min above max");
        if (d.type == "enum") {
            auto kept = KeptOptions(d);
            if (kept.empty()) faults.push_back(key + ": enumeration without options");
            if (kept.size() != d.options.size())
                faults.push_back(key + ": an empty option cuts the list after " + std::to_string(kept.size()));
            std::set<std::string> lower;
            for (auto o : kept) {
                for (auto& ch : o) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                if (!lower.insert(o).second) faults.push_back(key + ": option \"" + o + "\" twice");
            }
            if (d.sel >= static_cast<int>(kept.size())) faults.push_back(key + ": sel past the list");
        } else if (!d.options.empty()) {
            faults.push_back(key + ": options on a " + d.type + " key");
        }
        if (d.value) {
            if (auto why = CheckValue(d, *d.value)) faults.push_back(key + ": default \"" + *d.value + "\" " + *why);
        } else if (d.type == "enum" && d.sel < 0) {
            faults.push_back(key + ": enumeration without a default");
        }
    }
    EXPECT_TRUE(faults.empty()) << Join(faults);
}

TEST(ShippedPrefs, RunTimeDefaultsCarryNoValue) {
    // Set from the machine after loading; revert re-applies the definitions as values, so a
    // value here would overwrite the machine's default.
    const char* const keys[] = {"overall.task.tempdir", "overall.generic.fileTypes",
                                "overall.presets.languages", "videosrc.avisynth.path"};
    for (const char* key : keys) {
        const Def* d = Shipped().Find(key);
        ASSERT_NE(d, nullptr) << key;
        EXPECT_FALSE(d->value.has_value()) << key << " has the value " << d->value.value_or("");
    }
}

// Walks a values file as the loader does: a child's key is its parent's full key, ".", and its
// own key attribute, so flat and nested forms both resolve.
using Leaf = std::pair<std::string, std::string>;  // full key, value text

void CheckValuesElement(xmlNode* el, const std::string& parentKey, const Definitions& defs,
                        std::vector<std::string>* faults, std::vector<Leaf>* leaves = nullptr) {
    for (xmlNode* c = el->children; c; c = c->next) {
        if (!IsNamed(c, "node")) {
            if (c->type == XML_ELEMENT_NODE)
                faults->push_back("element <" + std::string(reinterpret_cast<const char*>(c->name)) +
                                  "> under \"" + parentKey + "\" is ignored by the loader");
            continue;
        }
        std::string own = Attr(c, "key");
        for (auto& ch : own)
            if (ch == '/') ch = '.';
        std::string key = parentKey.empty() ? own : parentKey + "." + own;
        const Def* d = defs.Find(key);
        if (!d) {
            faults->push_back("\"" + key + "\" is not defined");
            continue;
        }
        bool hasChildren = false;
        std::vector<std::string> forms;
        std::string attr = Attr(c, "value");
        if (!attr.empty()) forms.push_back(attr);
        if (auto text = FirstText(c)) forms.push_back(*text);
        for (xmlNode* v = c->children; v; v = v->next) {
            if (IsNamed(v, "node")) hasChildren = true;
            if (IsNamed(v, "value")) forms.push_back(FirstText(v).value_or(""));
        }
        if (IsBranchType(d->type)) {
            if (!forms.empty()) faults->push_back("\"" + key + "\" is a branch and takes no value");
            CheckValuesElement(c, key, defs, faults, leaves);
            continue;
        }
        if (hasChildren) faults->push_back("\"" + key + "\" is a leaf but has node children");
        if (forms.size() != 1) {
            faults->push_back("\"" + key + "\" gives " + std::to_string(forms.size()) +
                              " values; shipped files give exactly one");
            continue;
        }
        if (auto why = CheckValue(*d, forms[0])) faults->push_back("\"" + key + "\": \"" + forms[0] + "\" " + *why);
        if (leaves) leaves->emplace_back(key, forms[0]);
    }
}

TEST(ShippedPrefs, ValueFilesNameOnlyDefinedKeysWithAcceptedValues) {
    const Definitions& defs = Shipped();
    ASSERT_TRUE(defs.parsed());
    for (const char* name : {"qxcore64.xml", "defaults.xml", "wine.xml", "sonquill.xml"}) {
        SCOPED_TRACE(name);
        DocPtr doc = ReadStrict(DataFile(name));
        ASSERT_TRUE(doc) << name << " is not well-formed, so the loader would skip it whole";
        EXPECT_GT(XPathCount(doc.get(), "count(//node[@key])"), 0) << name << " sets nothing";
        std::vector<std::string> faults;
        CheckValuesElement(xmlDocGetRootElement(doc.get()), "", defs, &faults);
        EXPECT_TRUE(faults.empty()) << Join(faults);
    }
}

TEST(ShippedPrefs, CodecsDescriptionMatchesTheDefinitions) {
    // Encoders are found in the codecs description by the option text of the encoder key, and
    // its command-line rules read preferences by key: a name or key that does not match leaves
    // an encoder without a command line.
    std::string path = DataFile("qxcodecs.xml");
    if (!fs::exists(path)) GTEST_SKIP() << "no codecs description shipped yet";
    DocPtr doc = ReadStrict(path);
    ASSERT_TRUE(doc) << path << " is not well-formed";
    const Definitions& defs = Shipped();
    ASSERT_TRUE(defs.parsed());
    const Def* encoder = defs.Find("overall.audio.encoder");
    ASSERT_NE(encoder, nullptr);
    auto names = KeptOptions(*encoder);
    std::vector<std::string> faults;
    for (xmlNode* el : XPathNodes(doc.get(), "/codecs/audio/encoder")) {
        std::string name = Attr(el, "name");
        bool known = false;
        for (const auto& n : names) known = known || n == name;
        if (!known) faults.push_back("encoder \"" + name + "\" is no option of overall.audio.encoder");
    }
    for (xmlNode* el : XPathNodes(doc.get(), "//*[@key] | //*[@test]")) {
        std::string key = Attr(el, "key");
        if (key.empty()) key = Attr(el, "test");
        const Def* d = defs.Find(key);
        if (!d || !IsValueType(d->type)) {
            faults.push_back("<" + std::string(reinterpret_cast<const char*>(el->name)) + "> names undefined key \"" +
                             key + "\"");
            continue;
        }
        std::string expected = Attr(el, "value");
        if (!Attr(el, "test").empty() && !expected.empty() && d->type == "enum") {
            bool found = false;
            for (const auto& o : KeptOptions(*d)) found = found || o == expected;
            if (!found) faults.push_back("test of " + key + " compares with \"" + expected + "\", no option text");
        }
    }
    EXPECT_TRUE(faults.empty()) << Join(faults);
}

PrefType TypeCode(const std::string& name) {
    static const std::map<std::string, PrefType> codes = {
        {"int", kPrefInt},       {"enum", kPrefEnum}, {"bool", kPrefBool}, {"float", kPrefFloat},
        {"string", kPrefString}, {"file", kPrefFile}, {"dir", kPrefDir},   {"node", kPrefNode},
    };
    auto it = codes.find(name);
    return it == codes.end() ? kPrefEnd : it->second;
}

// Reads key with the getter of its type and compares with the text it was given (a default or a
// value file's value); empty when they agree.
std::string ReadsBackAs(PrefStore& store, const std::string& key, const Def& d, const std::string& text) {
    const char* k = key.c_str();
    std::string got;
    bool same = true;
    if (d.type == "int") {
        got = std::to_string(store.GetInt(k));
        same = store.GetInt(k) == std::atoi(text.c_str());
    } else if (d.type == "enum") {
        got = store.GetEnumText(k, -1);
        long index = 0;
        same = strcasecmp(got.c_str(), text.c_str()) == 0 || (ParseLong(text, &index) && store.GetInt(k) == index);
    } else if (d.type == "bool") {
        bool want = strcasecmp(text.c_str(), "true") == 0 || strcasecmp(text.c_str(), "enabled") == 0 || text == "1";
        got = store.GetBool(k) ? "true" : "false";
        same = store.GetBool(k) == want;
    } else if (d.type == "float") {
        got = std::to_string(store.GetFloat(k));
        same = store.GetFloat(k) == static_cast<float>(std::strtod(text.c_str(), nullptr));
    } else {
        got = store.GetString(k);
        std::string want = text;
        if (d.type == "dir" && !want.empty() && want.back() != '/' && want.back() != '\\') want += '/';
        same = got == want;
    }
    return same ? std::string() : key + " reads \"" + got + "\", expected \"" + text + "\"";
}

TEST(ShippedPrefs, StoreLoadsTheShippedFilesAndReadsEveryKey) {
    const Definitions& defs = Shipped();
    ASSERT_TRUE(defs.parsed());
    PrefStore store;
    ASSERT_EQ(store.LoadDefinitionsFile(DataFile("qxcore.xml").c_str(), "QuorvexPrefs"), 0);

    std::vector<std::string> faults;
    for (const auto& k : ReadKeyList()) {
        const PrefNode* node = store.FindNode(k.key.c_str());
        if (!node) {
            faults.push_back(k.key + " is not in the store's tree");
            continue;
        }
        if (node->type != TypeCode(k.type)) {
            faults.push_back(k.key + " has type code " + std::to_string(node->type) + " in the store");
            continue;
        }
        const Def* d = defs.Find(k.key);
        if (!d || !IsValueType(d->type)) continue;
        if (d->type == "enum" && (store.GetInt(k.key.c_str()) < 0 || store.GetInt(k.key.c_str()) >= node->OptionCount()))
            faults.push_back(k.key + " holds an index outside its " + std::to_string(node->OptionCount()) + " options");
        if (d->value) {
            std::string why = ReadsBackAs(store, k.key, *d, *d->value);
            if (!why.empty()) faults.push_back("default: " + why);
        }
    }
    EXPECT_TRUE(faults.empty()) << Join(faults);

    // The value files, in the order the program applies them; each value reads back as written.
    for (const char* name : {"qxcore64.xml", "defaults.xml", "wine.xml", "sonquill.xml"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(store.LoadValuesFile(DataFile(name).c_str(), nullptr, nullptr, nullptr), 0);
        DocPtr doc = ReadStrict(DataFile(name));
        ASSERT_TRUE(doc);
        std::vector<std::string> ignored;
        std::vector<Leaf> leaves;
        CheckValuesElement(xmlDocGetRootElement(doc.get()), "", defs, &ignored, &leaves);
        ASSERT_FALSE(leaves.empty());
        for (const auto& [key, text] : leaves) {
            std::string why = ReadsBackAs(store, key, *defs.Find(key), text);
            EXPECT_TRUE(why.empty()) << why;
        }
    }
}

}  // namespace
