// Marks the plain functions that qxcommon exports by name.
#pragma once

#ifndef QXHELPER_API
#define QXHELPER_API __attribute__((visibility("default")))
#endif
