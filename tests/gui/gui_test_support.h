#pragma once

#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/message_box.h"
#include "platform/platform.h"

namespace tovrik::test {

// "Now" as the test sets it.
class FixedClock final : public Clock {
public:
    explicit FixedClock(DateTime now) : now_(now) {}
    DateTime Now() const override { return now_; }
    void Set(DateTime now) { now_ = now; }

private:
    DateTime now_;
};

// Records every box instead of showing it; never blocks.
class RecordingBoxes final : public MessageBoxes {
public:
    struct Box {
        std::string Text;
        std::string Caption;
        MessageIcon Icon;
    };
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override {
        Shown.push_back({text, caption, icon});
    }
    std::vector<Box> Shown;
};

}  // namespace tovrik::test
