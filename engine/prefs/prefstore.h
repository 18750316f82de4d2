// The preference tree: every setting of the program, addressed by dotted keys such as
// "overall.task.mode". One global store exists (GetPrefStore).
//
// Keys are cut at "." and "/"; each segment is compared exactly. A missing key never fails
// loudly: getters give 0, 0.0, false or "", setters do nothing. Getters look at the node's type
// and never read a value as another type. A setter of the wrong type shows a message box and
// changes nothing.
//
// Numbers are read and written without a lock (atomics). String replacement, loading and revert
// run under the preference lock, the store document's re-entrant mutex. A string handed out by a
// getter stays valid until Clear.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/charset.h"
#include "common/xml.h"
#include "engine/prefs/prefnode.h"

// The full dotted keys of the tree, hashed, for lookups that do not walk the levels.
struct PrefKeyIndex;

// One row of an option table for AppendOptions; a row with a null key ends the table.
struct PrefOption {
    const char* key;
    const char* pattern;
};

class PrefStore {
public:
    PrefStore();
    ~PrefStore();
    PrefStore(const PrefStore&) = delete;
    PrefStore& operator=(const PrefStore&) = delete;

    // The preference lock (re-entrant).
    void Lock() { document.Lock(); }
    void Unlock() { document.Unlock(); }

    // --- key resolution ---

    // Null key: the root. Otherwise the node named by the key's segments, or null.
    PrefNode* FindNode(const char* key);
    // Indexes every reachable key of the tree; loading definitions does this. A tree built or
    // extended by hand is still searched level by level for keys the index does not hold.
    void RebuildKeyIndex();

    // --- getters ---

    // int, enum index, bool 0/1; a float truncated; a string type: its text as a number.
    int GetInt(const char* key);
    // Numbers and floats: non-zero; string types: a non-empty text.
    bool GetBool(const char* key);
    // The float; int, enum and bool converted; 0.0 otherwise.
    float GetFloat(const char* key);
    // The text of a string, file or dir node; "" for every other type and a null value.
    const char* GetString(const char* key);
    // lead followed by the string value; empty when the key is missing or its value is null.
    std::string GetStringObj(const char* key, char lead);
    // The value slot: the string pointer for string types, the address of the number or of the
    // float otherwise; null when missing.
    const void* GetValuePtr(const char* key);
    // Option i (i < 0: the current value), a leading tab or blank skipped; "" past the list.
    const char* GetEnumText(const char* key, int index);
    const char* NodeEnumText(const PrefNode* node, int index);
    // The value as text; empty when missing.
    std::string GetValueText(const char* key);
    std::string NodeValueText(const PrefNode* node);
    // The value as text in buf (size bytes, always terminated); the count stored.
    int FormatValue(const char* key, char* buf, int size);
    int FormatNodeValue(const PrefNode* node, char* buf, int size);

    // --- setters ---

    void SetInt(const char* key, int value);
    void SetBool(const char* key, bool value);
    void SetFloat(const char* key, float value);
    void SetString(const char* key, const char* text);
    // Sets any value type from its text form; false when missing or not a value type.
    bool SetFromText(const char* key, const char* text);
    // Replaces the default (the overload matching the node's type); true when the key exists.
    bool SetDefault(const char* key, int value, bool apply);
    bool SetDefault(const char* key, double value, bool apply);
    bool SetDefault(const char* key, const char* value, bool apply);
    void ResetToDefault(const char* key);

    void SetNodeString(PrefNode* node, const char* text);
    bool SetNodeFromText(PrefNode* node, const char* text);
    // With apply, a value that was at the old default follows to the new one.
    void SetNodeDefault(PrefNode* node, int value, bool apply);
    void SetNodeDefault(PrefNode* node, double value, bool apply);
    void SetNodeDefault(PrefNode* node, const char* value, bool apply);
    bool IsDefault(const PrefNode* node);
    void ResetNodeToDefault(PrefNode* node);
    // Applies "~" followed by an operator ('*', '+', '-') and its operand to the current value.
    void ApplyRelative(PrefNode* node, const char* text);

    // Builds a command-line fragment from (key, pattern) rows; every piece is preceded by the
    // separator. Values are quoted so that the Windows C runtime's argv rules split them back.
    std::string AppendOptions(const PrefOption* rows, char separator);
    std::string AppendOptions(const PrefOption* rows, const char* separator);

    // Frees the whole tree, every string ever handed out and the kept definitions path.
    void Clear();

    // --- definition and value files (preffiles.cpp) ---
    // Every operation on the working document holds the preference lock.

    // Builds the tree from a definitions file or text; the top node gets rootName. 0 / -1 (a file
    // that cannot be read or parsed leaves the tree as it was).
    int LoadDefinitionsFile(const char* path, const char* rootName);
    int LoadDefinitionsBuffer(const char* text, int length, const char* rootName);
    // Reads the children of the document's current element into parent.
    void BuildTree(PrefNode* parent);
    // Applies a values file (null: the definitions file last loaded). From the node an XPath finds,
    // else from the deepest element matching the start key's segments, else from the top.
    int LoadValuesFile(const char* path, const char* const* skip, const char* startKey, const char* xpath);
    int LoadValuesBuffer(const char* text, int length, const char* const* skip, const char* xpath);
    // Applies the document's current element, which holds the values for key (null: the top).
    void ApplyValues(const char* key);
    // Keeps every value's current text as its shipped value (after the shipped values files).
    void KeepShippedValues();
    // Writes the values that differ from their defaults, or from their shipped values, in the
    // flat form. The file is written
    // beside its final name and renamed over it, so a failed save leaves the old file whole.
    // 0 / -1.
    int SaveValuesFile(const char* path, const char* const* skip);
    // Writes node (and below it) into the working document at its cursor; a negative depth has
    // no limit, 1 is the node only.
    void WriteNodes(PrefNode* node, int mask, int depth, const std::string& prefix);
    // The subtree at startKey (null: all) as an indented XML text; *out is a heap copy for the
    // caller to free(). Its length.
    int ExportXml(char** out, const char* startKey, bool flat, const char* href, int mask, int depth);

    // --- fields ---

    bool flatOutput = false;                   // write values in the flat form
    PrefNode root;                             // type kPrefTop; key = the root name
    CXML document;                             // working document; its mutex is the preference lock
    CCharset converter;                        // values are UTF-8 inside the program: a verbatim copy
    std::string definitionsFile;               // definitions file last loaded from disk
    const char* const* saveSkip = nullptr;     // key prefixes left out while writing
    const char* const* applySkip = nullptr;    // key prefixes left out while applying values

private:
    // Publishes a new text buffer in slot; the old one is kept until Clear. Under the lock.
    void Publish(std::atomic<const char*>& slot, const char* text, int* capacity);
    void WrongType(const char* key, const char* caption);

    PrefNode* WalkToNode(const char* key);
    void DropKeyIndex();

    std::vector<char*> retired_;  // replaced string buffers, freed by Clear
    // The key index read without a lock; replaced ones are kept until Clear, like strings.
    std::atomic<const PrefKeyIndex*> keyIndex_{nullptr};
    std::vector<const PrefKeyIndex*> retiredIndexes_;
};

// The one store of the process.
PrefStore& GetPrefStore();
