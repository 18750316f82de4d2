// The CPU meter an encoder keeps beside its tool's process.
#pragma once

#include "engine/tools/cpu_usage.h"
