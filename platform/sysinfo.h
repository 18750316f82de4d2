// Facts about the machine the engine sizes itself by.
#pragma once

namespace platform {

// Number of processors to plan for: the environment variable "NUMBER_OF_PROCESSORS" when it holds
// a positive number, else the number of processors online. Never 0.
int ProcessorCount();

// The Windows ANSI code page number that goes with the system's locale (language lists and peers
// name code pages by these numbers): from the codeset and language of LC_ALL, LC_CTYPE or LANG,
// whichever is set first, since the program need not have called setlocale. 1252 when nothing
// more specific fits. The environment variable "SQ_ANSI_CODEPAGE" overrides it when it holds a
// positive number.
int SystemAnsiCodePage();

}  // namespace platform
