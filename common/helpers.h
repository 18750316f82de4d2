// Every plain helper function qxcommon exports: files and paths, text and numbers, time, system.
#pragma once

#include "common/fileutil.h"
#include "common/sysutil.h"
#include "common/textutil.h"
#include "common/timeutil.h"
