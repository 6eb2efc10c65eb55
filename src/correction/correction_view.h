#pragma once

#include <string>

namespace tovrik {

// What the correction run shows and changes on its front end: the status label (Label2), the
// progress bar (pbrCount) and the two buttons (cmdStart, cmdEnd).
class CorrectionView {
public:
    virtual ~CorrectionView() = default;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual std::string StatusText() const = 0;
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;
    virtual void SetStartEnabled(bool enabled) = 0;
    virtual void SetEndEnabled(bool enabled) = 0;
    // Lets the front end handle its pending events once. Returns false when the front end is
    // closing: the run then stops at once, rolls back what it has not committed (unless the front
    // end has closed the connection already, which did that) and touches the view no more.
    virtual bool ProcessEvents() = 0;
};

}  // namespace tovrik
