#include "engine/prefs/prefnode.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const kTypeNames[] = {"", "int", "enum", "bool", "float", "string", "file", "dir", "node", "root"};

}  // namespace

const char* PrefTypeName(int type) {
    return type > 0 && type <= kPrefRoot ? kTypeNames[type] : "";
}

PrefType PrefTypeFromName(const char* name) {
    if (!name) return kPrefEnd;
    for (int t = kPrefInt; t <= kPrefRoot; ++t) {
        if (std::strcmp(name, kTypeNames[t]) == 0) return static_cast<PrefType>(t);
    }
    return kPrefEnd;
}

PrefNode::~PrefNode() { Reset(); }

int PrefNode::OptionCount() const {
    int n = 0;
    for (const std::string& o : options) {
        if (o.empty()) break;
        ++n;
    }
    return n;
}

const char* PrefNode::OptionText(int i) const {
    if (i < 0 || i >= OptionCount()) return nullptr;
    const char* s = options[static_cast<size_t>(i)].c_str();
    if (*s == '\t' || *s == ' ') ++s;
    return s;
}

void PrefNode::Reset() {
    children.clear();
    std::free(const_cast<char*>(text.exchange(nullptr)));
    std::free(const_cast<char*>(defText.exchange(nullptr)));
    capacity = 0;
    hasShipped = false;
    shipped.clear();
    options.clear();
    label.clear();
    key.clear();
    description.clear();
    type = kPrefEnd;
    flags = 0;
    min = 0;
    max = 0;
    defNumber = 0;
    number = 0;
    defFloat = 0.0f;
    fvalue = 0.0f;
}
