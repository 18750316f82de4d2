// The registry: a small key-value file in the data folder ("registry" in DataFolder()).
//
// Format: UTF-8 text, one line each. "[ROOT\sub\key]" opens a key; "name=data" below it is a value
// of that key, in file order (the value index counts them). ROOT is one of HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS. Key paths compare without regard to case
// and to '\' versus '/'. In names and data "\\", "\n", "\r" and "\=" (names only) stand for the
// backslash, line feed, carriage return and '='; a name beginning with '[', '#' or ';' is written
// with a '\' before it. Lines starting with '#' or ';' are comments.
#pragma once

#include <string>

namespace platform {

enum class RegRoot { ClassesRoot = 0, CurrentUser = 1, LocalMachine = 2, Users = 3 };

// Path of the registry file: DataFolder() + "/registry"; empty when there is no data folder.
std::string RegistryFile();

// Reads the value at `index` (0-based, file order) of the key; false when the file, the key or
// the value does not exist. Either output may be null.
bool RegistryReadValue(const std::string& file, RegRoot root, const std::string& subKey, int index,
                       std::string* name, std::string* data);

// Sets a value (replacing one of the same name, case-insensitively), creating the key when
// missing. The file is replaced through ReplaceFileDurably (platform/fs.h). False when the
// key path holds a line break, or the file exists but cannot be read (it is then left alone).
bool RegistryWriteValue(const std::string& file, RegRoot root, const std::string& subKey,
                        const std::string& name, const std::string& data);

}  // namespace platform
