// Installs an engine context whose callback records every event (code, text of data, argument).
// Restores the previous context when it goes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/context.h"

namespace sqtest {

struct RecordedEvent {
    int code;
    std::string text;  // data as text for the text-carrying codes, else empty
    intptr_t data;
    int64_t arg;
};

class EventRecorder {
public:
    EventRecorder();
    ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    EngineContext& context() { return context_; }
    std::vector<RecordedEvent> events() const;
    std::vector<std::string> texts(int code) const;
    // The answer given to every event of this code (default 0).
    void answer(int code, int value);
    void clear();

private:
    int onEvent(int code, intptr_t data, int64_t arg);

    EngineContext context_{};
    EngineContext* previous_;
    mutable std::mutex mutex_;
    std::vector<RecordedEvent> events_;
    std::vector<std::pair<int, int>> answers_;
};

}  // namespace sqtest
