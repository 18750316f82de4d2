// The engine's preference-file functions on the global store: definitions, the user's values
// file, presets and revert.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Keys that revert leaves alone (prefixes), ended by null.
extern const char* const kRevertSkipList[];

// Frees the tree and builds it from definitions (a file, or text when fromBuffer is set), then
// sets the temporary folder's default to the system's. The definitions text is kept for revert.
// The engine's start-up sets the defaults that depend on the engine (EngineInit). 0 / -1.
int LoadPrefDefinitions(bool fromBuffer, const char* pathOrText, int length, const char* rootName);
// Writes the values that differ from their defaults to path (flat). 0 / -1 (the old file stays whole).
int SavePrefs(const char* path, const char* const* skip);
// A path ("X:\..." or one with a '/' as first or second character) is loaded as a values file
// with selector as its start key; anything else is values text with selector as an XPath.
int LoadPrefsFile(const char* pathOrText, int length, const char* selector);
// The values files of a start: each shipped file in order (a missing one is passed over), then the
// user's own file (missing on a first start). What the shipped files give is kept as the shipped
// value of each key, so that a choice of the user that differs from it is saved even where it
// equals the definitions' default. 0, or -1 when a file that exists cannot be read.
int LoadStartupPrefs(const std::vector<std::string>& shippedFiles, const char* userFile);
// Re-applies the definitions' defaults, except the keys of kRevertSkipList.
void RevertPrefs();
void ResetPrefToDefault(const char* key);
// Applies a preset file, read from disk each time (null: the definitions' defaults). 0 / -1.
int LoadPreset(const char* file, const char* const* skip, bool log);
// The preset file last loaded with the log flag.
std::string GetCurrentPresetPath();

// Where the preference functions log ("Loading preset file ..."); the engine's event log
// installs itself here. Nothing is logged until then.
using PrefLogFn = std::function<void(const char* source, const char* text)>;
void SetPrefLogHook(PrefLogFn fn);
