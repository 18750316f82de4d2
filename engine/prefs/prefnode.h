// One node of the preference tree: a branch, or a typed value with its default, range, options,
// label and description.
//
// Values are read by many threads without a lock. Numbers are atomics; a string value is a buffer
// that is never changed once published: a new value gets a new buffer, and the store keeps the old
// one until the tree is cleared, so a pointer handed out by a getter stays valid.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Node types, numbered as the definition files and GetPrefInfo give them.
enum PrefType : uint8_t {
    kPrefEnd = 0,     // no node (ends a children list)
    kPrefInt = 1,
    kPrefEnum = 2,
    kPrefBool = 3,
    kPrefFloat = 4,
    kPrefString = 5,
    kPrefFile = 6,
    kPrefDir = 7,
    kPrefNode = 8,    // branch
    kPrefRoot = 9,    // branch
    kPrefTop = 10,    // the top of the tree
};

// Flag bits.
enum : uint8_t {
    kPrefNoSave = 1,
    kPrefNoRevert = 2,
};

// "int", "enum", ... "root" for types 1-9; "" for the others.
const char* PrefTypeName(int type);
// The type named by a definitions "type" attribute; kPrefEnd for a missing or unknown name.
PrefType PrefTypeFromName(const char* name);

struct PrefNode {
    PrefNode() = default;
    ~PrefNode();
    PrefNode(const PrefNode&) = delete;
    PrefNode& operator=(const PrefNode&) = delete;

    uint8_t type = kPrefEnd;
    uint8_t flags = 0;
    int16_t min = 0;
    uint32_t max = 0;            // for string types the maximum length (260 when not given)
    std::string label;
    std::string key;             // this level's segment
    std::string description;
    std::vector<std::string> options;  // enum option texts as defined (a leading tab or blank kept)

    // int, enum, bool: 64-bit numbers set by sign extension from 32 bits.
    std::atomic<int64_t> defNumber{0};
    std::atomic<int64_t> number{0};
    // float (a default of 0.0 is the same as no default).
    std::atomic<float> defFloat{0.0f};
    std::atomic<float> fvalue{0.0f};
    // string, file, dir: published buffers owned by this node; null reads as "".
    std::atomic<const char*> defText{nullptr};
    std::atomic<const char*> text{nullptr};
    int capacity = 0;            // size of the value's buffer; 0 when none
    // The value's text as the shipped values files left it at start-up (under the preference lock).
    bool hasShipped = false;
    std::string shipped;

    std::vector<std::unique_ptr<PrefNode>> children;  // empty for leaves

    bool IsValue() const { return type >= kPrefInt && type <= kPrefDir; }
    bool IsNumber() const { return type == kPrefInt || type == kPrefEnum || type == kPrefBool; }
    bool IsText() const { return type == kPrefString || type == kPrefFile || type == kPrefDir; }
    bool IsBranch() const { return type == kPrefNode || type == kPrefRoot || type == kPrefTop; }

    int32_t Number() const { return static_cast<int32_t>(number.load(std::memory_order_relaxed)); }
    float Float() const { return fvalue.load(std::memory_order_relaxed); }
    // The string value, or null.
    const char* Text() const { return text.load(std::memory_order_acquire); }
    const char* DefaultText() const { return defText.load(std::memory_order_acquire); }

    // Number of options, up to the first empty one.
    int OptionCount() const;
    // Option i with a leading tab or blank skipped; null past the list.
    const char* OptionText(int i) const;

    // Frees the children, strings and options and leaves an empty node.
    void Reset();
};
