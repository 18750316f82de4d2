// framepipe <script> <video output> <audio output> [duration ms] [colour space] [compressor]
#pragma once

namespace framepipe {

// Runs the frame pipe on the program's arguments; the program's exit code (-1 for too few arguments).
int Run(int argc, char** argv);

}  // namespace framepipe
