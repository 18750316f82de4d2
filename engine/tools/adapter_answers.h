// The probe's identify run answered in the program: when the player the run would start is this
// system's own adapter, and the adapter answers the request from the file alone (a plain WAVE or
// a native FLAC file), the program gives the adapter's text itself, without starting a process.
#pragma once

#include <string>

// True with the output the run would print; false when the run is to be started as it stands.
bool AnswerIdentifyInProgram(const std::string& commandLine, std::string* output);
