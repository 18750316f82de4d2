// Message boxes. The engine shows a few fixed messages (start-up failures, wrong-type settings).
// Without a user interface they go to standard error; the user interface installs a hook that
// shows its own dialog. Only the UI thread may block on a dialog: on any other thread the
// message is written to standard error and the default answer returned at once.
#pragma once

#include <functional>

namespace platform {

// Styles (low bits: buttons) and answers, numbered as the callers expect them.
enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNoCancel = 0x3,
    kMbYesNo = 0x4,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInfo = 0x40,
    kMbSystemModal = 0x1000,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

using MessageBoxHook = std::function<int(void* owner, const char* text, const char* caption, unsigned style)>;

// Shows a message box and returns the answer (kIdOk, kIdYes, ...).
int ShowMessageBox(void* owner, const char* text, const char* caption, unsigned style);

// Installs the user interface's dialog (an empty hook restores standard error).
void SetMessageBoxHook(MessageBoxHook hook);

// Marks the calling thread as the UI thread: the only one on which the hook may block.
void SetUiThread();
bool IsUiThread();

// The answer given without asking: OK for OK boxes, Yes for Yes/No, Cancel for Yes/No/Cancel.
int DefaultMessageBoxAnswer(unsigned style);

}  // namespace platform
