// Builds a preference tree in code for tests that need a few keys without a definitions file.
#pragma once

#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"

namespace sqtest {

class PrefBuilder {
public:
    // Clears the store and names its root.
    explicit PrefBuilder(PrefStore& store, const char* rootName = "QuorvexPrefs");

    // Adds a leaf at a dotted key, making the branches on the way. With a default text the value
    // and the default are set from it, as a definitions file does; string types get max 260.
    PrefNode* Add(const char* key, PrefType type, const char* defaultText = nullptr,
                  const std::vector<std::string>& options = {});

private:
    PrefStore& store_;
};

}  // namespace sqtest
