// framepipe: puts a script's video as raw frames and its audio as WAV on two outputs.
#include "framepipe/run.h"

#include <csignal>

int main(int argc, char** argv) {
    // A reader that closes its pipe must give a failed write, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    return framepipe::Run(argc, argv);
}
