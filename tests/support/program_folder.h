// A temporary program folder holding the shipped data files (copied from the build's output
// folder), made the program folder and the working folder for the lifetime of the object.
#pragma once

#include <string>

#include "support/tempdir.h"

namespace sqtest {

class ProgramFolder {
public:
    // With withLanguages false, "lang.xml" and its tables are left out.
    explicit ProgramFolder(bool withLanguages = true);
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const TempDir& dir() const { return dir_; }
    std::string path() const { return dir_.path().string() + "/"; }
    // The whole text of a file in the folder.
    std::string read(const std::string& name) const { return ReadFile(dir_.file(name)); }

private:
    TempDir dir_;
    std::string oldCwd_;
};

}  // namespace sqtest
