#include "ui/dialogs/prompt.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "engine/queue/queue.h"
#include "ui/ids.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

std::atomic<bool> g_answerAtOnce{false};

constexpr gui::UINT_PTR kCountDownTimer = 0;

const char* Ui(const char* key) { return UiStrings().GetString(key); }

// Fills one "%d" of a translated text; a text with any other conversion is shown as it stands.
std::string FormatCount(const char* format, long long value) {
    std::string out;
    bool used = false;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else if (p[0] == '%' && p[1] == 'd' && !used) {
            out += std::to_string(value);
            used = true;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

void CDlgPrompt::SetAnswerAtOnce(bool atOnce) { g_answerAtOnce = atOnce; }
bool CDlgPrompt::AnswersAtOnce() { return g_answerAtOnce; }

CDlgPrompt::CDlgPrompt(uint32_t kind, const char* message, const char* title, uint32_t countDown, bool withCheckBox,
                       int defaultResult)
    : kind_(kind),
      titleText_(title),
      message_(message ? message : ""),
      countDown_(countDown),
      withCheckBox_(withCheckBox ? 1 : 0),
      defaultResult_(defaultResult) {}

CDlgPrompt::~CDlgPrompt() {
    if (hwnd_) Close();
}

int CDlgPrompt::Show(HWND owner) {
    if (kind_ > kPromptQuestion) return -1;
    if (g_answerAtOnce) {
        std::fprintf(stderr, "[%s] %s -> %d\n", titleText_ ? titleText_ : "", message_, defaultResult_);
        timedOut_ = true;
        return defaultResult_;
    }
    const int result = DoModal(MainInstance(), dlg::prompt::id, owner);
    return result < 0 ? defaultResult_ : result;
}

bool CDlgPrompt::OnInitDialog() {
    CenterOnScreen();
    const char* defaultTitle = "message";
    if (kind_ == kPromptMessage) {
        gui::ShowWindow(GetItem(gui::IDCANCEL), gui::SW_HIDE);
        CenterOkButton();
        SetItemText(gui::IDOK, Ui("prompt_ok"));
    } else if (kind_ == kPromptConfirm) {
        SetItemText(gui::IDOK, Ui("prompt_ok"));
        SetItemText(gui::IDCANCEL, Ui("prompt_cancel"));
        defaultTitle = "confirm";
    } else {
        SetItemText(gui::IDOK, Ui("prompt_yes"));
        SetItemText(gui::IDCANCEL, Ui("prompt_no"));
        defaultTitle = "prompt";
    }
    if (!titleText_) titleText_ = Ui(defaultTitle);
    SetText(titleText_);
    SetItemText(dlg::prompt::message, message_);
    SetItemText(dlg::prompt::persist, Ui("persist_choice"));
    gui::ShowWindow(GetItem(dlg::prompt::persist), withCheckBox_ ? gui::SW_SHOW : gui::SW_HIDE);

    // A failed item's error code links to its explanation.
    if (QueueItem* item = CurrentListItem()) {
        const int code = item->errorCode.load();
        if (code >= 1 && code <= 18) {
            SetItemText(dlg::prompt::error_link, FormatCount(Ui("prompt_errcode"), code).c_str());
            gui::ShowWindow(GetItem(dlg::prompt::error_link), gui::SW_SHOW);
        }
    } else {
        SelectFirstListRow();
    }

    if (countDown_ > 0) {
        gui::SetTimer(hwnd_, kCountDownTimer, 1000, nullptr);
        timerRunning_ = true;
        TimerStep();
    }
    return true;
}

void CDlgPrompt::TimerStep() {
    std::string title;
    if (titleText_ && *titleText_) title = std::string(titleText_) + " - ";
    title += FormatCount(Ui("prompt_countdown"), countDown_);
    if (title.size() > 255) title.resize(255);
    SetText(title.c_str());
    if (countDown_ > 0) {
        --countDown_;
    } else {
        timedOut_ = true;
        Finish(defaultResult_);
    }
}

void CDlgPrompt::Finish(int result) {
    if (timerRunning_) {
        gui::KillTimer(hwnd_, kCountDownTimer);
        timerRunning_ = false;
    }
    if (hwnd_) gui::EndDialog(hwnd_, result);
}

bool CDlgPrompt::OnTimer(gui::UINT_PTR id) {
    if (id == kCountDownTimer && timerRunning_) TimerStep();
    return true;
}

bool CDlgPrompt::OnCommand(int id, int, HWND) {
    switch (id) {
    case gui::IDOK: Finish(1); break;
    case gui::IDCANCEL: Finish(0); break;
    case dlg::prompt::persist: checked_ = IsChecked(dlg::prompt::persist); break;
    case dlg::prompt::error_link:
        if (QueueItem* item = CurrentListItem()) OpenErrorCodePage(item->errorCode.load());
        Finish(1);
        break;
    default: break;
    }
    return true;
}

bool CDlgPrompt::OnClose() {
    Finish(defaultResult_);
    return false;  // ended above: the dialog goes with the end of its modal loop
}

}  // namespace ui
