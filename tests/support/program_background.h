// The sonquill executable of the build run as a separate process, headless (SONQUILL_GUI=headless),
// with $APPDATA set to a data folder of the test and a working folder of its own: started in the
// background so that a test can signal or kill it, waited for with a deadline.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sqtest {

class ProgramInBackground {
public:
    // Starts `program` (the build's sonquill by default) with the arguments; standard error goes
    // to errFile, standard output is dropped.
    ProgramInBackground(const std::string& appData, const std::string& workFolder, const std::vector<std::string>& args,
                   const std::string& errFile, const std::string& program = SQ_OUT_DIR "/sonquill");
    // A process still running is killed and reaped.
    ~ProgramInBackground();
    ProgramInBackground(const ProgramInBackground&) = delete;
    ProgramInBackground& operator=(const ProgramInBackground&) = delete;

    pid_t pid() const { return pid_; }
    void Signal(int sig) const;
    // Waits up to the deadline for the end: the exit code, 128 + the signal that ended it, or -1
    // when it still runs.
    int Wait(int timeoutMs);

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs the program to its end (bounded): the exit code as Wait gives it.
int RunProgram(const std::string& appData, const std::string& workFolder, const std::vector<std::string>& args,
               const std::string& errFile, int timeoutMs = 120000);

}  // namespace sqtest
