// Functions of a system library called through a table filled at run time instead of linked, so a
// program that never uses the library does not load it, nor what it pulls in, at its start. A user
// lists the functions it calls in an X-macro, declares its table with one SQ_TABLE_FUNCTION member
// per function and fills it with a FunctionTableLoader on first use.
#pragma once

#include <string>

// One member of a table: the function's own name, of the type its header declares (a variadic
// function keeps its C prototype, "..." included).
#define SQ_TABLE_FUNCTION(name) decltype(&::name) name = nullptr;

namespace platform {

// Opens libraries by the sonames their Debian packages install and never closes them: what their
// functions hand out (connections, main loops, windows) lives in them until the process ends. The
// first library or function that cannot be had is kept, and Finish says it in one line.
class FunctionTableLoader {
public:
    // `user` starts the line on standard error ("http: ...").
    explicit FunctionTableLoader(const char* user) : user_(user) {}

    // Opens a library; the Resolve calls that follow look in it.
    void Open(const char* soname);
    // Looks a function up by name into a member of its own type (null once anything is missing).
    template <typename Function>
    void Resolve(const char* name, Function& function) {
        function = reinterpret_cast<Function>(Symbol(name));
    }
    // True when every library and function was found; false after one line on standard error.
    bool Finish() const;

private:
    void* Symbol(const char* name);

    const char* user_;
    const char* soname_ = nullptr;
    void* library_ = nullptr;
    std::string missing_;
};

}  // namespace platform
