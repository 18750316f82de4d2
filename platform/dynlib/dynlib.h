// Shared libraries loaded at run time (plug-ins): open, look up a C entry point, close. A library
// is opened with its symbols kept to itself, so a plug-in cannot replace the program's functions.
#pragma once

#include <string>
#include <vector>

namespace platform {

class DynLib {
public:
    DynLib() = default;
    explicit DynLib(const std::string& path) { Open(path); }
    ~DynLib() { Close(); }
    DynLib(DynLib&& other) noexcept : handle_(other.handle_), error_(std::move(other.error_)) { other.handle_ = nullptr; }
    DynLib& operator=(DynLib&& other) noexcept;
    DynLib(const DynLib&) = delete;
    DynLib& operator=(const DynLib&) = delete;

    // Loads the library, binding every symbol now; false (with Error() set) when it cannot load.
    bool Open(const std::string& path);
    // Loads a system library by its name, searched on the library path (never for plug-ins).
    bool OpenFromLibraryPath(const std::string& name);
    // The address of an exported symbol, or null.
    void* Symbol(const char* name) const;
    template <typename Fn>
    Fn Function(const char* name) const { return reinterpret_cast<Fn>(Symbol(name)); }
    bool IsOpen() const { return handle_ != nullptr; }
    void* Handle() const { return handle_; }
    // Unloads the library (nothing when it is not open).
    void Close();
    // Gives up the handle without unloading: the library stays mapped for the process's life.
    void* Release();
    // The loader's reason for the last failure.
    const std::string& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

// Unloads a handle given up by Release.
void CloseLibraryHandle(void* handle);
// A handle of the running program itself (for the places that want one), never null.
void* ProgramModuleHandle();

// File names in folder matching a '*'/'?' pattern (case-sensitive), sorted; empty when the folder
// cannot be read. Only regular files (or links to them) are listed.
std::vector<std::string> ListLibraryFiles(const std::string& folder, const char* pattern);

}  // namespace platform
