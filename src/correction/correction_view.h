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
    // Lets the front end handle its pending events once. Returns false when the front end was
    // closed meanwhile: the run then stops at once and touches neither the view nor the
    // connection again (the front end has closed it, which rolls back what was not committed).
    virtual bool ProcessEvents() = 0;
};

}  // namespace tovrik
