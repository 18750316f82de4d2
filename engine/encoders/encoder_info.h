// The encoder record as the command-line builder and the task variables see it.
#pragma once

#include "engine/encoders/encoder.h"
