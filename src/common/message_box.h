#pragma once

#include <string>

namespace tovrik {

enum class MessageIcon { None, Critical, Exclamation };

// One modal message box with a single OK button. The window implements it with a real box, the
// command line writes to standard error, tests record what would have been shown. Texts are UTF-8.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box and returns when the user has closed it.
    virtual void Show(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

}  // namespace tovrik
