#include "support/event_recorder.h"

namespace sqtest {
namespace {

bool CarriesText(int code) {
    switch (code) {
    case kEventConsoleText: case kEventNotice: case kEventCommandLine: case kEventFinalReport:
    case kEventAskYesNoCancel: case kEventAskCountdown: case kEventLogLine: case kEventStatusText:
    case kEventUiCommand:
        return true;
    default:
        return false;
    }
}

}  // namespace

EventRecorder::EventRecorder() : previous_(GetEngineContext()) {
    context_.eventCallback = [this](int code, intptr_t data, int64_t arg) { return onEvent(code, data, arg); };
    SetEngineContext(&context_);
}

EventRecorder::~EventRecorder() { SetEngineContext(previous_); }

int EventRecorder::onEvent(int code, intptr_t data, int64_t arg) {
    std::lock_guard lk(mutex_);
    std::string text;
    if (CarriesText(code) && data) text = reinterpret_cast<const char*>(data);
    events_.push_back({code, text, data, arg});
    for (auto& [c, v] : answers_)
        if (c == code) return v;
    return 0;
}

std::vector<RecordedEvent> EventRecorder::events() const {
    std::lock_guard lk(mutex_);
    return events_;
}

std::vector<std::string> EventRecorder::texts(int code) const {
    std::lock_guard lk(mutex_);
    std::vector<std::string> out;
    for (auto& e : events_)
        if (e.code == code) out.push_back(e.text);
    return out;
}

void EventRecorder::answer(int code, int value) {
    std::lock_guard lk(mutex_);
    answers_.emplace_back(code, value);
}

void EventRecorder::clear() {
    std::lock_guard lk(mutex_);
    events_.clear();
}

}  // namespace sqtest
