#include "support/pref_builder.h"

#include <memory>

namespace sqtest {

PrefBuilder::PrefBuilder(PrefStore& store, const char* rootName) : store_(store) {
    store_.Clear();
    store_.root.key = rootName;
}

PrefNode* PrefBuilder::Add(const char* key, PrefType type, const char* defaultText,
                           const std::vector<std::string>& options) {
    PrefNode* parent = &store_.root;
    std::string rest = key;
    for (;;) {
        size_t dot = rest.find('.');
        std::string segment = rest.substr(0, dot);
        PrefNode* found = nullptr;
        for (auto& child : parent->children) {
            if (child->key == segment) found = child.get();
        }
        if (!found) {
            parent->children.push_back(std::make_unique<PrefNode>());
            found = parent->children.back().get();
            found->key = segment;
            found->type = dot == std::string::npos ? type : kPrefNode;
        }
        if (dot == std::string::npos) {
            found->options = options;
            if (found->IsText() && found->max == 0) found->max = 260;
            if (defaultText) {
                store_.SetNodeFromText(found, defaultText);
                found->defNumber.store(found->number.load());
                found->defFloat.store(found->fvalue.load());
                if (found->IsText()) store_.SetNodeDefault(found, found->Text(), false);
            }
            return found;
        }
        parent = found;
        rest = rest.substr(dot + 1);
    }
}

}  // namespace sqtest
