#pragma once

#include "common/date_time.h"
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

}  // namespace tovrik::test
