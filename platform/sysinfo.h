// Facts about the machine the engine sizes itself by.
#pragma once

namespace platform {

// Number of processors to plan for: the environment variable "NUMBER_OF_PROCESSORS" when it holds
// a positive number, else the number of processors online. Never 0.
int ProcessorCount();

}  // namespace platform
