// The count-down prompt through which the engine and the batch end ask the user: a message, a
// confirmation (OK/Cancel) or a question (Yes/No), optionally with a "remember my choice" check
// box, ending by itself with its default result when the count-down runs out.
#pragma once

#include <cstdint>

#include "ui/framework/dialog.h"
#include "ui/ids.h"

namespace ui {

enum PromptKind : uint32_t { kPromptMessage = 0, kPromptConfirm = 1, kPromptQuestion = 2 };

class CDlgPrompt : public CDialogWindow {
public:
    CDlgPrompt(uint32_t kind, const char* message, const char* title, uint32_t countDown, bool withCheckBox = false,
               int defaultResult = 0);
    ~CDlgPrompt() override;

    // Shows the prompt modally from template 293 (no owner): 1 for OK or Yes, 0 for Cancel or No,
    // the default result on time-out or close; a kind of 3 or more answers -1 without a dialog.
    int Show(HWND owner = nullptr);

    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnTimer(gui::UINT_PTR id) override;
    bool OnClose() override;

    bool CheckBoxTicked() const { return checked_; }
    bool TimedOut() const { return timedOut_; }

    // Without a display nobody can answer: every prompt then takes its default result at once
    // instead of waiting out its count-down.
    static void SetAnswerAtOnce(bool atOnce);
    static bool AnswersAtOnce();

private:
    void TimerStep();
    void Finish(int result);

    uint32_t kind_;
    const char* titleText_;
    const char* message_;
    uint32_t countDown_;
    uint32_t withCheckBox_;
    int defaultResult_;
    bool checked_ = false;
    bool timedOut_ = false;
    bool timerRunning_ = false;
};

}  // namespace ui
